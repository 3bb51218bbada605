#include "bridge/bridge_fit.h"

#include <algorithm>
#include <cmath>
#include <opencv2/calib3d.hpp>

#include "bridge/plane_anchor.h"
#include "pose/pose_refine.h"

namespace {

// Marks the points lying within `distance` of where `pose` puts them; their
// count and the root mean square of their distances.
int markAgreeing(BridgeStorage& s, const CameraParam& camera, const Pose& pose, double distance,
                 double* rms) {
    PlaneMap map;
    s.inlier.assign(s.at.size(), 0);
    if (!planeMapOfPose(camera.mat, pose, map))
        return 0;
    int count = 0;
    double sum = 0.0;
    for (size_t i = 0; i < s.at.size(); i++) {
        ImagePoint expected;
        if (!planeToIdeal(map, s.plane[i].x, s.plane[i].y, &expected))
            continue;
        const ImagePoint& ideal = s.fitImage[i];
        const double d2 = (expected.x - ideal.x) * (expected.x - ideal.x) +
                          (expected.y - ideal.y) * (expected.y - ideal.y);
        if (d2 > distance * distance)
            continue;
        s.inlier[i] = 1;
        sum += d2;
        count++;
    }
    *rms = count > 0 ? std::sqrt(sum / count) : 0.0;
    return count;
}

// arPolishPose on the marked points, from `start`.
PoseFit polishOnAgreeing(BridgeStorage& s, const CameraParam& camera, const Pose& start) {
    int n = 0;
    static_assert(BRIDGE_POINT_MAX <= POSE_POINT_MAX);
    ImagePoint image[BRIDGE_POINT_MAX];
    double object[BRIDGE_POINT_MAX][2];
    for (size_t i = 0; i < s.at.size(); i++) {
        if (!s.inlier[i])
            continue;
        image[n] = s.fitImage[i];
        object[n][0] = s.plane[i].x;
        object[n][1] = s.plane[i].y;
        n++;
    }
    return arPolishPose(image, object, n, camera.mat, start);
}

// The box of the marked points spans enough of the picture both ways.
bool spreadEnough(const BridgeStorage& s, double share) {
    float x0 = 1e9f, y0 = 1e9f, x1 = -1e9f, y1 = -1e9f;
    for (size_t i = 0; i < s.at.size(); i++) {
        if (!s.inlier[i])
            continue;
        x0 = std::min(x0, s.at[i].x);
        x1 = std::max(x1, s.at[i].x);
        y0 = std::min(y0, s.at[i].y);
        y1 = std::max(y1, s.at[i].y);
    }
    return x1 - x0 >= share * s.workSize.width && y1 - y0 >= share * s.workSize.height;
}

}  // namespace

BridgeFit fitBridgePose(BridgeStorage& s, const CameraParam& camera, const BridgeLimits& limits) {
    BridgeFit fit;
    const int n = static_cast<int>(s.at.size());
    fit.points = n;
    if (n < limits.pointsMin)
        return fit;
    s.planePoints.clear();
    s.idealPoints.clear();
    s.fitImage.clear();
    for (int i = 0; i < n; i++) {
        const ImagePoint ideal = idealOfWork(s, camera, s.at[i]);
        s.fitImage.push_back(ideal);
        s.planePoints.emplace_back(static_cast<float>(s.plane[i].x),
                                   static_cast<float>(s.plane[i].y));
        s.idealPoints.emplace_back(static_cast<float>(ideal.x), static_cast<float>(ideal.y));
    }
    const double distance = limits.inlierDistance * s.scale;
    const cv::Matx33d K(camera.mat[0][0], camera.mat[0][1], camera.mat[0][2], camera.mat[1][0],
                        camera.mat[1][1], camera.mat[1][2], camera.mat[2][0], camera.mat[2][1],
                        camera.mat[2][2]);
    // Random samples of four points find the plane's map (a homography)
    // most points agree with; the planar pose is fitted to those points.
    if (cv::findHomography(s.planePoints, s.idealPoints, cv::RANSAC, distance, s.inlier, 500, 0.995)
            .empty())
        return fit;
    s.objectPoints.clear();
    s.inlierPoints.clear();
    for (int i = 0; i < n; i++) {
        if (!s.inlier[i])
            continue;
        s.objectPoints.emplace_back(s.planePoints[i].x, s.planePoints[i].y, 0.0f);
        s.inlierPoints.push_back(s.idealPoints[i]);
    }
    cv::Vec3d rvec, tvec;
    if (static_cast<int>(s.objectPoints.size()) < limits.pointsMin ||
        !cv::solvePnP(s.objectPoints, s.inlierPoints, K, cv::noArray(), rvec, tvec, false,
                      cv::SOLVEPNP_IPPE))
        return fit;
    cv::Matx33d R;
    cv::Rodrigues(rvec, R);
    Pose pose{};
    for (int r = 0; r < 3; r++) {
        for (int c = 0; c < 3; c++)
            pose.m[r][c] = R(r, c);
        pose.m[r][3] = tvec[r];
    }
    double rms = 0.0;
    for (int pass = 0; pass < 2; pass++) {
        if (markAgreeing(s, camera, pose, distance, &rms) < limits.pointsMin)
            return fit;
        const PoseFit polished = polishOnAgreeing(s, camera, pose);
        if (!polished.ok())
            return fit;
        pose = polished.pose;
    }
    const int agreeing = markAgreeing(s, camera, pose, distance, &rms);
    if (agreeing < limits.pointsMin || agreeing < limits.shareMin * n ||
        rms > limits.errorMax * s.scale || !spreadEnough(s, limits.spreadMin))
        return fit;
    fit.ok = true;
    fit.pose = pose;
    fit.error = rms;
    fit.points = agreeing;
    return fit;
}
