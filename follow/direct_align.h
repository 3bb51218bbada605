#pragma once

#include "camera/camera_param.h"
#include "follow/follow_storage.h"
#include "follow/shutter_motion.h"
#include "image/frame_image.h"

// How the drawing lights the marker: evenly (the ink's, the paper's and the
// surroundings' light, each one value) or with each of them sloping
// linearly across the picture.
enum class LightModel { Even, Sloped };

// What an alignment of the drawn marker with a frame ends with.
struct AlignOutcome {
    bool converged = false;  // the steps settled within their limit
    ShutterPose pose{};      // the fitted pose and motion
    double dark = 0.0;       // the light of the ink, of the paper less the ink, and of what lies
    double contrast = 0.0;   //   beyond the drawn paper (linear, 0..1)
    double beyond = 0.0;
    double residual = 0.0;      // the weighted root mean square difference, as a share of contrast
    double inlierShare = 0.0;   // of the samples on the marker, those that count fully or nearly
    double correlation = 0.0;   // weighted, between the drawing and the frame on the marker
    double pictureMatch = 0.0;  // unweighted, the same on the picture inside the border
    double inView = 0.0;        // share of the square inside the frame
    double streak = 0.0;        // the longest way a corner travels over the shutter, pixels
    double side = 0.0;          // the square's mean side at the shutter's middle, pixels
    LightModel light = LightModel::Even;  // how the drawing was lit
    double lightSlope = 0.0;  // sloped: the contrast's change over the samples' spread, share of it
    int samples = 0;
};

// Fits the pose and the motion over the shutter so that the marker drawn
// along that motion (drawAlongShutter) matches the frame's light, from
// `start`: damped Gauss-Newton steps on the differences, coarse (the
// drawing and the samples about 2.5 pixels soft and sparse) then fine,
// with the ink's, the paper's and the surroundings' light fitted in
// closed form at each step, and robust weights (Tukey's, from the median
// difference) so that what covers part of the marker counts little. The
// motion is held near `expected` by a weak pull: the blur shows its size
// and direction, not which way it ran. A fit whose drawing correlates less
// than `coarseMin` with the frame after the coarse steps stops there,
// unconverged: a search that is bound to fail skips the fine steps. The
// drawing is lit as `model` says.
AlignOutcome alignMarker(FollowStorage& storage, const CameraParam& camera, const FrameImage& frame,
                         const ShutterPose& start, const ShutterMotion& expected,
                         double coarseMin = -1.0, LightModel model = LightModel::Even);

// Which of `count` candidate poses and motions (at least one) makes the
// marker drawn along it match the frame best, coarsely (the drawing about
// 2.5 pixels soft, on the samples of the first candidate): a wider reach
// than alignMarker's steps, for a start that may be far off. `explained`,
// when given, gets the share of the samples' variance in light that the best
// drawing explains (0 when none is drawn darker than its paper).
int bestCandidate(FollowStorage& storage, const CameraParam& camera, const FrameImage& frame,
                  const ShutterPose* candidates, int count, double* explained = nullptr);

// The share of a square `width` wide, at `pose`, that lies inside the frame.
double shareInView(const CameraParam& camera, const Pose& pose, double width);
