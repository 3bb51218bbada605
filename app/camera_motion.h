#pragma once

#include "app/key_table.h"

// Name of the camera-motion file written in the working directory.
inline constexpr const char* CAMERA_MOTION_FILE = "Lumeko.cm2";

// Writes the whole key table as "Lumeko.cm2" for camera number `camNo`, or
// reports the failure, pauses and exits with status 1. A previous file is
// replaced only by a complete new one.
void writeCameraMotion(int camNo);

// The same for any key table.
void writeCameraMotion(const KeyTable& table, int camNo);
