#include "track/camera_motion.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>

namespace {

// "ドリーカメラ" in UTF-8.
constexpr const char* DOLLY_CAMERA_NAME =
    "\xE3\x83\x89\xE3\x83\xAA\xE3\x83\xBC\xE3\x82\xAB\xE3\x83\xA1\xE3\x83\xA9";
constexpr const char* STANDARD_CAMERA_NAME = "STD_CAMERA";
constexpr int CAMERA_NAME_SIZE = 32;
constexpr double FOCAL_KEY = 30.0;

enum class ScaleLine { None, Decimal, Integer };

struct Channel {
    const char* keyword;
    const char* standardName;  // camera 0
    const char* dollyName;     // every other camera
    double KeyRow::*value;
    ScaleLine scaleLine;
};

constexpr Channel CHANNELS[] = {
    {"rotateZ", "roll", "zrot", &KeyRow::rotateZ, ScaleLine::None},
    {"rotateX", "pitch", "xrot", &KeyRow::rotateX, ScaleLine::None},
    {"rotateY", "yaw", "yrot", &KeyRow::rotateY, ScaleLine::None},
    {"translateZ", "dollyZ", "ztran", &KeyRow::translateZ, ScaleLine::Decimal},
    {"translateY", "dollyY", "ytran", &KeyRow::translateY, ScaleLine::Decimal},
    {"translateX", "dollyX", "xtran", &KeyRow::translateX, ScaleLine::Integer},
};

void buildCameraName(int camNo, char* name) {
    if (camNo == 0) {
        std::snprintf(name, CAMERA_NAME_SIZE, "%s", STANDARD_CAMERA_NAME);
    } else if (camNo <= 1) {
        std::snprintf(name, CAMERA_NAME_SIZE, "%s", DOLLY_CAMERA_NAME);
    } else {
        std::snprintf(name, CAMERA_NAME_SIZE, "%s %d", DOLLY_CAMERA_NAME, camNo - 1);
    }
}

// "%f" with a full stop whatever the C locale: six decimals, never an exponent.
void putFixed(double value, std::FILE* out) {
    char text[400];
    std::to_chars_result result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
    std::fwrite(text, 1, static_cast<size_t>(result.ptr - text), out);
}

void putKey(int index, double value, std::FILE* out) {
    std::fprintf(out, "\t\t\t\tk  %d  ", index);
    putFixed(value, out);
    std::fputs("\n\t\t\t\tsl  1\n\t\t\t\tcon\n\t\t\t\tsm\n", out);
}

void putHeader(const KeyTable& table, const char* cameraName, std::FILE* out) {
    std::fputs("{\n\nversion\n\t{\n\tnumber 7\n\t}\n\n", out);
    std::fprintf(out, "clearFigureKeys %d\n\n", table.count);
    std::fprintf(out, "camera %s\n\t{\n\tchannels\n\t\t{\n", cameraName);
    std::fputs("\t\tfocal focal\n\t\t\t{\n\t\t\tkeys\n\t\t\t\t{\n", out);
    putKey(0, FOCAL_KEY, out);
    std::fputs("\t\t\t\t}\n\t\t\t}\n", out);
}

void putChannel(const KeyTable& table, const Channel& channel, int camNo, std::FILE* out) {
    const char* name = camNo == 0 ? channel.standardName : channel.dollyName;
    std::fprintf(out, "\t\t%s %s\n\t\t\t{\n\t\t\tkeys\n\t\t\t\t{\n", channel.keyword, name);
    for (int i = 0; i < table.count; i++)
        putKey(i, table.rows[i].*channel.value, out);
    std::fputs("\t\t\t\t}\n", out);
    if (channel.scaleLine == ScaleLine::Decimal)
        std::fputs("\t\t\ttrackingScaleMult 1.000000\n", out);
    if (channel.scaleLine == ScaleLine::Integer)
        std::fputs("\t\t\ttrackingScaleMult 1\n", out);
    std::fputs("\t\t\t}\n", out);
}

void putFooter(const char* cameraName, int camNo, std::FILE* out) {
    std::fputs("\t\t}\n\tcameraModel real\n", out);
    std::fprintf(out, "\tuserCreated %d\n\t}\n\n", camNo == 0 ? 0 : 1);
    std::fprintf(out, "doc\n\t{\n\tuseCamera %s\n\t}\n}\n", cameraName);
}

void putCameraMotion(const KeyTable& table, int camNo, std::FILE* out) {
    char cameraName[CAMERA_NAME_SIZE];
    buildCameraName(camNo, cameraName);
    putHeader(table, cameraName, out);
    for (const Channel& channel : CHANNELS)
        putChannel(table, channel, camNo, out);
    putFooter(cameraName, camNo, out);
}

}  // namespace

// The track goes to a temporary file beside "Lumeko.cm2" that replaces it only
// once complete, so a failure part-way never costs the previous file.
FileResult writeCameraMotion(const KeyTable& table, int camNo) {
    return replaceFile(CAMERA_MOTION_FILE, [&](std::FILE* file) {
        putCameraMotion(table, camNo, file);
        return true;
    });
}
