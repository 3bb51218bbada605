#pragma once

#include "follow/follow_storage.h"
#include "follow/shutter_motion.h"

// Draws the marker as the camera saw each sample pixel while the shutter
// was open: the mean over `steps` moments spread evenly over it of the
// picture's reflectance (at `level`) where the pixel's ray met the marker's
// plane at that moment, under the pose along `pose`'s motion; P the
// camera's projection. With `slopes`, also how that mean changes with the
// twelve fitted values (a turn and a shift of the middle pose, and of the
// motion), through the picture's slope and the ray's way across the plane.
void drawAlongShutter(const MarkerPicture& picture, int level, const double P[3][4],
                      const ShutterPose& pose, int steps, const FollowSample* samples, int count,
                      bool slopes, DrawnSample* drawn);
