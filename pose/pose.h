#pragma once

#include "math/matrix.h"

// How a pose step ended.
enum class PoseStatus {
    Ok,
    // The marker gives no pose to start from: a direction outside 0..3, or
    // edges without a first rotation.
    NoStart,
    // The computation broke down on the way: a singular translation fit, a
    // rotation search without a finite error, a point on or behind the
    // camera, or a value that is not finite.
    BrokeDown,
    // A point count outside 1..POSE_POINT_MAX, the passes' working arrays.
    BadPointCount,
};

// What a pose fit gives: with PoseStatus::Ok a finite pose and its error (the
// mean squared reprojection error in pixels); otherwise the status alone.
struct PoseFit {
    PoseStatus status = PoseStatus::BrokeDown;
    Pose pose{};
    double error = 0.0;
    bool mirrored = false;  // a continued fit that gave way to its mirror pose

    bool ok() const { return status == PoseStatus::Ok; }
};

// A fit that failed with `status`.
inline PoseFit poseFailure(PoseStatus status) {
    return PoseFit{status, Pose{}, 0.0};
}
