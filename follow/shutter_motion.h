#pragma once

#include <cmath>

#include "math/matrix.h"

// How the camera moves while the shutter is open, in the camera's axes: it
// turns by the rotation vector `turn` (radians) and shifts by `shift` (marker
// units) from opening to closing, evenly.
struct ShutterMotion {
    double turn[3];
    double shift[3];
};

// Whether `motion` is none at all.
inline bool isStill(const ShutterMotion& motion) {
    for (int k = 0; k < 3; k++)
        if (motion.turn[k] != 0.0 || motion.shift[k] != 0.0)
            return false;
    return true;
}

// The marker's pose at the middle of the shutter (the frame's time) and the
// motion about it.
struct ShutterPose {
    Pose middle;
    ShutterMotion motion;
};

// The pose at shutter time s, from -0.5 (opening) through 0 (the middle) to
// 0.5 (closing): the middle pose turned by s x turn, then shifted by s x shift.
Pose poseInShutter(const ShutterPose& pose, double s);

// The pose moved by the six values d in the camera's axes: turned by the
// rotation vector d[0..2], then shifted by d[3..5].
Pose movePose(const Pose& pose, const double d[6]);

// The motion from pose `from` to pose `to` (to = the motion applied to from).
ShutterMotion motionBetween(const Pose& from, const Pose& to);

// How far the motion turns the camera (radians).
inline double turnAngle(const ShutterMotion& motion) {
    return std::sqrt(motion.turn[0] * motion.turn[0] + motion.turn[1] * motion.turn[1] +
                     motion.turn[2] * motion.turn[2]);
}

// The motion scaled by `factor`.
ShutterMotion scaledMotion(const ShutterMotion& motion, double factor);

// How far (pixels) the corners of a square of `width` centred on the
// marker's origin travel in the picture over the shutter, the longest of the
// four; P the camera's projection.
double shutterStreak(const ShutterPose& pose, const double P[3][4], double width);
