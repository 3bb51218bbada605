#pragma once

#include "math/image_point.h"
#include "pose/marker_square.h"
#include "pose/pose.h"

// First rotation of a marker from its edges alone: the vanishing points of
// the two pairs of opposite sides, back-projected through the camera matrix
// P, give the marker's x and y axes; they are turned to follow the corner
// order, made perpendicular, and z is their cross product. R's columns are
// the marker's axes in camera coordinates. Ok, or NoStart with R untouched.
PoseStatus arInitialRotation(const MarkerSquare& marker, const double P[3][4], double R[3][3]);

// The same with the axes made perpendicular in closed form (each turned by
// half the deviation towards the other's normal in their plane), which also
// holds when the sides give axes already perpendicular to rounding, where the
// method above can fail; the refined fit's start when that one fails.
PoseStatus arInitialRotationBisecting(const MarkerSquare& marker, const double P[3][4],
                                      double R[3][3]);

// Index into a marker's `vertices` or `edgeLines` of its k-th corner or side
// counted from the pattern's own first corner.
inline int arMarkerOrderIndex(int direction, int k) {
    return (4 + k - direction) % 4;
}
