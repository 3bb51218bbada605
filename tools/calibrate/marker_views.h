#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "camera/camera_param.h"
#include "image/frame_image.h"
#include "tools/calibrate/board_views.h"
#include "tools/calibrate/camera_fit.h"

class Detector;
struct EdgeRefineStorage;

// The printed marker's corners in its own plane, for a marker `width` wide
// centred on the origin (x right, y up on the printed marker): the top-left
// corner of its picture as printed first, then top right, bottom right,
// bottom left, as the pose fit pairs them.
std::vector<TargetPoint> markerTargetPoints(double width);

// What became of the marker in one frame.
enum class MarkerSight {
    Found,       // the marker and its four corners to a fraction of a pixel
    NotFound,    // not seen, or not identified with a confidence of 0.5
    NotRefined,  // seen, but not all four sides could be measured on the grey edge
};

// Finds one marker in frames of one size as Lumeko's --best detects it (the
// fixed threshold, then local thresholds and ones chosen from the frame, any
// marker size, dented sides taken) and its sides on the grey-level edge,
// measured until the corners settle. Each frame is a view of its own: nothing
// carries over from the frames before.
class MarkerFinder {
  public:
    // For frames of width x height. Null with `error` set when the pattern
    // cannot be loaded or memory runs out.
    static std::unique_ptr<MarkerFinder> create(const std::string& patternPath, int width,
                                                int height, std::string& error);
    ~MarkerFinder();

    // The marker's corners in the frame (observed pixels), in the order of
    // markerTargetPoints, when it is Found.
    MarkerSight find(const FrameImage& frame, std::vector<BoardCorner>& corners);

  private:
    MarkerFinder() = default;
    std::unique_ptr<Detector> detector;
    std::unique_ptr<EdgeRefineStorage> refineStorage;
    int patternId = -1;
};

// What fitMarkerCamera fitted besides the focal length.
struct FittedModel {
    bool principalPoint = false;  // else the middle of the frame
    bool distortion = false;      // else none
};

// A distortion is kept when it lies at least this many of its sigmas from 0.
inline constexpr double DISTORTION_SIGNIFICANCE = 3.0;
// Most rounds of taking the bent sides' shift off the corners.
inline constexpr int BENT_SIDE_ROUNDS = 8;

// The camera from the corners of a marker `markerWidth` wide in `views` of
// width x height frames, as MarkerFinder gives them through a lens without
// distortion: fitOneFocalLength, then, when `allowDistortion`, the same with
// a distortion. A distorted lens bends the marker's sides, so that the
// corners where lines fitted to them meet lie off the corners' images,
// towards where a lens without distortion would put them; the shift the
// fitted lens gives (bentSideShifts) is taken off the corners and the camera
// fitted again, until the distortion settles. The distortion is kept when it
// lies DISTORTION_SIGNIFICANCE sigmas from none. 0, or -1 with `error` set.
int fitMarkerCamera(double markerWidth, const std::vector<std::vector<BoardCorner>>& views,
                    int width, int height, bool allowDistortion, FitResult& result,
                    FittedModel& model, std::string& error);

// Where lines fitted to the marker's sides, as `lens` shows them with the
// marker at `pose` (angle-axis rotation, translation), meet, less where the
// lens shows its corners: in the order of markerTargetPoints.
std::array<BoardCorner, 4> bentSideShifts(const CameraParam& lens, double markerWidth,
                                          const std::array<double, 6>& pose);
