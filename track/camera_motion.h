#pragma once

#include "track/key_table.h"

// Name of the camera-motion file written in the working directory.
inline constexpr const char* CAMERA_MOTION_FILE = "Lumeko.cm2";

enum class CameraMotionStatus {
    Written,
    OpenFailed,   // the file could not be created or put in place
    CloseFailed,  // writing, flushing or closing it failed
};

// Writes the whole key table as "Lumeko.cm2" for camera number `camNo`. A
// previous file is replaced only by a complete new one, and survives every
// failure.
CameraMotionStatus writeCameraMotion(const KeyTable& table, int camNo);
