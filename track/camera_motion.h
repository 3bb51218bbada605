#pragma once

#include "track/key_table.h"

// Name of the camera-motion file written in the working directory.
inline constexpr const char* CAMERA_MOTION_FILE = "Lumeko.cm2";

enum class CameraMotionStatus {
    Written,
    OpenFailed,   // the file could not be created or put in place
    CloseFailed,  // writing, flushing or closing it failed
};

// How writing the file ended: on a failure, the errno of the call that failed
// (EIO for a write that failed without one), taken before anything was
// cleaned up.
struct CameraMotionWrite {
    CameraMotionStatus status;
    int error;
};

// Writes the whole key table as "Lumeko.cm2" for camera number `camNo`. A
// previous file is replaced only by a complete new one, and survives every
// failure.
CameraMotionWrite writeCameraMotion(const KeyTable& table, int camNo);
