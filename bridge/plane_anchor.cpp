#include "bridge/plane_anchor.h"

#include <cmath>

#include "bridge/point_follow.h"
#include "camera/distortion.h"
#include "pose/pose_projection.h"

namespace {

// Removes point i, keeping the order of the others.
void dropPoint(BridgeStorage& storage, size_t i) {
    storage.at.erase(storage.at.begin() + static_cast<long>(i));
    storage.plane.erase(storage.plane.begin() + static_cast<long>(i));
    storage.weight.erase(storage.weight.begin() + static_cast<long>(i));
}

// Whether the followed point i stays: it meets the plane in front of the
// camera at `placed`, and a place it had before lands within `tolerance` of
// where it was followed to (`ideal`).
bool stillOnPlane(const BridgeStorage& storage, const PlaneMap& map, size_t i, ImagePoint ideal,
                  double tolerance, cv::Point2d* placed) {
    if (idealToPlane(map, ideal, placed) != BridgeStatus::Ok) {
        return false;
    }
    if (storage.weight[i] == 0) {
        return true;
    }
    ImagePoint expected;
    return planeToIdeal(map, storage.plane[i], &expected) == BridgeStatus::Ok &&
           !(std::hypot(expected.x - ideal.x, expected.y - ideal.y) > tolerance);
}

// Checks each followed point against the map and moves the place of those
// that stay towards the one it gives, the others leaving.
void placeFollowedPoints(BridgeStorage& storage, const CameraParam& camera, const PlaneMap& map,
                         double tolerance) {
    for (size_t i = storage.at.size(); i-- > 0;) {
        const ImagePoint ideal = idealOfWork(storage, camera, storage.at[i]);
        cv::Point2d placed;
        if (!stillOnPlane(storage, map, i, ideal, tolerance, &placed)) {
            dropPoint(storage, i);
            continue;
        }
        const int weight = storage.weight[i];
        storage.plane[i].x = (storage.plane[i].x * weight + placed.x) / (weight + 1);
        storage.plane[i].y = (storage.plane[i].y * weight + placed.y) / (weight + 1);
        storage.weight[i] = weight + 1 < PLANE_WEIGHT_MAX ? weight + 1 : PLANE_WEIGHT_MAX;
    }
}

// Whether the sight from the camera at `centre` (marker units) to `placed`
// on the plane meets it steeply enough.
bool seenSteeply(const double centre[3], cv::Point2d placed) {
    const double across = std::hypot(placed.x - centre[0], placed.y - centre[1]);
    return std::atan2(std::fabs(centre[2]), across) >= PLACE_SIGHT_MIN_DEGREES * M_PI / 180.0;
}

// Picks new corners away from the followed points and places those the map
// puts on the plane, seen steeply enough from the camera at `centre`.
BridgeStatus addFreshPoints(BridgeStorage& storage, const CameraParam& camera, const PlaneMap& map,
                            const double centre[3]) {
    const BridgeStatus picked = findFreshCorners(storage);
    if (picked != BridgeStatus::Ok) {
        return picked;
    }
    for (const cv::Point2f& fresh : storage.fresh) {
        cv::Point2d placed;
        if (idealToPlane(map, idealOfWork(storage, camera, fresh), &placed) != BridgeStatus::Ok ||
            !seenSteeply(centre, placed))
            continue;
        storage.at.push_back(fresh);
        storage.plane.push_back(placed);
        storage.weight.push_back(1);
    }
    return BridgeStatus::Ok;
}

}  // namespace

BridgeStatus planeMapOfPose(const CameraParam& camera, const Pose& pose, PlaneMap& map) {
    arPlaneHomography(camera.mat, pose, map.toIdeal);
    return arInvert3x3(map.toIdeal, map.toPlane) == MathStatus::Ok ? BridgeStatus::Ok
                                                                   : BridgeStatus::EdgeOn;
}

