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

void copyPose(const double from[3][4], double to[3][4]) {
    for (int j = 0; j < 3; j++) {
        for (int k = 0; k < 4; k++) {
            to[j][k] = from[j][k];
        }
    }
}

// The refined fit: passes in ideal coordinates until the error settles,
// keeping the best pose, then the joint polish. Same contract as
// refinePasses.
double convergedPasses(const CameraParam& camera, double R[3][3],
                       const SquareCorrespondences& pairs, double pose[3][4]) {
    double refined[3][4];
    double best[3][4];
    double bestErr = -1.0;
    for (int pass = 0; pass < POSE_REFINED_LOOP_MAX; pass++) {
        const double err = arRefinePoseIdeal(R, pairs.image, pairs.object, 4, refined, camera.mat);
        if (err < 0.0) {
            return err;
        }
        const double previous = bestErr;
        if (bestErr < 0.0 || err < bestErr) {
            copyPose(refined, best);
            bestErr = err;
        }
        if (previous >= 0.0 && std::fabs(previous - err) <= POSE_REFINED_CHANGE_MIN * previous) {
            break;
        }
    }
    const double polished = arPolishPose(pairs.image, pairs.object, 4, camera.mat, best);
    if (polished >= 0.0) {
        bestErr = polished;
    }
    copyPose(best, pose);
    return bestErr;
}

// Up to POSE_LOOP_MAX refinement passes from R, stopping at the first error
// below POSE_ERROR_GOOD; each pass starts from the rotation the previous one
// left. Writes `pose` and returns the last error, or returns the pass's
// failure with `pose` untouched when a pass could not run.
double refinePasses(const CameraParam& camera, double R[3][3], const SquareCorrespondences& pairs,
                    double pose[3][4], const PoseSettings& settings) {
    if (settings.refine) {
        return convergedPasses(camera, R, pairs, pose);
    }
    double refined[3][4];
    double err = -1.0;
    for (int pass = 0; pass < POSE_LOOP_MAX; pass++) {
        err = arRefinePose(R, pairs.image, pairs.object, 4, refined, camera.distFactor, camera.mat);
        if (err < 0.0) {
            return err;
        }
        if (err < POSE_ERROR_GOOD) {
            break;
        }
    }
    for (int j = 0; j < 3; j++) {
        for (int k = 0; k < 4; k++) {
            pose[j][k] = refined[j][k];
        }
    }
    return err;
}

// The refinement passes from the rotation of `previousPose`.
double poseFromPrevious(const CameraParam& camera, const MarkerSquare& marker,
                        const double previousPose[3][4], ImagePoint centre, double width,
                        double pose[3][4], const PoseSettings& settings) {
    if (!validDirection(marker.direction)) {
        return POSE_NO_START;
    }
    double R[3][3];
    for (int j = 0; j < 3; j++) {
        for (int k = 0; k < 3; k++) {
            R[j][k] = previousPose[j][k];
        }
    }
    return refinePasses(camera, R, pairCorners(marker, centre, width), pose, settings);
}

}  // namespace

double arMarkerPose(const CameraParam& camera, const MarkerSquare& marker, ImagePoint centre,
                    double width, double pose[3][4], const PoseSettings& settings) {
    double R[3][3];
    if (!validDirection(marker.direction)) {
        return POSE_NO_START;
    }
    // Sides refined onto the edges can give axes perpendicular to rounding,
    // where the plain start fails; the refined fit then starts from the
    // bisecting one.
    if (arInitialRotation(marker, camera.mat, R) < 0 &&
        (!settings.refine || arInitialRotationBisecting(marker, camera.mat, R) < 0)) {
        return POSE_NO_START;
    }
    return refinePasses(camera, R, pairCorners(marker, centre, width), pose, settings);
}

double arMarkerPoseFallback(const CameraParam& camera, const MarkerSquare& marker, double err,
                            ImagePoint centre, double width, double pose[3][4],
                            const PoseSettings& settings) {
    const bool failed = err < 0.0;
    if (!failed && !(err > POSE_CONT_ERROR_MAX)) {
        return err;
    }
    double fresh[3][4];
    double freshErr = arMarkerPose(camera, marker, centre, width, fresh, settings);
    if (freshErr < 0.0 || (!failed && !(freshErr < err))) {
        return err;
    }
    copyPose(fresh, pose);
    return freshErr;
}

double arMarkerPoseCont(const CameraParam& camera, const MarkerSquare& marker,
                        const double previousPose[3][4], ImagePoint centre, double width,
                        double pose[3][4], const PoseSettings& settings) {
    double err = poseFromPrevious(camera, marker, previousPose, centre, width, pose, settings);
    return arMarkerPoseFallback(camera, marker, err, centre, width, pose, settings);
}

double arMarkerPose(const CameraParam& camera, const MarkerSquare& marker, ImagePoint centre,
                    double width, double pose[3][4]) {
    return arMarkerPose(camera, marker, centre, width, pose, PoseSettings{});
}

double arMarkerPoseFallback(const CameraParam& camera, const MarkerSquare& marker, double err,
                            ImagePoint centre, double width, double pose[3][4]) {
    return arMarkerPoseFallback(camera, marker, err, centre, width, pose, PoseSettings{});
}

double arMarkerPoseCont(const CameraParam& camera, const MarkerSquare& marker,
                        const double previousPose[3][4], ImagePoint centre, double width,
                        double pose[3][4]) {
    return arMarkerPoseCont(camera, marker, previousPose, centre, width, pose, PoseSettings{});
}
