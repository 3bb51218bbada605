#pragma once

#include "bridge/bridge_storage.h"
#include "image/frame_image.h"

// The working picture's width the frame is reduced towards (by a whole
// factor, at most BRIDGE_SCALE_MAX): points are followed about as well there
// and much faster. Reduced further, a point's window spans so much of a
// large frame that a surface seen ever more or less slanted (a camera rising
// over the floor) draws the points along it: at 1920 x 1080 reduced by 6 the
// bridged camera strayed a tenth of a degree a frame.
inline constexpr int BRIDGE_WORK_WIDTH = 320;
inline constexpr int BRIDGE_SCALE_MAX = 3;
// Side of the square window a point is followed with, and the pyramid's
// levels above a working picture under twice BRIDGE_WORK_WIDTH wide; one more
// for each doubling beyond, so that a point may move as far across the frame
// between two frames whatever its size.
inline constexpr int FOLLOW_WINDOW = 15;
inline constexpr int FOLLOW_LEVELS = 2;
// Most distance, in working pixels, between a point and where following it
// forwards and back again brings it.
inline constexpr float FOLLOW_ROUND_TRIP_MAX = 0.5f;
// Least distance between two points, in working pixels.
inline constexpr int POINT_SPACING = 10;
// Least corner strength a new point must have: the smaller eigenvalue of the
// mean gradient products over its window (grey levels squared per pixel
// squared), so that a plain surface with its noise gives no point.
inline constexpr double CORNER_STRENGTH_MIN = 12.0;

// Each of these calls OpenCV and gives OpenCV's failure (guardOpenCv) when
// it fails; the storage's points are then no longer to be trusted.

// Sizes the storage for frames of width x height.
BridgeStatus prepareFollowing(BridgeStorage& storage, int width, int height);
// Takes `frame` (of the size prepared) as the incoming working picture and
// its pyramid.
BridgeStatus takePicture(BridgeStorage& storage, const FrameImage& frame);
// Follows the points from the base picture into the incoming one, which
// becomes the base, keeping those that pass the round trip and stay inside
// the picture. With `predicted`, each point's search starts where
// storage.followed already puts it (predictPoints), else where it was.
BridgeStatus followPoints(BridgeStorage& storage, bool predicted = false);
// Picks new corners of the base picture (into storage.fresh) away from the
// followed points, strongest first, up to BRIDGE_POINT_MAX in all.
BridgeStatus findFreshCorners(BridgeStorage& storage);
