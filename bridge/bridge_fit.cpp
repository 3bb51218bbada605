#include "bridge/bridge_fit.h"

#include <algorithm>
#include <cmath>
#include <opencv2/calib3d.hpp>

#include "bridge/plane_anchor.h"
#include "pose/pose_refine.h"

namespace {

// How many points agree with a pose, and the root mean square of their
// distances; EdgeOn when the pose gives no map of the plane.
struct Agreement {
    BridgeStatus status;
    int count;
    double rms;
};

// Marks in storage.inlier the points lying within `distance` of where
// `pose` puts them.
Agreement markAgreeing(BridgeStorage& storage, const CameraParam& camera, const Pose& pose,
                       double distance) {
    PlaneMap map;
    storage.inlier.assign(storage.at.size(), 0);
    const BridgeStatus mapped = planeMapOfPose(camera, pose, map);
    if (mapped != BridgeStatus::Ok)
        return {mapped, 0, 0.0};
    int count = 0;
    double sum = 0.0;
    for (size_t i = 0; i < storage.at.size(); i++) {
        ImagePoint expected;
        if (planeToIdeal(map, storage.plane[i], &expected) != BridgeStatus::Ok)
            continue;
        const ImagePoint& ideal = storage.fitImage[i];
        const double d2 = (expected.x - ideal.x) * (expected.x - ideal.x) +
                          (expected.y - ideal.y) * (expected.y - ideal.y);
        if (d2 > distance * distance)
            continue;
        storage.inlier[i] = 1;
        sum += d2;
        count++;
    }
    return {BridgeStatus::Ok, count, count > 0 ? std::sqrt(sum / count) : 0.0};
}

// arPolishPose on the marked points, from `start`.
PoseFit polishOnAgreeing(const BridgeStorage& storage, const CameraParam& camera,
                         const Pose& start) {
    int n = 0;
    static_assert(BRIDGE_POINT_MAX <= POSE_POINT_MAX);
    ImagePoint image[BRIDGE_POINT_MAX];
    double object[BRIDGE_POINT_MAX][2];
    for (size_t i = 0; i < storage.at.size(); i++) {
        if (!storage.inlier[i])
            continue;
        image[n] = storage.fitImage[i];
        object[n][0] = storage.plane[i].x;
        object[n][1] = storage.plane[i].y;
        n++;
    }
    return arPolishPose(image, object, n, camera.mat, start);
}

// The box of the marked points spans at least `share` of the picture both ways.
bool spreadEnough(const BridgeStorage& storage, double share) {
    float x0 = 1e9f, y0 = 1e9f, x1 = -1e9f, y1 = -1e9f;
    for (size_t i = 0; i < storage.at.size(); i++) {
        if (!storage.inlier[i])
            continue;
        x0 = std::min(x0, storage.at[i].x);
        x1 = std::max(x1, storage.at[i].x);
        y0 = std::min(y0, storage.at[i].y);
        y1 = std::max(y1, storage.at[i].y);
    }
    return x1 - x0 >= share * storage.workSize.width && y1 - y0 >= share * storage.workSize.height;
}

// Each followed point's ideal coordinates (storage.fitImage) and, as floats
// for OpenCV, its place on the plane and its ideal point.
void collectPoints(BridgeStorage& storage, const CameraParam& camera) {
    storage.planePoints.clear();
    storage.idealPoints.clear();
    storage.fitImage.clear();
    for (size_t i = 0; i < storage.at.size(); i++) {
        const ImagePoint ideal = idealOfWork(storage, camera, storage.at[i]);
        storage.fitImage.push_back(ideal);
        storage.planePoints.emplace_back(static_cast<float>(storage.plane[i].x),
                                         static_cast<float>(storage.plane[i].y));
        storage.idealPoints.emplace_back(static_cast<float>(ideal.x), static_cast<float>(ideal.y));
    }
}

// The planar pose of the plane's homography that most points agree with
// (their marks in storage.inlier): TooFewPoints when fewer than pointsMin
// agree with it, NoPlane when there is none.
BridgeStatus planarStart(BridgeStorage& storage, const CameraParam& camera, double distance,
                         int pointsMin, Pose* pose) {
    const double(&projection)[3][4] = camera.mat;
    const cv::Matx33d cameraMatrix(projection[0][0], projection[0][1], projection[0][2],
                                   projection[1][0], projection[1][1], projection[1][2],
                                   projection[2][0], projection[2][1], projection[2][2]);
    return guardOpenCv([&] {
        if (cv::findHomography(storage.planePoints, storage.idealPoints, cv::RANSAC, distance,
                               storage.inlier, 500, 0.995)
                .empty())
            return BridgeStatus::NoPlane;
        storage.objectPoints.clear();
        storage.inlierPoints.clear();
        for (size_t i = 0; i < storage.at.size(); i++) {
            if (!storage.inlier[i])
                continue;
            storage.objectPoints.emplace_back(storage.planePoints[i].x, storage.planePoints[i].y,
                                              0.0f);
            storage.inlierPoints.push_back(storage.idealPoints[i]);
        }
        if (static_cast<int>(storage.objectPoints.size()) < pointsMin)
            return BridgeStatus::TooFewPoints;
        cv::Vec3d rvec, tvec;
        if (!cv::solvePnP(storage.objectPoints, storage.inlierPoints, cameraMatrix, cv::noArray(),
                          rvec, tvec, false, cv::SOLVEPNP_IPPE))
            return BridgeStatus::NoPlane;
        cv::Matx33d rotation;
        cv::Rodrigues(rvec, rotation);
        const double R[3][3] = {{rotation(0, 0), rotation(0, 1), rotation(0, 2)},
                                {rotation(1, 0), rotation(1, 1), rotation(1, 2)},
                                {rotation(2, 0), rotation(2, 1), rotation(2, 2)}};
        const double t[3] = {tvec[0], tvec[1], tvec[2]};
        *pose = arPoseOf(R, t);
        return BridgeStatus::Ok;
    });
}

}  // namespace

