#pragma once

#include "bridge/bridge_storage.h"
#include "camera/camera_param.h"
#include "math/image_point.h"
#include "math/matrix.h"

// How a pose maps the marker's plane (z = 0, marker units) to the frame's
// ideal coordinates and back: the camera's projection matrix P times the
// pose's first two columns and its translation.
struct PlaneMap {
    double toIdeal[3][3];
    double toPlane[3][3];
};

// The map of `pose` seen through P; false when the plane is seen edge-on.
bool planeMapOfPose(const double P[3][4], const Pose& pose, PlaneMap& map);
// Where a plane point lands in ideal coordinates; false when it lies on or
// behind the camera.
bool planeToIdeal(const PlaneMap& map, double x, double y, ImagePoint* ideal);
// Where the ray through an ideal point meets the plane; false when it meets
// it behind the camera (or not at all).
bool idealToPlane(const PlaneMap& map, ImagePoint ideal, double* x, double* y);
// The frame point (observed pixels) of a point in the working picture in
// ideal coordinates, through the camera's lens model.
ImagePoint idealOfWork(const BridgeStorage& s, const CameraParam& camera, cv::Point2f p);

// Most poses a point's place averages: later poses still move it by at least
// 1/PLANE_WEIGHT_MAX of their difference.
inline constexpr int PLANE_WEIGHT_MAX = 10;

// Least number of frames between two pickings of new points.
inline constexpr int FILL_INTERVAL = 5;

// Checks and places the followed points with a pose of this frame: a point
// placed before that lands more than `tolerance` ideal pixels from where it
// was followed to leaves (it is not on the plane, or was followed astray);
// the others move their place towards the one the pose gives. Without
// `placeFollowed` (a pose fitted to the points themselves) the followed
// points stay as they are. Then, when fewer than `fillBelow` points remain,
// new ones are picked away from them and placed (at most once every
// FILL_INTERVAL frames). Returns false (and changes
// nothing) when the pose gives no map.
bool anchorPoints(BridgeStorage& s, const CameraParam& camera, const Pose& pose, double tolerance,
                  int fillBelow, bool placeFollowed);
