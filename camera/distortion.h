#pragma once

// Newton steps taken by arObservedToIdeal; there is no convergence test.
inline constexpr int DISTORTION_ITERATIONS = 3;

// Maps an ideal (undistorted) point to where the lens puts it in the frame.
void arIdealToObserved(const double distFactor[4], double ix, double iy, double* ox, double* oy);

// Maps an observed point back to ideal coordinates with exactly
// DISTORTION_ITERATIONS Newton steps on the radial model.
void arObservedToIdeal(const double distFactor[4], double ox, double oy, double* ix, double* iy);

// The farthest the lens model moves a point of a width x height frame: the
// largest distance between an observed point and its ideal one, over the
// frame's edges (where the radial model moves points most) in steps of at
// most 8 pixels and its corners.
double arLargestLensShift(const double distFactor[4], int width, int height);
