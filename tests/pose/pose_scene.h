#pragma once

// A synthetic camera and marker squares projected through it exactly.

#include <cmath>
#include <cstring>
#include <random>

#include "camera/camera_param.h"
#include "camera/distortion.h"
#include "pose/marker_square.h"
#include "pose/pose.h"
#include "pose/pose_projection.h"
#include "pose/rotation_angles.h"

namespace pose_scene {

inline constexpr double PI = 3.141592653589793;
inline constexpr double MARKER_WIDTH = 80.0;

// 640 x 480 camera with a slight skew; `distorted` adds a few percent of radial distortion.
inline CameraParam makeCamera(bool distorted) {
    CameraParam camera{640, 480, {{700, 1.5, 321, 0}, {0, 690, 238, 0}, {0, 0, 1, 0}}, {}};
    const double factors[2][4] = {{320.0, 240.0, 0.0, 1.0}, {316.0, 244.0, 35.0, 0.985}};
    std::memcpy(camera.distFactor, factors[distorted], sizeof camera.distFactor);
    return camera;
}

inline bool samePose(const Pose& a, const Pose& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The rotation of angles (a, b, c) with translation t.
inline Pose makePose(double a, double b, double c, const double t[3]) {
    double R[3][3];
    arAnglesToRotation(a, b, c, R);
    return arPoseOf(R, t);
}

// A marker facing the camera (its z axis at most `maxTilt` from the camera's
// -z axis, b near pi), 300 to 900 units away, seen in the middle of the frame.
inline Pose randomPose(std::mt19937& rng, double maxTilt) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    double z = 300.0 + unit(rng) * 600.0;
    double y = (unit(rng) * 160.0 - 80.0) * z / 690.0;
    double t[3] = {(unit(rng) * 200.0 - 100.0) * z / 700.0, y, z};
    return makePose((unit(rng) * 2 - 1) * PI, PI - unit(rng) * maxTilt, (unit(rng) * 2 - 1) * PI,
                    t);
}

// `pose` with its tilt and turn angles changed by db and dc and a meaningless
// translation: a previous pose for continuous mode.
inline Pose turnedPose(const Pose& pose, double db, double dc) {
    double R[3][3], a, b, c;
    arPoseRotation(pose, R);
    arRotationToAngles(R, &a, &b, &c);
    const double t[3] = {1, 2, 3};
    return makePose(a, b + db, c + dc, t);
}

// Pinhole image of corner k (0..3) of the marker square around (0, 0).
inline ImagePoint projectCorner(const CameraParam& camera, const Pose& pose, int k) {
    const double x = (k == 0 || k == 3 ? -1 : 1) * MARKER_WIDTH / 2.0;
    const double y = (k < 2 ? 1 : -1) * MARKER_WIDTH / 2.0;
    const double corner[3] = {x, y, 0.0};
    return arViewMarkerPoint(camera, pose, corner).ideal;
}

inline EdgeLine lineThrough(ImagePoint p, ImagePoint q) {
    double len = std::hypot(q.x - p.x, q.y - p.y);
    EdgeLine line{(q.y - p.y) / len, (p.x - q.x) / len, 0.0};
    line.c = -(line.a * p.x + line.b * p.y);
    return line;
}

// The square as detection reports it with direction 0: corners in ideal
// coordinates placed so that the lens maps them onto the pinhole image of
// the marker, and the sides through them.
inline MarkerSquare squareOf(const CameraParam& camera, const Pose& pose) {
    MarkerSquare square{};
    for (int k = 0; k < 4; k++) {
        ImagePoint observed = projectCorner(camera, pose, k);
        arObservedToIdeal(camera.distFactor, observed.x, observed.y, &square.vertices[k].x,
                          &square.vertices[k].y);
    }
    for (int k = 0; k < 4; k++)
        square.edgeLines[k] = lineThrough(square.vertices[k], square.vertices[(k + 1) % 4]);
    return square;
}

}  // namespace pose_scene
