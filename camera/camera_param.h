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

// Largest distance, in observed pixels, by which undistorting a point of the
// picture with arObservedToIdeal and distorting it again may miss the point.
inline constexpr double CAMERA_LENS_ROUND_TRIP_MAX = 0.5;

// How a camera operation ended: the one failure type of camera/.
enum class CameraStatus {
    Ok,
    NoRecordAsked,  // a record count below 1
    CannotOpen,     // the file cannot be opened
    CannotRead,     // reading the file failed
    Empty,          // the file holds no byte
    TooShort,       // the file ends inside a record
    NotACamera,     // a record's values cannot be a camera (arCheckCameraParam)
    NotResizable,   // a size not positive, or values that stop being finite when resized
};

// What loading or checking camera parameters gives back: the status, the
// operating system's reason (errno) when the file cannot be opened or read,
// and the reason as one line of text without a newline for the user (empty
// on Ok), naming the record when a file holds more than one.
struct CameraResult {
    CameraStatus status = CameraStatus::Ok;
    int error = 0;
    std::string reason;

    bool ok() const { return status == CameraStatus::Ok; }
};

// Whether `param` can be a camera: Ok, or NotACamera with the reason. A camera has a positive
// size, finite numbers, a projection matrix [[fx, skew, cx, tx], [0, fy, cy,
// ty], [0, 0, 1, 0]] with positive focal lengths, the principal point and the
// distortion centre inside the picture (edges included), a positive distortion
// scale, and a lens map that stays monotonic over the picture (it must not
// fold back before the picture's farthest corner) and that the three Newton
// steps of arObservedToIdeal undo to within CAMERA_LENS_ROUND_TRIP_MAX
// everywhere in it.
CameraResult arCheckCameraParam(const CameraParam& param);

// Reads `count` records from `filename` into `params`: Ok when all were read
// and arCheckCameraParam takes each. Records read before a failure may
// already be stored.
CameraResult arLoadCameraParam(const char* filename, int count, CameraParam* params);

// Writes `param` as one big-endian record of CAMERA_PARAM_RECORD_SIZE bytes.
void arEncodeCameraParam(const CameraParam& param, unsigned char* record);

// Rescales `source` to a frame of `width` x `height` by the width ratio alone.
// Ok; NotResizable with `dest` untouched when a size is not positive, a
// rescaled value would not be finite (a factor that overflows, say), or the
// lens maps would not stay finite over the new picture (a tiny distortion
// scale, say).
CameraStatus arResizeCameraParam(const CameraParam& source, int width, int height,
                                 CameraParam& dest);

// `param` as the text arPrintCameraParam prints: a rule, the size, the four
// distortion factors ("%f"), the three matrix rows ("%7.5f " each), a rule.
// Numbers always use a full stop, whatever the C locale.
std::string arFormatCameraParam(const CameraParam& param);

// Prints arFormatCameraParam(param) on standard output.
void arPrintCameraParam(const CameraParam& param);
