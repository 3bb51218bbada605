#pragma once

#include "math/image_point.h"
#include "pose/marker_square.h"

// Most refinement passes per pose.
inline constexpr int POSE_LOOP_MAX = 5;
// The passes stop as soon as one returns an error strictly below this.
inline constexpr double POSE_ERROR_GOOD = 1.0;
// Continuous mode also tries the first-frame method above this error.
inline constexpr double POSE_CONT_ERROR_MAX = 1.0;

// Marker-to-camera pose of a square of side `width` centred on `centre`
// (marker coordinates), starting from the rotation its edges imply. Returns
// the mean squared reprojection error in pixels, or -1.0 with `pose` left
// untouched when no pose can be computed. Uses the current camera.
double arMarkerPose(const MarkerSquare& marker, ImagePoint centre, double width, double pose[3][4]);

// The same, starting from the rotation of `previousPose`; cannot fail.
double arMarkerPoseFromPrevious(const MarkerSquare& marker, const double previousPose[3][4],
                                ImagePoint centre, double width, double pose[3][4]);

// The second half of continuous mode: when `err`, the error of `pose`, is
// above POSE_CONT_ERROR_MAX, runs arMarkerPose as well and takes its pose only
// when it succeeds with a strictly smaller error. Returns the error kept.
double arMarkerPoseFallback(const MarkerSquare& marker, double err, ImagePoint centre, double width,
                            double pose[3][4]);

// Continuous tracking: from the previous rotation, falling back to
// arMarkerPose when that fits poorly and keeping the better of the two.
// `previousPose` and `pose` may be the same array.
double arMarkerPoseCont(const MarkerSquare& marker, const double previousPose[3][4],
                        ImagePoint centre, double width, double pose[3][4]);
