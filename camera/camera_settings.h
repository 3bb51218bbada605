#pragma once

#include "camera/camera_param.h"

// The numbers a user gives for a camera: image size, focal lengths and
// principal point in pixels, and the two numbers of the radial distortion
// model (coefficient f, used as f * 1e-8 per squared pixel, and scale s).
// The distortion centre is the principal point.
struct CameraSettings {
    int width = 0;
    int height = 0;
    double fx = 0.0;
    double fy = 0.0;
    double cx = 0.0;
    double cy = 0.0;
    double distortionCoefficient = 0.0;
    double distortionScale = 1.0;
};

// A camera of width x height whose focal length is the width, its principal
// point the centre and without distortion: one that finds a marker's corners
// where the frame shows them.
CameraSettings plainCameraSettings(int width, int height);

// Focal length in pixels of a camera `width` pixels wide whose horizontal
// field of view is `fovDegrees`.
double focalFromHorizontalFov(int width, double fovDegrees);

// Builds the record: projection [[fx, 0, cx, 0], [0, fy, cy, 0], [0, 0, 1, 0]],
// distortion factors (cx, cy, f, s). NotACamera with the reason, `param`
// unchanged, for sizes or focal lengths that are not positive, a scale that
// is not positive, values that are not finite, and whatever else
// arCheckCameraParam refuses (the principal point outside the picture, a
// distortion too strong for it).
CameraResult makeCameraParam(const CameraSettings& settings, CameraParam& param);
