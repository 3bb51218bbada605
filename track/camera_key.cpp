#include "track/camera_key.h"

#include <cmath>

#include "math/matrix.h"
#include "pose/rotation_angles.h"

namespace {

constexpr double PI = 3.141592653589793;
constexpr double HALF_PI = 1.5707963267948966;

bool allFinite(const double* values, int count) {
    for (int i = 0; i < count; i++) {
        if (!std::isfinite(values[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

double radToDeg(double radians) {
    return radians * 180.0 / PI;
}

KeyRow keyRowOfPose(const Pose& pose) {
    if (!allFinite(&pose.m[0][0], 12)) {
        return KeyRow{};
    }
    const Pose cameraInMarker = arPoseInvert(pose);
    double rotation[3][3];
    double position[3];
    arPoseRotation(cameraInMarker, rotation);
    arPoseTranslation(cameraInMarker, position);
    double a;
    double b;
    double c;
    arRotationToAngles(rotation, &a, &b, &c);
    CameraKey values;
    values.rotY = radToDeg(a - HALF_PI);
    values.rotX = radToDeg(HALF_PI - b);
    values.rotZ = radToDeg((a - c) - HALF_PI);
    values.x = TRANSLATION_SCALE * position[0];
    values.y = TRANSLATION_SCALE * position[1];
    values.z = TRANSLATION_SCALE * position[2];
    const double all[6] = {values.x, values.y, values.z, values.rotY, values.rotX, values.rotZ};
    if (!allFinite(all, 6)) {
        return KeyRow{};
    }
    return keyRowOfCameraKey(values);
}

double degToRad(double degrees) {
    return degrees * PI / 180.0;
}

Pose cameraKeyToCameraInMarker(const CameraKey& key) {
    const double a = degToRad(key.rotY) + HALF_PI;
    const double b = HALF_PI - degToRad(key.rotX);
    const double c = a - HALF_PI - degToRad(key.rotZ);
    double rotation[3][3];
    arAnglesToRotation(a, b, c, rotation);
    const double position[3] = {key.x / TRANSLATION_SCALE, key.y / TRANSLATION_SCALE,
                                key.z / TRANSLATION_SCALE};
    return arPoseOf(rotation, position);
}

Pose cameraKeyToPose(const CameraKey& key) {
    return arPoseInvert(cameraKeyToCameraInMarker(key));
}

KeyRow keyRowOfCameraKey(const CameraKey& key) {
    return KeyRow{1, key.x, key.z, -key.y, key.rotY, key.rotX, key.rotZ};
}

CameraKey cameraKeyOfRow(const KeyRow& row) {
    return CameraKey{row.translateX, -row.translateZ, row.translateY,
                     row.rotateY,    row.rotateX,     row.rotateZ};
}
