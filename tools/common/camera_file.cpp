#include "tools/common/camera_file.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "tools/common/image_io.h"

double focalFromHorizontalFov(int width, double fovDegrees) {
    const double halfAngle = fovDegrees * 0.5 * M_PI / 180.0;
    return 0.5 * width / std::tan(halfAngle);
}

int makeCameraParam(const CameraSettings& settings, CameraParam& param, std::string& error) {
    if (settings.width <= 0 || settings.height <= 0) {
        error = "the image size must be positive";
        return -1;
    }
    const double values[] = {settings.fx,
                             settings.fy,
                             settings.cx,
                             settings.cy,
                             settings.distortionCoefficient,
                             settings.distortionScale};
    for (double v : values) {
        if (!std::isfinite(v)) {
            error = "every number must be finite";
            return -1;
        }
    }
    if (settings.fx <= 0.0 || settings.fy <= 0.0) {
        error = "the focal lengths must be positive";
        return -1;
    }
    if (settings.distortionScale <= 0.0) {
        error = "the distortion scale must be positive";
        return -1;
    }
    param = CameraParam{};
    param.xsize = settings.width;
    param.ysize = settings.height;
    param.mat[0][0] = settings.fx;
    param.mat[0][2] = settings.cx;
    param.mat[1][1] = settings.fy;
    param.mat[1][2] = settings.cy;
    param.mat[2][2] = 1.0;
    param.distFactor[0] = settings.cx;
    param.distFactor[1] = settings.cy;
    param.distFactor[2] = settings.distortionCoefficient;
    param.distFactor[3] = settings.distortionScale;
    // What Lumeko would refuse to load is not written either.
    const CameraResult check = arCheckCameraParam(param);
    error = check.reason;
    return check.ok() ? 0 : -1;
}

int writeCameraFile(const std::string& path, const CameraParam* params, int count,
                    std::string& error) {
    std::vector<unsigned char> bytes(static_cast<size_t>(count) * CAMERA_PARAM_RECORD_SIZE);
    for (int i = 0; i < count; ++i) {
        arEncodeCameraParam(params[i],
                            bytes.data() + static_cast<size_t>(i) * CAMERA_PARAM_RECORD_SIZE);
    }
    return writeFileBytes(path, bytes.data(), bytes.size(), error);
}

int countCameraRecords(const std::string& path, long& extra) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return -1;
    }
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        size = std::ftell(file);
    }
    std::fclose(file);
    if (size < 0) {
        return -1;
    }
    extra = size % CAMERA_PARAM_RECORD_SIZE;
    return static_cast<int>(size / CAMERA_PARAM_RECORD_SIZE);
}
