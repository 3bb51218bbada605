#pragma once

#include "math/image_point.h"
#include "pose/marker_square.h"

// Depth at which the start corner of an edge is back-projected to test which
// way an axis points.
inline constexpr double ORIENT_DEPTH = 10.0;

// First rotation of a marker from its edges alone: the vanishing points of
// the two pairs of opposite sides, back-projected through the camera matrix
// P, give the marker's x and y axes; they are turned to follow the corner
// order, made perpendicular, and z is their cross product. R's columns are
// the marker's axes in camera coordinates. 0, or -1 with R untouched.
int arInitialRotation(const MarkerSquare& marker, const double P[3][4], double R[3][3]);

// Turns `axis` round when its image runs against the edge from `start` to
// `end` (ideal coordinates). -1 when a test point projects to infinity.
int arOrientAxis(double axis[3], ImagePoint start, ImagePoint end, const double P[3][4]);

// Makes the unit axes X and Y exactly perpendicular, turning each by half the
// deviation from a right angle inside their plane. 0, or -1 with both untouched.
int arOrthogonaliseAxes(double X[3], double Y[3]);

// Index into a marker's `vertices` or `edgeLines` of its k-th corner or side
// counted from the pattern's own first corner.
inline int arMarkerOrderIndex(int direction, int k) {
    return (4 + k - direction) % 4;
}
