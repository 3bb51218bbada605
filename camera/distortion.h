#pragma once

// Newton steps taken by arObservedToIdeal; there is no convergence test.
inline constexpr int DISTORTION_ITERATIONS = 3;

// Maps an ideal (undistorted) point to where the lens puts it in the frame.
void arIdealToObserved(const double distFactor[4], double ix, double iy, double* ox, double* oy);

// Maps an observed point back to ideal coordinates with exactly
// DISTORTION_ITERATIONS Newton steps on the radial model.
void arObservedToIdeal(const double distFactor[4], double ox, double oy, double* ix, double* iy);
