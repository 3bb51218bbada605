#pragma once

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

// Camera values of the marker-to-camera `pose` (the camera seen from the
// marker); -1 when the pose or a value is not finite.
int poseToCameraKey(const double pose[3][4], CameraKey* key);

double radToDeg(double radians);
