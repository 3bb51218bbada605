#pragma once

#include "bridge/bridge_storage.h"
#include "camera/camera_param.h"
#include "math/image_point.h"
#include "math/matrix.h"

// How a pose maps the marker's plane (z = 0, marker units) to the frame's
// ideal coordinates and back: the pose's plane homography through the
// camera (arPlaneHomography) and its inverse.
struct PlaneMap {
    double toIdeal[3][3];
    double toPlane[3][3];
};

// The map of `pose` seen by `camera`; EdgeOn when the plane is seen edge-on
// (the homography has no inverse).
BridgeStatus planeMapOfPose(const CameraParam& camera, const Pose& pose, PlaneMap& map);
// Where a point of the plane lands in ideal coordinates; BehindCamera when
// it lies on or behind the camera.
BridgeStatus planeToIdeal(const PlaneMap& map, cv::Point2d planePoint, ImagePoint* ideal);
// Where the ray through an ideal point meets the plane; BehindCamera when it
// meets it behind the camera (or not at all).
BridgeStatus idealToPlane(const PlaneMap& map, ImagePoint ideal, cv::Point2d* planePoint);
// A point of the working picture in the frame's ideal coordinates: its
// observed pixel with the camera's lens distortion undone.
ImagePoint idealOfWork(const BridgeStorage& storage, const CameraParam& camera,
                       cv::Point2f workPoint);

// Where each followed point should be in the frame `pose` was fitted to:
// its place on the plane seen through the pose, in working pixels, into
// storage.followed (where it is now, for a place the pose cannot map).
// EdgeOn (nothing predicted) when the pose sees the plane edge-on.
BridgeStatus predictPoints(BridgeStorage& storage, const CameraParam& camera, const Pose& pose);

// Most poses a point's place averages: later poses still move it by at least
// 1/PLANE_WEIGHT_MAX of their difference.
inline constexpr int PLANE_WEIGHT_MAX = 10;

// Least number of frames between two pickings of new points.
inline constexpr int FILL_INTERVAL = 5;
// Fewer points than this in a bridged frame: new ones are picked at once.
inline constexpr int FILL_URGENT_BELOW = 40;

// Least angle, in degrees, between the plane and the line of sight to a new
// point. Where the sight meets the plane at a grazing angle, a pixel's error
// moves the place far along it; and whatever stands up from the plane (a
// wall, a box) lies on sights that meet the plane beyond it, further than
// anything of the plane in view and so more grazing: placed there, such
// points draw a bridged camera rising from the floor to a wall degrees off.
inline constexpr double PLACE_SIGHT_MIN_DEGREES = 25.0;

// Checks and places the followed points with a pose of this frame: a point
// placed before that lands more than `tolerance` ideal pixels from where it
// was followed to leaves (it is not on the plane, or was followed astray);
// the others move their place towards the one the pose gives. Without
// `placeFollowed` (a pose fitted to the points themselves) the followed
// points stay as they are. Then, when fewer than `fillBelow` points remain,
// new ones are picked away from them and placed, those whose sight meets
// the plane at PLACE_SIGHT_MIN_DEGREES or more (at most once every
// FILL_INTERVAL frames, but at once for a pose fitted to fewer than
// FILL_URGENT_BELOW points). EdgeOn (nothing changed) when the pose gives no
// map; OpenCV's failure when picking new points fails.
BridgeStatus anchorPoints(BridgeStorage& storage, const CameraParam& camera, const Pose& pose,
                          double tolerance, int fillBelow, bool placeFollowed);
