#include "tools/render/pose_truth.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "math/matrix.h"
#include "pose/pose_projection.h"
#include "pose/rotation_angles.h"

namespace {

constexpr double HALF_PI = 1.5707963267948966;
constexpr double TRANSLATION_SCALE = 0.005;
// Detection never takes a region that reaches the outermost two pixel rings.
constexpr double EDGE_MARGIN = 2.0;

double degrees(double radians) {
    return radians * 180.0 / M_PI;
}

}  // namespace

ProjectedPoint projectMarkerPoint(const CameraParam& camera, const CameraPose& pose, double mx,
                                  double my) {
    const double point[3] = {mx, my, 0.0};
    const MarkerPointView view = arViewMarkerPoint(camera, pose, point);
    return {view.observed.x, view.observed.y, view.depth};
}

// Deliberately independent of the tracker's conversion in app/camera_key.cpp:
// the truth table is an oracle for it, so it must not share its code (a test
// compares the two on random poses).
KeyValues keyValuesOfPose(const CameraPose& pose) {
    const Pose cameraInMarker = arPoseInvert(pose);
    double rotation[3][3], position[3];
    arPoseRotation(cameraInMarker, rotation);
    arPoseTranslation(cameraInMarker, position);
    double a = 0.0, b = 0.0, c = 0.0;
    arRotationToAngles(rotation, &a, &b, &c);
    const double x = TRANSLATION_SCALE * position[0];
    const double y = TRANSLATION_SCALE * position[1];
    const double z = TRANSLATION_SCALE * position[2];
    KeyValues keys;
    keys.translateX = x;
    keys.translateY = z;
    keys.translateZ = -y;
    keys.rotateY = degrees(a - HALF_PI);
    keys.rotateX = degrees(HALF_PI - b);
    keys.rotateZ = degrees((a - c) - HALF_PI);
    return keys;
}

int rectangleInView(const CameraParam& camera, const CameraPose& pose, double halfWidth,
                    double halfHeight) {
    for (double x : {-halfWidth, halfWidth}) {
        for (double y : {-halfHeight, halfHeight}) {
            const ProjectedPoint p = projectMarkerPoint(camera, pose, x, y);
            if (!(p.depth > 0.0 && p.x >= EDGE_MARGIN && p.y >= EDGE_MARGIN &&
                  p.x <= camera.xsize - 1 - EDGE_MARGIN && p.y <= camera.ysize - 1 - EDGE_MARGIN))
                return 0;
        }
    }
    return 1;
}

MarkerView viewOfMarker(const CameraParam& camera, const CameraPose& pose, double markerWidth) {
    const double h = 0.5 * markerWidth;
    const double corners[4][2] = {{-h, h}, {h, h}, {h, -h}, {-h, -h}};
    ProjectedPoint p[4];
    for (int i = 0; i < 4; ++i)
        p[i] = projectMarkerPoint(camera, pose, corners[i][0], corners[i][1]);
    MarkerView view;
    view.visible = rectangleInView(camera, pose, h, h);
    view.minSide = 1e300;
    double twiceArea = 0.0;
    for (int i = 0; i < 4; ++i) {
        const ProjectedPoint& a = p[i];
        const ProjectedPoint& b = p[(i + 1) % 4];
        view.minSide = std::min(view.minSide, std::hypot(a.x - b.x, a.y - b.y));
        twiceArea += a.x * b.y - b.x * a.y;
    }
    view.area = 0.5 * std::fabs(twiceArea);
    const ProjectedPoint centre = projectMarkerPoint(camera, pose, 0.0, 0.0);
    view.centreX = centre.x;
    view.centreY = centre.y;
    return view;
}

std::string truthCsvHeader() {
    return "frame,visible,min_side_px,area_px,centre_x,centre_y,"
           "r00,r01,r02,t0,r10,r11,r12,t1,r20,r21,r22,t2,"
           "translateX,translateY,translateZ,rotateY,rotateX,rotateZ,border_covered,blur_px\n";
}

std::string truthCsvLine(int frame, const MarkerView& view, const CameraPose& pose,
                         const KeyValues& keys, const SceneTruth& scene) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "%d,%d,%.3f,%.1f,%.3f,%.3f", frame, view.visible,
                  view.minSide, view.area, view.centreX, view.centreY);
    std::string line = buffer;
    for (int j = 0; j < 3; ++j) {
        for (int k = 0; k < 4; ++k) {
            std::snprintf(buffer, sizeof buffer, ",%.12g", pose.m[j][k]);
            line += buffer;
        }
    }
    const double values[6] = {keys.translateX, keys.translateY, keys.translateZ,
                              keys.rotateY,    keys.rotateX,    keys.rotateZ};
    for (double v : values) {
        std::snprintf(buffer, sizeof buffer, ",%.12g", v);
        line += buffer;
    }
    std::snprintf(buffer, sizeof buffer, ",%.4f,%.2f\n", scene.borderCovered, scene.blurPx);
    return line + buffer;
}
