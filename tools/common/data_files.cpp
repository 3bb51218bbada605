#include "tools/common/data_files.h"

#include <unistd.h>

#include <cerrno>

std::string missingDataHint(const std::string& path, const char* option) {
    if (path != DEFAULT_CAMERA_FILE && path != DEFAULT_MARKER_PICTURE)
        return "";
    if (access(path.c_str(), F_OK) == 0 || errno != ENOENT)
        return "";
    return "\n  it is read from the Data folder of the folder you run in: copy the Data folder "
           "that comes with Lumeko here (from its source folder, or share/lumeko/Data where it "
           "is installed, e.g. cp -r /usr/share/lumeko/Data .), or name another file with " +
           std::string(option);
}

int loadCameraFile(const std::string& path, CameraParam& camera, std::string& error) {
    const CameraResult load = arLoadCameraParam(path.c_str(), 1, &camera);
    if (load.ok())
        return 0;
    error = "cannot load the camera parameter file " + path + ": " + load.reason +
            missingDataHint(path, "--camera FILE");
    return -1;
}
