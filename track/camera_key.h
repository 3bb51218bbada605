#pragma once

#include "math/matrix.h"
#include "track/key_table.h"

// The camera values one found frame stores, and their derivation from the
// marker-to-camera pose.

// Factor applied to every translation before it is stored.
inline constexpr double TRANSLATION_SCALE = 0.005;

// The camera values of one found frame: position in marker coordinates
// (scaled by TRANSLATION_SCALE) and the three rotations in degrees.
struct CameraKey {
    double x;
    double y;
    double z;
    double rotY;
    double rotX;
    double rotZ;
};

// The key row of a frame whose marker-to-camera pose is `pose`: found, with
// the camera's values (the camera seen from the marker) in the file's axes;
// not found when the pose or a value is not finite.
KeyRow keyRowOfPose(const Pose& pose);

double radToDeg(double radians);

// The camera of a key, the inverse of keyRowOfPose's values: the rotation is rebuilt from the three
// angles (a = rotY + 90, b = 90 - rotX, c = a - 90 - rotZ in radians, R =
// Rz(a) Ry(b) Rz(c - a)), the position is the key's divided by
// TRANSLATION_SCALE. The result is the camera's pose in marker
// coordinates: its columns are the camera's x (right), y (down) and z
// (viewing direction) axes and its position.
Pose cameraKeyToCameraInMarker(const CameraKey& key);

// The marker-to-camera pose of the key (the inverse of the above).
Pose cameraKeyToPose(const CameraKey& key);

// The found row of the key in the file's axes (translateX = x, translateY = z,
// translateZ = -y, rotations as they are), and back.
KeyRow keyRowOfCameraKey(const CameraKey& key);
CameraKey cameraKeyOfRow(const KeyRow& row);

double degToRad(double degrees);
