#pragma once

#include "math/image_point.h"
#include "math/matrix.h"

// Capacity of the working buffers, hence the most correspondences per pass.
inline constexpr int POSE_POINT_MAX = 500;
// Sweeps of the rotation search.
inline constexpr int SEARCH_SWEEPS = 10;
// Angle step of the first sweep: 10 degrees.
inline constexpr double SEARCH_START_STEP = 0.17453292519943295;
// Running minimum at the start of every sweep.
inline constexpr double SEARCH_ERROR_START = 1e9;

// The normal equations of the translation fit, created once per pass:
// A (2n x 3), At (3 x 2n), b (2n x 1), N (3 x 3), d (3 x 1), e (3 x 1).
struct TranslationSystem {
    Matrix* A;
    Matrix* At;
    Matrix* b;
    Matrix* N;
    Matrix* d;
    Matrix* e;
};

// One refinement pass: the object points (marker plane, z = 0) are centred on
// their bounding box, the pass runs on them, and the translation is moved
// back to the caller's object origin. R is refined in place and the whole
// pose written. Returns the mean squared reprojection error in observed
// pixels, or -1.0 with R and pose untouched when n is outside
// 1..POSE_POINT_MAX or the matrices cannot be allocated.
double arRefinePose(double R[3][3], const ImagePoint* imagePoints, const double objectPoints[][2],
                    int n, double pose[3][4], const double distFactor[4], const double P[3][4]);

// The pass itself on centred object points (x, y, z): translation, rotation
// search, translation, rotation search. Same results as arRefinePose.
double arRefinePoseCentred(double R[3][3], const ImagePoint* imagePoints,
                           const double centredPoints[][3], int n, double pose[3][4],
                           const double distFactor[4], const double P[3][4]);

// Least-squares translation t for the fixed rotation R, from the observed
// image points, in the matrices of `system` (sized for n points).
void arSolveTranslation(const double R[3][3], const double centredPoints[][3],
                        const ImagePoint* observedPoints, int n, const double P[3][4],
                        TranslationSystem& system, double t[3]);

// Coarse-to-fine search over the three angles of R for the fixed t; R is
// replaced by the best rotation and the mean squared error of the last sweep
// is returned.
double arSearchRotation(double R[3][3], const double t[3], const double P[3][4],
                        const double centredPoints[][3], const ImagePoint* observedPoints, int n);

// M = P * [R(a, b, c) | t].
int arComposeProjection(double a, double b, double c, const double t[3], const double P[3][4],
                        double M[3][4]);