BridgeFit fitBridgePose(BridgeStorage& storage, const CameraParam& camera,
                        const BridgeLimits& limits) {
    const int n = static_cast<int>(storage.at.size());
    const auto failure = [n](BridgeStatus status) { return BridgeFit{status, Pose{}, 0.0, n}; };
    if (n < limits.pointsMin)
        return failure(BridgeStatus::TooFewPoints);
    collectPoints(storage, camera);
    const double distance = limits.inlierDistance * storage.scale;
    Pose pose{};
    const BridgeStatus started = planarStart(storage, camera, distance, limits.pointsMin, &pose);
    if (started != BridgeStatus::Ok)
        return failure(started);
    // Polished on the points that agree with it, twice.
    for (int pass = 0; pass < 2; pass++) {
        const Agreement agreement = markAgreeing(storage, camera, pose, distance);
        if (agreement.status != BridgeStatus::Ok)
            return failure(agreement.status);
        if (agreement.count < limits.pointsMin)
            return failure(BridgeStatus::TooFewPoints);
        const PoseFit polished = polishOnAgreeing(storage, camera, pose);
        if (!polished.ok())
            return failure(BridgeStatus::PoseBrokeDown);
        pose = polished.pose;
    }
    const Agreement agreement = markAgreeing(storage, camera, pose, distance);
    if (agreement.status != BridgeStatus::Ok)
        return failure(agreement.status);
    if (agreement.count < limits.pointsMin)
        return failure(BridgeStatus::TooFewPoints);
    if (agreement.count < limits.shareMin * n)
        return failure(BridgeStatus::TooFewAgree);
    if (agreement.rms > limits.errorMax * storage.scale)
        return failure(BridgeStatus::TooFar);
    if (!spreadEnough(storage, limits.spreadMin))
        return failure(BridgeStatus::TooClustered);
    return BridgeFit{BridgeStatus::Ok, pose, agreement.rms, agreement.count};
}
