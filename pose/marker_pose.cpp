#include "pose/marker_pose.h"

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

// Up to POSE_LOOP_MAX refinement passes from R, stopping at the first error
// below POSE_ERROR_GOOD; each pass starts from the rotation the previous one
// left. Writes `pose` and returns the last error, or returns the pass's
// failure with `pose` untouched when a pass could not run.
double refinePasses(const CameraParam& camera, double R[3][3], const SquareCorrespondences& pairs,
                    double pose[3][4]) {
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
                        double pose[3][4]) {
    if (!validDirection(marker.direction)) {
        return POSE_NO_START;
    }
    double R[3][3];
    for (int j = 0; j < 3; j++) {
        for (int k = 0; k < 3; k++) {
            R[j][k] = previousPose[j][k];
        }
    }
    return refinePasses(camera, R, pairCorners(marker, centre, width), pose);
}

}  // namespace

double arMarkerPose(const CameraParam& camera, const MarkerSquare& marker, ImagePoint centre,
                    double width, double pose[3][4]) {
    double R[3][3];
    if (!validDirection(marker.direction) || arInitialRotation(marker, camera.mat, R) < 0) {
        return POSE_NO_START;
    }
    return refinePasses(camera, R, pairCorners(marker, centre, width), pose);
}

double arMarkerPoseFallback(const CameraParam& camera, const MarkerSquare& marker, double err,
                            ImagePoint centre, double width, double pose[3][4]) {
    const bool failed = err < 0.0;
    if (!failed && !(err > POSE_CONT_ERROR_MAX)) {
        return err;
    }
    double fresh[3][4];
    double freshErr = arMarkerPose(camera, marker, centre, width, fresh);
    if (freshErr < 0.0 || (!failed && !(freshErr < err))) {
        return err;
    }
    for (int j = 0; j < 3; j++) {
        for (int k = 0; k < 4; k++) {
            pose[j][k] = fresh[j][k];
        }
    }
    return freshErr;
}

double arMarkerPoseCont(const CameraParam& camera, const MarkerSquare& marker,
                        const double previousPose[3][4], ImagePoint centre, double width,
                        double pose[3][4]) {
    double err = poseFromPrevious(camera, marker, previousPose, centre, width, pose);
    return arMarkerPoseFallback(camera, marker, err, centre, width, pose);
}
