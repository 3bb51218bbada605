#pragma once

#include "files/replace_file.h"
#include "track/key_table.h"

// Name of the camera-motion file written in the working directory.
inline constexpr const char* CAMERA_MOTION_FILE = "Lumeko.cm2";

// Writes the whole key table as "Lumeko.cm2" for camera number `camNo`. A
// previous file is replaced only by a complete new one, and survives every
// failure.
FileResult writeCameraMotion(const KeyTable& table, int camNo);
