#pragma once

#include <cstdint>
#include <string>

// One calibrated camera: the image size it describes, its 3x4 projection
// matrix and the four factors of the radial distortion model.
struct CameraParam {
    int32_t xsize;
    int32_t ysize;
    double mat[3][4];
    // [0], [1]: distortion centre (pixels); [2]: coefficient f (used as
    // f * 1e-8 per squared pixel); [3]: scale between ideal and observed offsets.
    double distFactor[4];
};

// Size of one record in the camera parameter file: two big-endian int32 and
// sixteen big-endian binary64 values, no padding.
inline constexpr int CAMERA_PARAM_RECORD_SIZE = 136;

// Reads `count` records from `filename` into `params`. 0 when all were read;
// -1 for count < 1, a file that cannot be opened, one that is too short, or a
// record that describes no usable camera (size not positive, a value not finite).
int arLoadCameraParam(const char* filename, int count, CameraParam* params);

// Writes `param` as one big-endian record of CAMERA_PARAM_RECORD_SIZE bytes.
void arEncodeCameraParam(const CameraParam& param, unsigned char* record);

// Rescales `source` to a frame of `width` x `height` by the width ratio alone.
int arResizeCameraParam(const CameraParam& source, int width, int height, CameraParam& dest);

// `param` as the text arPrintCameraParam prints: a rule, the size, the four
// distortion factors ("%f"), the three matrix rows ("%7.5f " each), a rule.
// Numbers always use a full stop, whatever the C locale.
std::string arFormatCameraParam(const CameraParam& param);

// Prints arFormatCameraParam(param) on standard output; always 0.
int arPrintCameraParam(const CameraParam& param);

// The default instance (camera/current_camera.cpp), for code written against
// one camera per process. New code passes its CameraParam explicitly instead.

// Makes a copy of `param` the current camera; its size becomes the working size.
int arSetCameraParam(const CameraParam& param);

// The current camera and working size; all zero before the first arSetCameraParam.
const CameraParam& arCurrentCameraParam();
int arWorkingWidth();
int arWorkingHeight();
