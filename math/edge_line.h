#pragma once

#include "math/image_point.h"
#include "math/matrix.h"

// The line a*x + b*y + c = 0 in image coordinates, (a, b) a unit normal.
struct EdgeLine {
    double a;
    double b;
    double c;
};

// Where line p meets line q; Singular (corner untouched) when they are
// exactly parallel.
inline MathStatus arIntersectLines(const EdgeLine& p, const EdgeLine& q, ImagePoint* corner) {
    const double w = p.a * q.b - q.a * p.b;
    if (w == 0.0) {
        return MathStatus::Singular;
    }
    corner->x = (p.b * q.c - q.b * p.c) / w;
    corner->y = (q.a * p.c - p.a * q.c) / w;
    return MathStatus::Ok;
}
