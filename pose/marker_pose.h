#pragma once

#include "camera/camera_param.h"
#include "math/image_point.h"
#include "pose/marker_square.h"
#include "pose/pose.h"

// Most refinement passes per pose.
inline constexpr int POSE_LOOP_MAX = 5;
// The passes stop as soon as one returns an error strictly below this.
inline constexpr double POSE_ERROR_GOOD = 1.0;
// Continuous mode also tries the first-frame method above this error.
inline constexpr double POSE_CONT_ERROR_MAX = 1.0;

// Most refinement passes of a refined fit, and the relative change of the
// error between two passes below which they stop.
inline constexpr int POSE_REFINED_LOOP_MAX = 10;
inline constexpr double POSE_REFINED_CHANGE_MIN = 1e-3;

// How a pose is fitted. The default is the fit described at each entry point.
struct PoseSettings {
    // Fits the corners (ideal coordinates) to the camera's pinhole projection
    // as they are, instead of moving them through the lens model first; runs
    // the passes, from the same start, until the error changes by less than
    // POSE_REFINED_CHANGE_MIN of itself (at most POSE_REFINED_LOOP_MAX); then
    // polishes the six values together (arPolishPose). The error returned is
    // the mean squared distance in ideal pixels.
    bool refine = false;
};

// Marker-to-camera pose of a square of side `width` centred on `centre`
// (marker coordinates), seen by `camera`, starting from the rotation its edges
// imply. Returns the mean squared reprojection error in pixels, or a negative
// result with `pose` left untouched when no pose can be computed:
// POSE_NO_START for a direction outside 0..3 or edges that give no first
// rotation, POSE_BROKE_DOWN when a refinement pass cannot be computed or a
// value is not finite (pose/pose.h). A pose returned is always finite. Reads
// nothing but its arguments.
double arMarkerPose(const CameraParam& camera, const MarkerSquare& marker, ImagePoint centre,
                    double width, double pose[3][4]);

// Continuous tracking: from the rotation of `previousPose`, falling back to
// arMarkerPose when that fits poorly or fails and keeping the better of the
// two. The same contract as arMarkerPose: a negative result with `pose`
// untouched when neither gives a pose (the continuing one's failure). `previousPose` and `pose` may
// be the same array.
double arMarkerPoseCont(const CameraParam& camera, const MarkerSquare& marker,
                        const double previousPose[3][4], ImagePoint centre, double width,
                        double pose[3][4]);

// The second half of continuous mode: when `err`, the error of `pose`, is
// above POSE_CONT_ERROR_MAX, runs arMarkerPose as well and takes its pose only
// when it succeeds with a strictly smaller error. When `err` is negative (the
// continuing pose failed), takes arMarkerPose's pose whenever it succeeds.
// Returns the error kept: negative, with `pose` untouched, when both failed.
double arMarkerPoseFallback(const CameraParam& camera, const MarkerSquare& marker, double err,
                            ImagePoint centre, double width, double pose[3][4]);

// The three entry points fitted as `settings` say; with the default
// settings each gives exactly what the one above gives.
double arMarkerPose(const CameraParam& camera, const MarkerSquare& marker, ImagePoint centre,
                    double width, double pose[3][4], const PoseSettings& settings);
double arMarkerPoseCont(const CameraParam& camera, const MarkerSquare& marker,
                        const double previousPose[3][4], ImagePoint centre, double width,
                        double pose[3][4], const PoseSettings& settings);
double arMarkerPoseFallback(const CameraParam& camera, const MarkerSquare& marker, double err,
                            ImagePoint centre, double width, double pose[3][4],
                            const PoseSettings& settings);

// The same two entry points on Pose values.
inline double arMarkerPose(const CameraParam& camera, const MarkerSquare& marker, ImagePoint centre,
                           double width, Pose& pose) {
    return arMarkerPose(camera, marker, centre, width, pose.m);
}
inline double arMarkerPoseCont(const CameraParam& camera, const MarkerSquare& marker,
                               const Pose& previousPose, ImagePoint centre, double width,
                               Pose& pose) {
    return arMarkerPoseCont(camera, marker, previousPose.m, centre, width, pose.m);
}
