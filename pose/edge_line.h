#pragma once

#include "camera/image_point.h"

// The line a*x + b*y + c = 0 in ideal image coordinates, (a, b) a unit normal.
struct EdgeLine {
    double a;
    double b;
    double c;
};

// What pose estimation needs of a detected square: its corners and sides in
// ideal coordinates, in contour order (side i runs from corner i to corner
// i + 1), and how the matched pattern is turned against that order.
struct MarkerSquare {
    int direction;
    EdgeLine edgeLines[4];
    ImagePoint vertices[4];
};
