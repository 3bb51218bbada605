#include "camera/camera_param.h"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

uint32_t readBigEndian32(const unsigned char* bytes) {
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
           uint32_t{bytes[3]};
}

uint64_t readBigEndian64(const unsigned char* bytes) {
    return (uint64_t{readBigEndian32(bytes)} << 32) | uint64_t{readBigEndian32(bytes + 4)};
}

void writeBigEndian32(uint32_t value, unsigned char* bytes) {
    for (int i = 3; i >= 0; i--) {
        bytes[i] = static_cast<unsigned char>(value & 0xff);
        value >>= 8;
    }
}

void writeBigEndian64(uint64_t value, unsigned char* bytes) {
    writeBigEndian32(static_cast<uint32_t>(value >> 32), bytes);
    writeBigEndian32(static_cast<uint32_t>(value), bytes + 4);
}

// The sixteen doubles of a record in file order: mat row by row, then distFactor.
std::array<double*, 16> recordDoubles(CameraParam& param) {
    std::array<double*, 16> fields{};
    for (int i = 0; i < 12; i++)
        fields[i] = &param.mat[i / 4][i % 4];
    for (int i = 0; i < 4; i++)
        fields[12 + i] = &param.distFactor[i];
    return fields;
}

// Converts one big-endian record of CAMERA_PARAM_RECORD_SIZE bytes, field by
// field and whatever the host's byte order, into `param`.
void decodeRecord(const unsigned char* record, CameraParam& param) {
    param.xsize = static_cast<int32_t>(readBigEndian32(record));
    param.ysize = static_cast<int32_t>(readBigEndian32(record + 4));
    const unsigned char* field = record + 8;
    for (double* value : recordDoubles(param)) {
        *value = std::bit_cast<double>(readBigEndian64(field));
        field += 8;
    }
}

// A record describes a usable camera only with a positive size and finite numbers;
// anything else would divide by zero in the resize or turn every pose into NaN.
bool isUsableCamera(CameraParam& param) {
    if (param.xsize <= 0 || param.ysize <= 0)
        return false;
    for (double* value : recordDoubles(param)) {
        if (!std::isfinite(*value))
            return false;
    }
    return true;
}

// Appends printf-style "%*.*f" that always uses a full stop, whatever the C locale.
// The buffer holds any finite double (at most 309 digits before the point).
void appendFixed(std::string& out, double value, int width, int precision) {
    char text[400];
    std::to_chars_result result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, precision);
    const int length = static_cast<int>(result.ptr - text);
    if (width > length) {
        out.append(static_cast<std::size_t>(width - length), ' ');
    }
    out.append(text, static_cast<std::size_t>(length));
}

}  // namespace

void arEncodeCameraParam(const CameraParam& param, unsigned char* record) {
    writeBigEndian32(static_cast<uint32_t>(param.xsize), record);
    writeBigEndian32(static_cast<uint32_t>(param.ysize), record + 4);
    CameraParam copy = param;
    unsigned char* field = record + 8;
    for (double* value : recordDoubles(copy)) {
        writeBigEndian64(std::bit_cast<uint64_t>(*value), field);
        field += 8;
    }
}

int arLoadCameraParam(const char* filename, int count, CameraParam* params) {
    if (count < 1)
        return -1;
    std::FILE* file = std::fopen(filename, "rb");
    if (file == nullptr)
        return -1;
    for (int i = 0; i < count; i++) {
        unsigned char record[CAMERA_PARAM_RECORD_SIZE];
        CameraParam param;
        if (std::fread(record, 1, sizeof record, file) != sizeof record) {
            std::fclose(file);
            return -1;
        }
        decodeRecord(record, param);
        if (!isUsableCamera(param)) {
            std::fclose(file);
            return -1;
        }
        params[i] = param;
    }
    std::fclose(file);
    return 0;
}

int arResizeCameraParam(const CameraParam& source, int width, int height, CameraParam& dest) {
    dest.xsize = width;
    dest.ysize = height;
    double scale = static_cast<double>(width) / static_cast<double>(source.xsize);
    for (int row = 0; row < 2; row++) {
        for (int col = 0; col < 4; col++)
            dest.mat[row][col] = source.mat[row][col] * scale;
    }
    for (int col = 0; col < 4; col++)
        dest.mat[2][col] = source.mat[2][col];
    dest.distFactor[0] = source.distFactor[0] * scale;
    dest.distFactor[1] = source.distFactor[1] * scale;
    dest.distFactor[2] = source.distFactor[2] / (scale * scale);
    dest.distFactor[3] = source.distFactor[3];
    return 0;
}

std::string arFormatCameraParam(const CameraParam& param) {
    std::string text = "--------------------------------------\n";
    text += "SIZE = " + std::to_string(param.xsize) + ", " + std::to_string(param.ysize) + "\n";
    text += "Distortion factor =";
    for (double factor : param.distFactor) {
        text += ' ';
        appendFixed(text, factor, 0, 6);
    }
    text += '\n';
    for (const auto& row : param.mat) {
        for (double element : row) {
            appendFixed(text, element, 7, 5);
            text += ' ';
        }
        text += '\n';
    }
    text += "--------------------------------------\n";
    return text;
}

int arPrintCameraParam(const CameraParam& param) {
    const std::string text = arFormatCameraParam(param);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}
