#include "follow/shutter_motion.h"

#include <cmath>

#include "pose/rotation_vector.h"

namespace {

// Where the marker point (x, y) lands in ideal pixels under `pose`; false
// behind the camera.
bool project(const Pose& pose, const double P[3][4], double x, double y, double out[2]) {
    double X[3];
    for (int r = 0; r < 3; r++)
        X[r] = pose.m[r][0] * x + pose.m[r][1] * y + pose.m[r][3];
    double h[3];
    for (int r = 0; r < 3; r++)
        h[r] = P[r][0] * X[0] + P[r][1] * X[1] + P[r][2] * X[2] + P[r][3];
    if (!(h[2] > 1e-9))
        return false;
    out[0] = h[0] / h[2];
    out[1] = h[1] / h[2];
    return true;
}

}  // namespace

Pose movePose(const Pose& pose, const double d[6]) {
    double R[3][3], turned[3][3];
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++)
            R[r][c] = pose.m[r][c];
    arTurnRotation(R, d, turned);
    // The translation turns with the camera's axes: t' = exp([w]x) t + shift.
    const double t[3][3] = {{pose.m[0][3], 0, 0}, {pose.m[1][3], 0, 0}, {pose.m[2][3], 0, 0}};
    double tt[3][3];
    arTurnRotation(t, d, tt);
    Pose out;
    for (int r = 0; r < 3; r++) {
        for (int c = 0; c < 3; c++)
            out.m[r][c] = turned[r][c];
        out.m[r][3] = tt[r][0] + d[3 + r];
    }
    return out;
}

Pose poseInShutter(const ShutterPose& pose, double s) {
    const double d[6] = {s * pose.motion.turn[0],  s * pose.motion.turn[1],
                         s * pose.motion.turn[2],  s * pose.motion.shift[0],
                         s * pose.motion.shift[1], s * pose.motion.shift[2]};
    return movePose(pose.middle, d);
}

ShutterMotion motionBetween(const Pose& from, const Pose& to) {
    // to.R = D from.R, so D = to.R from.R^T; to.t = D from.t + shift.
    double D[3][3];
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++)
            D[r][c] =
                to.m[r][0] * from.m[c][0] + to.m[r][1] * from.m[c][1] + to.m[r][2] * from.m[c][2];
    ShutterMotion motion;
    arRotationVector(D, motion.turn);
    for (int r = 0; r < 3; r++)
        motion.shift[r] =
            to.m[r][3] - (D[r][0] * from.m[0][3] + D[r][1] * from.m[1][3] + D[r][2] * from.m[2][3]);
    return motion;
}

ShutterMotion scaledMotion(const ShutterMotion& motion, double factor) {
    ShutterMotion out;
    for (int k = 0; k < 3; k++) {
        out.turn[k] = factor * motion.turn[k];
        out.shift[k] = factor * motion.shift[k];
    }
    return out;
}

double shutterStreak(const ShutterPose& pose, const double P[3][4], double width) {
    const Pose open = poseInShutter(pose, -0.5);
    const Pose close = poseInShutter(pose, 0.5);
    const double h = 0.5 * width;
    const double corners[4][2] = {{-h, h}, {h, h}, {h, -h}, {-h, -h}};
    double longest = 0.0;
    for (const auto& c : corners) {
        double a[2], b[2];
        if (project(open, P, c[0], c[1], a) && project(close, P, c[0], c[1], b))
            longest = std::fmax(longest, std::hypot(b[0] - a[0], b[1] - a[1]));
    }
    return longest;
}
