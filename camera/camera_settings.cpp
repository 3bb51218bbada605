#include "camera/camera_settings.h"

#include <cmath>
#include <string>

namespace {

CameraResult refused(std::string reason) {
    return CameraResult{CameraStatus::NotACamera, 0, std::move(reason)};
}

}  // namespace

CameraSettings plainCameraSettings(int width, int height) {
    return {width, height, 1.0 * width, 1.0 * width, width / 2.0, height / 2.0, 0.0, 1.0};
}

double focalFromHorizontalFov(int width, double fovDegrees) {
    const double halfAngle = fovDegrees * 0.5 * M_PI / 180.0;
    return 0.5 * width / std::tan(halfAngle);
}

CameraResult makeCameraParam(const CameraSettings& settings, CameraParam& param) {
    if (settings.width <= 0 || settings.height <= 0)
        return refused("the image size must be positive");
    const double values[] = {settings.fx,
                             settings.fy,
                             settings.cx,
                             settings.cy,
                             settings.distortionCoefficient,
                             settings.distortionScale};
    for (double v : values) {
        if (!std::isfinite(v))
            return refused("every number must be finite");
    }
    if (settings.fx <= 0.0 || settings.fy <= 0.0)
        return refused("the focal lengths must be positive");
    if (settings.distortionScale <= 0.0)
        return refused("the distortion scale must be positive");
    CameraParam made{};
    made.xsize = settings.width;
    made.ysize = settings.height;
    made.mat[0][0] = settings.fx;
    made.mat[0][2] = settings.cx;
    made.mat[1][1] = settings.fy;
    made.mat[1][2] = settings.cy;
    made.mat[2][2] = 1.0;
    made.distFactor[0] = settings.cx;
    made.distFactor[1] = settings.cy;
    made.distFactor[2] = settings.distortionCoefficient;
    made.distFactor[3] = settings.distortionScale;
    // What Lumeko would refuse to load is not made either.
    const CameraResult check = arCheckCameraParam(made);
    if (check.ok())
        param = made;
    return check;
}
