#pragma once

#include <string>

#include "camera/camera_settings.h"

// Writes the records as a camera parameter file. 0, or -1 with `error` set.
int writeCameraFile(const std::string& path, const CameraParam* params, int count,
                    std::string& error);

// Number of whole records in the file, or -1 when it cannot be read; `extra`
// gets the count of bytes after the last whole record.
int countCameraRecords(const std::string& path, long& extra);
