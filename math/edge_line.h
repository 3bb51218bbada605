#pragma once

// The line a*x + b*y + c = 0 in image coordinates, (a, b) a unit normal.
struct EdgeLine {
    double a;
    double b;
    double c;
};
