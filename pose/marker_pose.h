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

// A refined continuing fit whose error (squared pixels) is above
// POSE_BRANCH_FLOOR gives way to its mirror pose (arMarkerPoseMirror) when
// that fits POSE_BRANCH_RATIO times better.
inline constexpr double POSE_BRANCH_FLOOR = 0.05;
inline constexpr double POSE_BRANCH_RATIO = 4.0;

// Whether a refined fit's `mirror` fits nearly as well as the fit (`error`):
// no better than POSE_BRANCH_RATIO times worse, or within
// POSE_AMBIGUOUS_FLOOR, half a pixel root mean square (a small marker's
// corners are pulled that far by noise or a shadow's edge over them, which
// can favour the wrong pose many times over). Either pose may be the right
// one.
inline constexpr double POSE_AMBIGUOUS_FLOOR = 0.25;
bool arPosesAmbiguous(double error, const PoseFit& mirror);

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
// imply: the pose and its mean squared reprojection error in pixels. NoStart
// for a direction outside 0..3 or edges that give no first rotation,
// BrokeDown when a refinement pass cannot be computed or a value is not
// finite. A pose given is always finite. Reads nothing but its arguments.
PoseFit arMarkerPose(const CameraParam& camera, const MarkerSquare& marker, ImagePoint centre,
                     double width, const PoseSettings& settings = {});

// Continuous tracking: the refinement passes from the rotation of `previous`,
// then arMarkerPoseFallback. Fails only when neither gives a pose, with the
// continuing fit's status.
PoseFit arMarkerPoseCont(const CameraParam& camera, const MarkerSquare& marker,
                         const Pose& previous, ImagePoint centre, double width,
                         const PoseSettings& settings = {});

// The second half of continuous mode: a refined continuing fit first gives
// way to its mirror pose where that fits much better (POSE_BRANCH_RATIO;
// the fit given says `mirrored`);
// then, when the continuing fit's error is above POSE_CONT_ERROR_MAX, runs arMarkerPose as well and
// takes its fit only when it succeeds with a strictly smaller error; when the continuing fit
// failed, takes arMarkerPose's whenever it succeeds. Otherwise `continued`.
PoseFit arMarkerPoseFallback(const CameraParam& camera, const MarkerSquare& marker,
                             const PoseFit& continued, ImagePoint centre, double width,
                             const PoseSettings& settings = {});

// The other pose a small or distant square fits nearly as well: `pose`
// mirrored about the line of sight to the marker's origin (its normal
// reflected about that line, the square's corners landing where they did),
// then refined from there as arMarkerPoseCont refines from a previous pose,
// without its fallback. Fails as those passes fail.
PoseFit arMarkerPoseMirror(const CameraParam& camera, const MarkerSquare& marker, const Pose& pose,
                           ImagePoint centre, double width, const PoseSettings& settings = {});

// Whether the four corners of the square of side `width` centred on `centre`
// lie in front of the camera under `pose` (every depth above 0). The mirror
// of a right pose, every depth negated, projects onto the same picture.
bool arMarkerInFront(const Pose& pose, ImagePoint centre, double width);
