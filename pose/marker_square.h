#pragma once

#include "math/edge_line.h"
#include "math/image_point.h"

// What pose estimation needs of a detected square: its corners and sides in
// ideal coordinates, in contour order (side i runs from corner i to corner
// i + 1), and how the matched pattern is turned against that order.
struct MarkerSquare {
    int direction;
    EdgeLine edgeLines[4];
    ImagePoint vertices[4];
};
