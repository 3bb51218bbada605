#include "pose/marker_pose.h"

#include <cmath>

#include "pose/initial_rotation.h"
#include "pose/pose_refine.h"

namespace {

// The marker's four corners in the image, paired with the corners of the
// printed square around `centre`, starting at the pattern's own first corner.
struct SquareCorrespondences {
    ImagePoint image[4];
    double object[4][2];
};

bool validDirection(int direction) {
    return direction >= 0 && direction <= 3;
}

SquareCorrespondences pairCorners(const MarkerSquare& marker, ImagePoint centre, double width) {
    SquareCorrespondences pairs;
    for (int k = 0; k < 4; k++) {
        pairs.image[k] = marker.vertices[arMarkerOrderIndex(marker.direction, k)];
    }
    pairs.object[0][0] = centre.x - width / 2.0;
    pairs.object[0][1] = centre.y + width / 2.0;
    pairs.object[1][0] = centre.x + width / 2.0;
    pairs.object[1][1] = centre.y + width / 2.0;
    pairs.object[2][0] = centre.x + width / 2.0;
    pairs.object[2][1] = centre.y - width / 2.0;
    pairs.object[3][0] = centre.x - width / 2.0;
    pairs.object[3][1] = centre.y - width / 2.0;
    return pairs;
}

// The refined fit: passes in ideal coordinates until the error settles,
// keeping the best pose, then the joint polish. Same contract as
// refinePasses.
PoseFit convergedPasses(const CameraParam& camera, double R[3][3],
                        const SquareCorrespondences& pairs) {
    PoseFit best;
    double bestErr = -1.0;
    for (int pass = 0; pass < POSE_REFINED_LOOP_MAX; pass++) {
        const PoseFit fit = arRefinePoseIdeal(R, pairs.image, pairs.object, 4, camera.mat);
        if (!fit.ok()) {
            return fit;
        }
        arPoseRotation(fit.pose, R);
        const double previous = bestErr;
        if (bestErr < 0.0 || fit.error < bestErr) {
            best = fit;
            bestErr = fit.error;
        }
        if (previous >= 0.0 &&
            std::fabs(previous - fit.error) <= POSE_REFINED_CHANGE_MIN * previous) {
            break;
        }
    }
    const PoseFit polished = arPolishPose(pairs.image, pairs.object, 4, camera.mat, best.pose);
    return polished.ok() ? polished : best;
}

// Up to POSE_LOOP_MAX refinement passes from R, stopping at the first error
// below POSE_ERROR_GOOD; each pass starts from the rotation the previous one
// left. The last pass's fit, or the failure of a pass that could not run.
PoseFit refinePasses(const CameraParam& camera, double R[3][3], const SquareCorrespondences& pairs,
                     const PoseSettings& settings) {
    if (settings.refine) {
        return convergedPasses(camera, R, pairs);
    }
    PoseFit fit;
    for (int pass = 0; pass < POSE_LOOP_MAX; pass++) {
        fit = arRefinePose(R, pairs.image, pairs.object, 4, camera.distFactor, camera.mat);
        if (!fit.ok()) {
            return fit;
        }
        arPoseRotation(fit.pose, R);
        if (fit.error < POSE_ERROR_GOOD) {
            break;
        }
    }
    return fit;
}

// The refinement passes from the rotation of `previous`.
PoseFit poseFromPrevious(const CameraParam& camera, const MarkerSquare& marker,
                         const Pose& previous, ImagePoint centre, double width,
                         const PoseSettings& settings) {
    if (!validDirection(marker.direction)) {
        return poseFailure(PoseStatus::NoStart);
    }
    double R[3][3];
    arPoseRotation(previous, R);
    return refinePasses(camera, R, pairCorners(marker, centre, width), settings);
}

}  // namespace

