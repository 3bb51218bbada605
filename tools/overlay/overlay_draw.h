#pragma once

#include <string>

#include "camera/camera_param.h"
#include "math/matrix.h"
#include "tools/common/image_io.h"
#include "track/key_table.h"

// Drawing the track over a frame: the marker's outline, its axes and a wire
// cube standing on it, seen from the camera of the frame's key row through
// the camera model (the projection matrix, then the lens distortion).

// Colours (red, green, blue) of the drawing, for whoever reads it back.
inline constexpr unsigned char OUTLINE_COLOUR[3] = {255, 0, 255};
inline constexpr unsigned char CUBE_COLOUR[3] = {0, 230, 255};

// Where marker point (x, y, z) (the marker's unit, z out of the marker) lands
// in the frame for the marker-to-camera `pose`: observed pixel coordinates,
// the centre of the top-left pixel at (0, 0). False when it is not in front
// of the camera.
bool projectPoint(const CameraParam& camera, const Pose& pose, const double point[3], double& x,
                  double& y);

// What one frame shows besides the picture.
enum class FrameState { Found, NotFound, NoKey };

// Draws onto `frame` (RGB): for a found row, the drawing from its keys for a
// marker `markerWidth` wide; otherwise "not found" or "no key"; and the
// frame number in the top-left corner. `camera` must be sized to the frame.
void drawOverlay(RgbImage& frame, const CameraParam& camera, const KeyRow* row, double markerWidth,
                 long long frameNumber);
