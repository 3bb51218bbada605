#include "camera/camera_param.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "camera/distortion.h"

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

bool allFinite(CameraParam& param) {
    for (double* value : recordDoubles(param)) {
        if (!std::isfinite(*value))
            return false;
    }
    return true;
}

// One line of reason text, printf-style.
template <typename... Args>
std::string describe(const char* format, Args... args) {
    char text[256];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

// The lens map along the line from the distortion centre to the picture's
// farthest corner (cornerX, cornerY): observed points at LENS_SAMPLES + 1 even
// steps are undistorted and distorted again. The largest miss, or infinity
// when a result is not finite. The map is radial, so one line stands for
// every direction.
constexpr int LENS_SAMPLES = 64;

void farthestCorner(const CameraParam& param, double* x, double* y) {
    *x = param.distFactor[0] < param.xsize / 2.0 ? param.xsize : 0.0;
    *y = param.distFactor[1] < param.ysize / 2.0 ? param.ysize : 0.0;
}

double worstLensRoundTrip(const CameraParam& param, double cornerX, double cornerY) {
    const double* f = param.distFactor;
    double worst = 0.0;
    for (int i = 0; i <= LENS_SAMPLES; i++) {
        const double t = static_cast<double>(i) / LENS_SAMPLES;
        const double ox = f[0] + (cornerX - f[0]) * t;
        const double oy = f[1] + (cornerY - f[1]) * t;
        double ix;
        double iy;
        double bx;
        double by;
        arObservedToIdeal(f, ox, oy, &ix, &iy);
        arIdealToObserved(f, ix, iy, &bx, &by);
        const double miss = std::hypot(bx - ox, by - oy);
        if (!std::isfinite(ix) || !std::isfinite(iy) || !std::isfinite(miss))
            return INFINITY;
        worst = std::max(worst, miss);
    }
    return worst;
}

// The reason `param` cannot be a camera, or an empty text when it can.
std::string cameraFault(CameraParam param) {
    if (param.xsize <= 0 || param.ysize <= 0)
        return describe("the picture size %d x %d is not positive", param.xsize, param.ysize);
    if (!allFinite(param))
        return "a value is not finite";
    const double(&m)[3][4] = param.mat;
    if (!(m[2][0] == 0.0 && m[2][1] == 0.0 && m[2][2] == 1.0 && m[2][3] == 0.0))
        return describe(
            "the third row of the projection matrix is (%g, %g, %g, %g), not (0, 0, 1, 0)", m[2][0],
            m[2][1], m[2][2], m[2][3]);
    if (m[1][0] != 0.0)
        return describe("the second row of the projection matrix starts with %g, not 0", m[1][0]);
    if (!(m[0][0] > 0.0 && m[1][1] > 0.0))
        return describe("the focal lengths (%g, %g) are not both positive", m[0][0], m[1][1]);
    if (!(m[0][2] >= 0.0 && m[0][2] <= param.xsize && m[1][2] >= 0.0 && m[1][2] <= param.ysize))
        return describe("the principal point (%g, %g) lies outside the %d x %d picture", m[0][2],
                        m[1][2], param.xsize, param.ysize);
    const double* f = param.distFactor;
    if (!(f[0] >= 0.0 && f[0] <= param.xsize && f[1] >= 0.0 && f[1] <= param.ysize))
        return describe("the distortion centre (%g, %g) lies outside the %d x %d picture", f[0],
                        f[1], param.xsize, param.ysize);
    if (!(f[3] > 0.0))
        return describe("the distortion scale %g is not positive", f[3]);
    // The farthest corner from the distortion centre bounds every observed radius.
    double cornerX;
    double cornerY;
    farthestCorner(param, &cornerX, &cornerY);
    const double farthest = std::hypot(cornerX - f[0], cornerY - f[1]);
    // The observed radius r (1 - k r^2) of a scaled ideal radius r peaks at
    // 2 / (3 sqrt(3 k)) for k > 0; beyond that the lens would fold back.
    const double k = f[2] * 1e-8;
    if (k > 0.0 && !(27.0 * k * farthest * farthest < 4.0))
        return describe(
            "the distortion factor %g folds the lens map back inside the picture "
            "(it must stay below %g for this picture and centre)",
            f[2], 4.0 / (27.0 * farthest * farthest) * 1e8);
    const double miss = worstLensRoundTrip(param, cornerX, cornerY);
    if (!(miss <= CAMERA_LENS_ROUND_TRIP_MAX))
        return describe(
            "the lens distortion (factor %g, scale %g) is too strong for the "
            "picture: undistorting a point misses it by %g pixels (at most %g)",
            f[2], f[3], miss, CAMERA_LENS_ROUND_TRIP_MAX);
    return {};
}

CameraResult failure(CameraStatus status, std::string reason, int error = 0) {
    return CameraResult{status, error, std::move(reason)};
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

CameraResult arCheckCameraParam(const CameraParam& param) {
    std::string fault = cameraFault(param);
    if (fault.empty())
        return {};
    return failure(CameraStatus::NotACamera, std::move(fault));
}

CameraResult arLoadCameraParam(const char* filename, int count, CameraParam* params) {
    if (count < 1)
        return failure(CameraStatus::NoRecordAsked,
                       describe("no record asked for (count %d)", count));
    std::FILE* file = std::fopen(filename, "rb");
    if (file == nullptr) {
        const int error = errno;
        return failure(CameraStatus::CannotOpen, std::strerror(error), error);
    }
    for (int i = 0; i < count; i++) {
        // Names the record only when there is more than one.
        const std::string which =
            count > 1 ? describe("record %d of %d: ", i + 1, count) : std::string();
        unsigned char record[CAMERA_PARAM_RECORD_SIZE];
        const std::size_t got = std::fread(record, 1, sizeof record, file);
        if (got != sizeof record) {
            const int readError = std::ferror(file) != 0 ? errno : 0;
            std::fclose(file);
            if (readError != 0)
                return failure(CameraStatus::CannotRead, which + std::strerror(readError),
                               readError);
            if (i == 0 && got == 0)
                return failure(CameraStatus::Empty, "the file is empty");
            return failure(CameraStatus::TooShort,
                           which + describe("the file ends %zu bytes into the %d-byte record", got,
                                            CAMERA_PARAM_RECORD_SIZE));
        }
        CameraParam param;
        decodeRecord(record, param);
        std::string fault = cameraFault(param);
        if (!fault.empty()) {
            std::fclose(file);
            return failure(CameraStatus::NotACamera, which + fault);
        }
        params[i] = param;
    }
    std::fclose(file);
    return {};
}

CameraStatus arResizeCameraParam(const CameraParam& source, int width, int height,
                                 CameraParam& dest) {
    if (width <= 0 || height <= 0)
        return CameraStatus::NotResizable;
    CameraParam resized;
    resized.xsize = width;
    resized.ysize = height;
    double scale = static_cast<double>(width) / static_cast<double>(source.xsize);
    for (int row = 0; row < 2; row++) {
        for (int col = 0; col < 4; col++)
            resized.mat[row][col] = source.mat[row][col] * scale;
    }
    for (int col = 0; col < 4; col++)
        resized.mat[2][col] = source.mat[2][col];
    resized.distFactor[0] = source.distFactor[0] * scale;
    resized.distFactor[1] = source.distFactor[1] * scale;
    resized.distFactor[2] = source.distFactor[2] / (scale * scale);
    resized.distFactor[3] = source.distFactor[3];
    if (!allFinite(resized))
        return CameraStatus::NotResizable;
    // A picture larger than the record's reaches further out in the lens map,
    // where a tiny distortion scale can overflow the undistorted offsets.
    double cornerX;
    double cornerY;
    farthestCorner(resized, &cornerX, &cornerY);
    if (!std::isfinite(worstLensRoundTrip(resized, cornerX, cornerY)))
        return CameraStatus::NotResizable;
    dest = resized;
    return CameraStatus::Ok;
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

void arPrintCameraParam(const CameraParam& param) {
    const std::string text = arFormatCameraParam(param);
    std::fwrite(text.data(), 1, text.size(), stdout);
}
