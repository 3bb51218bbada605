#include "bridge/plane_anchor.h"

#include <cmath>

#include "bridge/point_follow.h"
#include "camera/distortion.h"

namespace {

bool invert3(const double a[3][3], double out[3][3]) {
    const double c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
    const double c01 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
    const double c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
    const double det = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
    if (!std::isfinite(det) || std::fabs(det) < 1e-12)
        return false;
    out[0][0] = c00 / det;
    out[1][0] = c01 / det;
    out[2][0] = c02 / det;
    out[0][1] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) / det;
    out[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) / det;
    out[2][1] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) / det;
    out[0][2] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) / det;
    out[1][2] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) / det;
    out[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) / det;
    return true;
}

// Removes point i, keeping the order of the others.
void dropPoint(BridgeStorage& s, size_t i) {
    s.at.erase(s.at.begin() + static_cast<long>(i));
    s.plane.erase(s.plane.begin() + static_cast<long>(i));
    s.weight.erase(s.weight.begin() + static_cast<long>(i));
}

}  // namespace

bool planeMapOfPose(const double P[3][4], const Pose& pose, PlaneMap& map) {
    for (int r = 0; r < 3; r++) {
        for (int c = 0; c < 3; c++) {
            const int column = c == 2 ? 3 : c;  // x axis, y axis, translation
            double sum = P[r][3] * (c == 2 ? 1.0 : 0.0);
            for (int k = 0; k < 3; k++)
                sum += P[r][k] * pose.m[k][column];
            map.toIdeal[r][c] = sum;
        }
    }
    return invert3(map.toIdeal, map.toPlane);
}

bool planeToIdeal(const PlaneMap& map, double x, double y, ImagePoint* ideal) {
    const double* h = &map.toIdeal[0][0];
    const double w = h[6] * x + h[7] * y + h[8];
    if (!(w > 1e-9))
        return false;
    ideal->x = (h[0] * x + h[1] * y + h[2]) / w;
    ideal->y = (h[3] * x + h[4] * y + h[5]) / w;
    return std::isfinite(ideal->x) && std::isfinite(ideal->y);
}

bool idealToPlane(const PlaneMap& map, ImagePoint ideal, double* x, double* y) {
    const double* g = &map.toPlane[0][0];
    const double w = g[6] * ideal.x + g[7] * ideal.y + g[8];
    if (w == 0.0)
        return false;
    *x = (g[0] * ideal.x + g[1] * ideal.y + g[2]) / w;
    *y = (g[3] * ideal.x + g[4] * ideal.y + g[5]) / w;
    ImagePoint check;
    return std::isfinite(*x) && std::isfinite(*y) && planeToIdeal(map, *x, *y, &check);
}

ImagePoint idealOfWork(const BridgeStorage& s, const CameraParam& camera, cv::Point2f p) {
    const ImagePoint observed = observedOfWork(s, p);
    ImagePoint ideal;
    arObservedToIdeal(camera.distFactor, observed.x, observed.y, &ideal.x, &ideal.y);
    return ideal;
}

bool anchorPoints(BridgeStorage& s, const CameraParam& camera, const Pose& pose, double tolerance,
                  int fillBelow, bool placeFollowed) {
    PlaneMap map;
    if (!planeMapOfPose(camera.mat, pose, map))
        return false;
    for (size_t i = placeFollowed ? s.at.size() : 0; i-- > 0;) {
        const ImagePoint ideal = idealOfWork(s, camera, s.at[i]);
        double x, y;
        ImagePoint expected;
        if (!idealToPlane(map, ideal, &x, &y) ||
            (s.weight[i] > 0 &&
             (!planeToIdeal(map, s.plane[i].x, s.plane[i].y, &expected) ||
              std::hypot(expected.x - ideal.x, expected.y - ideal.y) > tolerance))) {
            dropPoint(s, i);
            continue;
        }
        const int w = s.weight[i];
        s.plane[i].x = (s.plane[i].x * w + x) / (w + 1);
        s.plane[i].y = (s.plane[i].y * w + y) / (w + 1);
        s.weight[i] = w + 1 < PLANE_WEIGHT_MAX ? w + 1 : PLANE_WEIGHT_MAX;
    }
    // Picking corners is the costly step: at most once every FILL_INTERVAL
    // frames, which also spares a scene without corners from looking each time.
    s.framesSinceFill++;
    if (static_cast<int>(s.at.size()) >= fillBelow || s.framesSinceFill < FILL_INTERVAL)
        return true;
    s.framesSinceFill = 0;
    findFreshCorners(s);
    for (const cv::Point2f& p : s.fresh) {
        double x, y;
        if (!idealToPlane(map, idealOfWork(s, camera, p), &x, &y))
            continue;
        s.at.push_back(p);
        s.plane.emplace_back(x, y);
        s.weight.push_back(1);
    }
    return true;
}