BridgeStatus planeToIdeal(const PlaneMap& map, cv::Point2d planePoint, ImagePoint* ideal) {
    const double(&h)[3][3] = map.toIdeal;
    const double x = planePoint.x, y = planePoint.y;
    const double w = h[2][0] * x + h[2][1] * y + h[2][2];
    if (!(w > 1e-9))
        return BridgeStatus::BehindCamera;
    ideal->x = (h[0][0] * x + h[0][1] * y + h[0][2]) / w;
    ideal->y = (h[1][0] * x + h[1][1] * y + h[1][2]) / w;
    return std::isfinite(ideal->x) && std::isfinite(ideal->y) ? BridgeStatus::Ok
                                                              : BridgeStatus::BehindCamera;
}

BridgeStatus idealToPlane(const PlaneMap& map, ImagePoint ideal, cv::Point2d* planePoint) {
    const double(&g)[3][3] = map.toPlane;
    const double w = g[2][0] * ideal.x + g[2][1] * ideal.y + g[2][2];
    if (w == 0.0)
        return BridgeStatus::BehindCamera;
    const cv::Point2d found((g[0][0] * ideal.x + g[0][1] * ideal.y + g[0][2]) / w,
                            (g[1][0] * ideal.x + g[1][1] * ideal.y + g[1][2]) / w);
    ImagePoint check;
    if (!std::isfinite(found.x) || !std::isfinite(found.y) ||
        planeToIdeal(map, found, &check) != BridgeStatus::Ok)
        return BridgeStatus::BehindCamera;
    *planePoint = found;
    return BridgeStatus::Ok;
}

ImagePoint idealOfWork(const BridgeStorage& storage, const CameraParam& camera,
                       cv::Point2f workPoint) {
    const ImagePoint observed = observedOfWork(storage, workPoint);
    ImagePoint ideal;
    arObservedToIdeal(camera.distFactor, observed.x, observed.y, &ideal.x, &ideal.y);
    return ideal;
}

BridgeStatus predictPoints(BridgeStorage& storage, const CameraParam& camera, const Pose& pose) {
    PlaneMap map;
    const BridgeStatus mapped = planeMapOfPose(camera, pose, map);
    if (mapped != BridgeStatus::Ok)
        return mapped;
    storage.followed.resize(storage.at.size());
    for (size_t i = 0; i < storage.at.size(); i++) {
        ImagePoint ideal, observed;
        if (planeToIdeal(map, storage.plane[i], &ideal) != BridgeStatus::Ok) {
            storage.followed[i] = storage.at[i];
            continue;
        }
        arIdealToObserved(camera.distFactor, ideal.x, ideal.y, &observed.x, &observed.y);
        storage.followed[i] = workOfObserved(storage, observed);
    }
    return BridgeStatus::Ok;
}

BridgeStatus anchorPoints(BridgeStorage& storage, const CameraParam& camera, const Pose& pose,
                          double tolerance, int fillBelow, bool placeFollowed) {
    PlaneMap map;
    const BridgeStatus mapped = planeMapOfPose(camera, pose, map);
    if (mapped != BridgeStatus::Ok)
        return mapped;
    if (placeFollowed)
        placeFollowedPoints(storage, camera, map, tolerance);
    // Picking corners is the costly step: at most once every FILL_INTERVAL
    // frames, which also spares a scene without corners from looking each time.
    // A bridged frame with few points left picks at once: the camera moving
    // on takes the points out of the picture faster than that, and once
    // too few are left no frame is bridged and none are picked.
    storage.framesSinceFill++;
    const int count = static_cast<int>(storage.at.size());
    const bool urgent = !placeFollowed && count < FILL_URGENT_BELOW;
    if (count >= fillBelow || (storage.framesSinceFill < FILL_INTERVAL && !urgent))
        return BridgeStatus::Ok;
    storage.framesSinceFill = 0;
    double centre[3];
    arPoseTranslation(arPoseInvert(pose), centre);
    return addFreshPoints(storage, camera, map, centre);
}
