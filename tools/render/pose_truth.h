#pragma once

#include <string>

#include "camera/camera_param.h"
#include "tools/render/camera_path.h"

// The six values Lumeko stores for a frame before smoothing, in key-table
// order: translateX, translateY, translateZ, rotateY, rotateX, rotateZ.
struct KeyValues {
    double translateX, translateY, translateZ;
    double rotateY, rotateX, rotateZ;
};

// The key values of a perfectly estimated pose, computed the way the tracking
// step does: invert the pose, take the angles of the inverse's rotation,
// scale its position by 0.005 and exchange the axes.
KeyValues keyValuesOfPose(const CameraPose& pose);

// What a frame shows of the marker.
struct MarkerView {
    int visible;     // 1 when the whole black square lies in front of the camera and
                     // at least 2 pixels inside every edge of the frame
    double minSide;  // shortest side of the square in the frame, in pixels
    double area;     // area the square covers in the frame, in pixels
    double centreX;  // where the marker centre lands (observed pixels)
    double centreY;
};

// Where marker point (x, y, 0) lands in the frame (observed pixels), and its
// depth in front of the camera.
struct ProjectedPoint {
    double x, y, depth;
};
ProjectedPoint projectMarkerPoint(const CameraParam& camera, const CameraPose& pose, double x,
                                  double y);

// 1 when the rectangle of the z = 0 plane centred on the origin, `halfWidth`
// along x and `halfHeight` along y, lies in front of the camera and at least
// 2 pixels inside every edge of the frame; else 0.
int rectangleInView(const CameraParam& camera, const CameraPose& pose, double halfWidth,
                    double halfHeight);

// Projects the marker's corners and centre through the pose, the camera's
// projection and its distortion (ideal to observed).
MarkerView viewOfMarker(const CameraParam& camera, const CameraPose& pose, double markerWidth);

// What the scene does to the marker in a frame, besides the pose.
struct SceneTruth {
    double borderCovered = 0.0;  // fraction of the black border hidden by discs and boxes
    double blurPx = 0.0;  // longest way a corner of the square travels while the shutter is open
};

// The ground-truth table: one header line, then one line per frame with the
// frame number, the view, the 3x4 pose row by row, the key values and the
// scene's truth.
std::string truthCsvHeader();
std::string truthCsvLine(int frame, const MarkerView& view, const CameraPose& pose,
                         const KeyValues& keys, const SceneTruth& scene);
