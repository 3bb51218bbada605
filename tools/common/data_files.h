#pragma once

#include <string>

#include "camera/camera_param.h"

// The bundled files a tool reads from the Data folder of the folder it runs
// in unless told otherwise, as Lumeko reads its camera file.
inline constexpr const char* DEFAULT_CAMERA_FILE = "Data/camera_para.dat";
inline constexpr const char* DEFAULT_MARKER_PICTURE = "Data/sample_marker_picture.ppm";

// What to do when `path`, one of the defaults above, is missing: where the
// bundled Data folder comes from, and the option (`option`) that names
// another file. Empty when `path` is there or is no default.
std::string missingDataHint(const std::string& path, const char* option);

// Loads the first camera record of `path`: 0, or -1 with `error` naming the
// file and saying why (with missingDataHint for the missing default).
int loadCameraFile(const std::string& path, CameraParam& camera, std::string& error);