PoseFit arMarkerPose(const CameraParam& camera, const MarkerSquare& marker, ImagePoint centre,
                     double width, const PoseSettings& settings) {
    double R[3][3];
    if (!validDirection(marker.direction)) {
        return poseFailure(PoseStatus::NoStart);
    }
    // Sides refined onto the edges can give axes perpendicular to rounding,
    // where the plain start fails; the refined fit then starts from the
    // bisecting one.
    if (arInitialRotation(marker, camera.mat, R) != PoseStatus::Ok &&
        (!settings.refine || arInitialRotationBisecting(marker, camera.mat, R) != PoseStatus::Ok)) {
        return poseFailure(PoseStatus::NoStart);
    }
    return refinePasses(camera, R, pairCorners(marker, centre, width), settings);
}

PoseFit arMarkerPoseFallback(const CameraParam& camera, const MarkerSquare& marker,
                             const PoseFit& continued, ImagePoint centre, double width,
                             const PoseSettings& settings) {
    const bool failed = !continued.ok();
    if (settings.refine && !failed && continued.error > POSE_BRANCH_FLOOR) {
        // A small or far square fits two poses; the one continued from the
        // frame before may be the wrong one, chosen where both fitted alike.
        PoseFit mirror =
            arMarkerPoseMirror(camera, marker, continued.pose, centre, width, settings);
        if (mirror.ok() && mirror.error * POSE_BRANCH_RATIO < continued.error) {
            mirror.mirrored = true;
            return mirror;
        }
    }
    if (!failed && !(continued.error > POSE_CONT_ERROR_MAX)) {
        return continued;
    }
    const PoseFit fresh = arMarkerPose(camera, marker, centre, width, settings);
    if (!fresh.ok() || (!failed && !(fresh.error < continued.error))) {
        return continued;
    }
    return fresh;
}

bool arPosesAmbiguous(double error, const PoseFit& mirror) {
    return mirror.ok() &&
           (mirror.error <= POSE_AMBIGUOUS_FLOOR || mirror.error <= POSE_BRANCH_RATIO * error);
}

PoseFit arMarkerPoseCont(const CameraParam& camera, const MarkerSquare& marker,
                         const Pose& previous, ImagePoint centre, double width,
                         const PoseSettings& settings) {
    return arMarkerPoseFallback(camera, marker,
                                poseFromPrevious(camera, marker, previous, centre, width, settings),
                                centre, width, settings);
}

PoseFit arMarkerPoseMirror(const CameraParam& camera, const MarkerSquare& marker, const Pose& pose,
                           ImagePoint centre, double width, const PoseSettings& settings) {
    // Turning the marker half a turn about its own normal, then the whole
    // half a turn about the line of sight v, negates each point's depth
    // along v about the origin: R' = Rv(pi) R Rz(pi), Rv(pi) = 2 v v^T - I.
    double t[3];
    arPoseTranslation(pose, t);
    const double length = std::sqrt(t[0] * t[0] + t[1] * t[1] + t[2] * t[2]);
    if (!(length > 0.0)) {
        return poseFailure(PoseStatus::NoStart);
    }
    const double v[3] = {t[0] / length, t[1] / length, t[2] / length};
    double R[3][3], mirrored[3][3];
    arPoseRotation(pose, R);
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 3; j++) {
            double sum = 0.0;  // (Rv R)[i][j]
            for (int k = 0; k < 3; k++) {
                sum += (2.0 * v[i] * v[k] - (i == k ? 1.0 : 0.0)) * R[k][j];
            }
            // Rz(pi) negates the first two columns.
            mirrored[i][j] = j < 2 ? -sum : sum;
        }
    }
    return poseFromPrevious(camera, marker, arPoseOf(mirrored, t), centre, width, settings);
}

bool arMarkerInFront(const Pose& pose, ImagePoint centre, double width) {
    const double half = width / 2.0;
    for (int k = 0; k < 4; k++) {
        const double x = centre.x + (k == 1 || k == 2 ? half : -half);
        const double y = centre.y + (k < 2 ? half : -half);
        double c[3];
        arPoseApplyPlane(pose, x, y, c);
        if (!(c[2] > 0.0)) {
            return false;
        }
    }
    return true;
}
