#pragma once

#include "math/image_point.h"
#include "pose/pose.h"

// Most correspondences per pass (the size of its working arrays).
inline constexpr int POSE_POINT_MAX = 500;
// Sweeps of the rotation search.
inline constexpr int SEARCH_SWEEPS = 10;
// Angle step of the first sweep: 10 degrees.
inline constexpr double SEARCH_START_STEP = 0.17453292519943295;
// Running minimum at the start of every sweep.
inline constexpr double SEARCH_ERROR_START = 1e9;

// One refinement pass from the rotation R: the object points (marker plane,
// z = 0) are centred on their bounding box; then translation, rotation
// search, translation, rotation search run on them, and the translation is
// moved back to the caller's object origin. The fit's pose holds the refined
// rotation and its translation, its error the mean squared reprojection
// error in observed pixels. BadPointCount for n outside 1..POSE_POINT_MAX,
// BrokeDown when the pass cannot be computed: the translation fit is
// singular, a search finds no finite error, or a value of the pose is not
// finite. Its working arrays are on the stack (about 80 KB): it allocates
// nothing, and calls share nothing.
PoseFit arRefinePose(const double R[3][3], const ImagePoint* imagePoints,
                     const double objectPoints[][2], int n, const double distFactor[4],
                     const double P[3][4]);

// The same pass on image points already in the camera's ideal (pinhole)
// coordinates: they are compared with P's projection as they are, with no
// lens model between.
PoseFit arRefinePoseIdeal(const double R[3][3], const ImagePoint* imagePoints,
                          const double objectPoints[][2], int n, const double P[3][4]);

// Most Gauss-Newton steps of arPolishPose, and the relative decrease of the
// error below which it stops.
inline constexpr int POLISH_STEP_MAX = 30;
inline constexpr double POLISH_DECREASE_MIN = 1e-12;

// Moves all six values of `start` together (a small turn about each camera
// axis and the translation) to the least sum of squared distances between
// the image points (ideal coordinates) and P's projection of the object
// points (marker plane, z = 0): damped Gauss-Newton steps, each taken only
// when it lowers the error, until the error stops falling. The fit holds the
// pose it ends at and its mean squared error; BadPointCount for n outside
// 1..POSE_POINT_MAX, BrokeDown when a point lies on or behind the camera.
PoseFit arPolishPose(const ImagePoint* imagePoints, const double objectPoints[][2], int n,
                     const double P[3][4], const Pose& start);

// The same polish for object points anywhere in space (the corners of
// several markers, in the first marker's coordinates): `start` and the fit
// take them to the camera.
PoseFit arPolishPoseSpace(const ImagePoint* imagePoints, const double objectPoints[][3], int n,
                          const double P[3][4], const Pose& start);

// Coarse-to-fine search over the three angles (a, b, c) of R for the fixed t.
// Each of SEARCH_SWEEPS sweeps tries the 27 combinations of -step, 0, +step on
// every angle around the centre and moves the centre to the best (the first
// of equals, in order of a, b, c offsets); the step, SEARCH_START_STEP at
// first, is halved after a sweep whose best is the centre itself. The fit
// holds the best rotation with t and the mean squared error of the last
// sweep. A sweep in which no combination has an error below
// SEARCH_ERROR_START (all of them NaN or infinite, say) ends the search:
// BrokeDown.
PoseFit arSearchRotation(const double R[3][3], const double t[3], const double P[3][4],
                         const double centredPoints[][3], const ImagePoint* observedPoints, int n);
