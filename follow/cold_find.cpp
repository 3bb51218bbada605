#include "follow/cold_find.h"

#include <cmath>
#include <iterator>

#include "camera/distortion.h"
#include "pose/rotation_vector.h"

namespace {

// The tilts tried either way about the picture's axes, degrees.
constexpr double COLD_TILT = 30.0;
// Streaks tried, as shares of the band's length.
constexpr double COLD_STREAKS[] = {1.0, 0.5};
// Two bands are one border's sides when their directions lie within about
// 15 degrees and their lengths, and their gap from a side, within this share.
constexpr double COLD_PARALLEL = 0.965;
constexpr double COLD_SIMILAR = 0.3;

// The pose of a marker whose middle lies at `at` (camera axes): facing the
// camera (its picture's y up), turned by `turn` in the picture's plane, then
// turned by the rotation vector `tilt` about the camera's axes.
Pose facingPose(double turn, const double tilt[3], const double at[3]) {
    const double ct = std::cos(turn), st = std::sin(turn);
    const double facing[3][3] = {{ct, st, 0}, {st, -ct, 0}, {0, 0, -1}};
    double R[3][3];
    arTurnRotation(facing, tilt, R);
    Pose pose{};
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 3; j++)
            pose.m[i][j] = R[i][j];
        pose.m[i][3] = at[i];
    }
    return pose;
}

}  // namespace

bool borderSides(const SmearRegion& a, const SmearRegion& b, double* inwards) {
    const double parallel = std::fabs(a.along[0] * b.along[0] + a.along[1] * b.along[1]);
    const double dx = b.centre[0] - a.centre[0], dy = b.centre[1] - a.centre[1];
    const double across = -dx * a.along[1] + dy * a.along[0];
    const double along = dx * a.along[0] + dy * a.along[1];
    const double gap = a.length - 0.5 * (a.across + b.across);
    if (!(parallel > COLD_PARALLEL && std::fabs(b.length - a.length) < COLD_SIMILAR * a.length &&
          std::fabs(std::fabs(across) - gap) < COLD_SIMILAR * a.length &&
          std::fabs(along) < COLD_SIMILAR * a.length))
        return false;
    *inwards = across / (a.length - a.across);
    return true;
}

int coldStarts(const SmearRegion& region, double inwards, const CameraParam& camera, double width,
               ShutterPose* out) {
    // The square's middle, half a side less half the band's width across it.
    const double side = region.length;
    const double reach = inwards * 0.5 * (side - region.across);
    double u, v;
    arObservedToIdeal(camera.distFactor, region.centre[0] - reach * region.along[1],
                      region.centre[1] + reach * region.along[0], &u, &v);
    const double(&P)[3][4] = camera.mat;
    const double direction = std::atan2(region.along[1], region.along[0]);
    const double z = P[0][0] * width / side;
    const double y = ((v - P[1][2]) * z - P[1][3]) / P[1][1];
    const double x = ((u - P[0][2]) * z - P[0][1] * y - P[0][3]) / P[0][0];
    const double at[3] = {x, y, z};
    const double t = COLD_TILT * M_PI / 180.0;
    const double tilts[5][3] = {{0, 0, 0}, {t, 0, 0}, {-t, 0, 0}, {0, t, 0}, {0, -t, 0}};
    int count = 0;
    for (const double streak : COLD_STREAKS) {
        for (int quarter = 0; quarter < 4; quarter++) {
            for (const auto& tilt : tilts) {
                ShutterPose& c = out[count++];
                c.middle = facingPose(direction + 0.5 * M_PI * quarter, tilt, at);
                c.motion = ShutterMotion{};
                c.motion.turn[0] = -streak * side * std::sin(direction) / P[0][0];
                c.motion.turn[1] = streak * side * std::cos(direction) / P[0][0];
            }
        }
    }
    return count;
}

Pose quarterTurned(const Pose& pose, int quarters) {
    const double c = std::cos(0.5 * M_PI * quarters), s = std::sin(0.5 * M_PI * quarters);
    Pose turned = pose;
    for (int i = 0; i < 3; i++) {
        const double r0 = pose.m[i][0], r1 = pose.m[i][1];
        turned.m[i][0] = c * r0 + s * r1;
        turned.m[i][1] = -s * r0 + c * r1;
    }
    return turned;
}

Pose mirroredPose(const Pose& pose) {
    const double length = std::sqrt(pose.m[0][3] * pose.m[0][3] + pose.m[1][3] * pose.m[1][3] +
                                    pose.m[2][3] * pose.m[2][3]);
    const double l[3] = {pose.m[0][3] / length, pose.m[1][3] / length, pose.m[2][3] / length};
    // H = 2 l l' - I turns half round the line of sight; diag(-1, -1, 1)
    // on the marker's side turns its picture back.
    Pose mirrored = pose;
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 3; j++) {
            double v = 0.0;
            for (int k = 0; k < 3; k++)
                v += (2.0 * l[i] * l[k] - (i == k ? 1.0 : 0.0)) * pose.m[k][j];
            mirrored.m[i][j] = j < 2 ? -v : v;
        }
    }
    return mirrored;
}
