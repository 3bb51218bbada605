#pragma once

#include "camera/camera_param.h"
#include "follow/shutter_motion.h"
#include "follow/smear_region.h"

// Most poses coldStarts gives about one band.
inline constexpr int COLD_START_MAX = 40;

// Whether bands `a` and `b` are the two sides of one square's border along
// the smear: parallel, as long as each other, and a side less a band's
// width apart across it. `inwards` then says on which side of `a` the
// square lies, as coldStarts takes it.
bool borderSides(const SmearRegion& a, const SmearRegion& b, double* inwards);

// The poses (and motions over the shutter) a marker `width` wide may have
// whose border left the dark band `region`, the square lying `inwards`
// across it (1 or -1: half a side less the band's width to its left or
// right along the smear): facing the camera at the distance the band's
// length gives, turned as the band is in each quarter turn, tilted by none
// or COLD_TILT either way about the picture's x or y axis, and smeared along
// the band by a whole or half its length. Returns their count, at most
// COLD_START_MAX.
int coldStarts(const SmearRegion& region, double inwards, const CameraParam& camera, double width,
               ShutterPose* out);

// `pose` turned by `quarters` quarter turns in the marker's plane.
Pose quarterTurned(const Pose& pose, int quarters);

// The other pose a small or distant square shows nearly alike: `pose`'s
// normal reflected about the line of sight to its origin (turned half round
// that line), its picture turned back so that its corners land near where
// they did.
Pose mirroredPose(const Pose& pose);
