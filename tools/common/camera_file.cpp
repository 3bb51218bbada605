#include "tools/common/camera_file.h"

#include <cstdio>
#include <vector>

#include "tools/common/image_io.h"

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
