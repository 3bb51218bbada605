#include "tools/export/blender_scene.h"

#include <cmath>
#include <cstdio>

#include "blender_scene_module.h"
#include "tools/common/utf8_text.h"
#include "tools/export/blender_lens.h"
#include "track/camera_key.h"

namespace {

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : utf8Text(text)) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out + "\"";
}

std::string number(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// A marker's texture: its side and its bytes as hexadecimal red, green,
// blue, bottom row first (as Blender stores pictures), 96 digits a string,
// each line indented by `indent` and the first four more.
std::string textureRows(const RgbImage& texture, const std::string& indent) {
    std::string hex, lines;
    static const char DIGITS[] = "0123456789abcdef";
    for (int row = texture.height - 1; row >= 0; --row) {
        const unsigned char* p = texture.rgb.data() + static_cast<size_t>(row) * texture.width * 3;
        for (int i = 0; i < texture.width * 3; ++i) {
            hex += DIGITS[p[i] >> 4];
            hex += DIGITS[p[i] & 15];
        }
    }
    for (size_t at = 0; at < hex.size(); at += 96) {
        lines += indent + "    \"" + hex.substr(at, 96) + "\",\n";
    }
    return "(" + std::to_string(texture.width) + ", (\n" + lines + indent + "))";
}

std::string textureData(const RgbImage& texture) {
    return "    \"marker_texture\": " + textureRows(texture, "    ") + ",\n";
}

// A set's further markers: their names, widths (metres), matrices (the
// first marker's coordinates, metres) and textures; "" when there are none.
std::string setData(const std::vector<BlenderSetMarker>& set, double metresPerUnit,
                    std::string& error) {
    if (set.empty())
        return "";
    std::string text = "    \"set\": [\n";
    for (const BlenderSetMarker& marker : set) {
        text += "        {\"name\": \"marker " + std::to_string(marker.number) +
                "\", \"width\": " + number("%.9g", marker.width * metresPerUnit) +
                ",\n         \"matrix\": (";
        for (int i = 0; i < 3; i++) {
            text += i == 0 ? "(" : ", (";
            for (int j = 0; j < 4; j++) {
                const double v = marker.toWorld.m[i][j] * (j == 3 ? metresPerUnit : 1.0);
                if (!std::isfinite(v)) {
                    error = "marker " + std::to_string(marker.number) +
                            "'s place is not finite in metres (--metres-per-unit)";
                    return "";
                }
                text += number(j == 0 ? "%.9g" : ", %.9g", v);
            }
            text += ")";
        }
        text += "),\n         \"texture\": " + textureRows(marker.texture, "         ") + "},\n";
    }
    return text + "    ],\n";
}

std::string pair(double a, double b) {
    return number("(%.17g", a) + number(", %.17g)", b);
}

// Blender's lens for the camera file (BlenderLens), as the scene module takes it.
std::string lensData(const CameraParam& camera) {
    const BlenderLens lens = blenderLensOf(camera);
    return "    \"lens\": {\n"
           "        \"focal\": " +
           number("%.17g", lens.focal) +
           ", \"pixel_aspect\": " + number("%.17g", lens.pixelAspect) +
           ",\n        \"centre\": " + pair(lens.centre[0], lens.centre[1]) +
           ", \"distortion_centre\": " + pair(lens.distortion[0], lens.distortion[1]) +
           ",\n        \"k\": (" + number("%.17g", lens.k[0]) + number(", %.17g", lens.k[1]) +
           number(", %.17g)", lens.k[2]) + ", \"worst\": " + number("%.6g", lens.worst) +
           ", \"claim\": " + number("%g", BLENDER_LENS_CLAIM) + ",\n    },\n";
}

}  // namespace

int blenderSceneScript(const CameraMotion& motion, const BlenderSceneInput& input,
                       const ExportSettings& settings, std::string& script, std::string& error) {
    if (checkTrack(motion, settings, error) != 0)
        return -1;
    std::string keys;
    double previous[4] = {0.0, 0.0, 0.0, 1.0};
    bool first = true;
    for (int i = 0; i < motion.rowCount(); i++) {
        if (motion.rows[i].found != 1) {
            continue;
        }
        // The camera in the marker's coordinates: its axes (x right, y down,
        // z forward) and position. Blender's camera looks down its -Z with +Y up.
        const Pose cameraInMarker = cameraKeyToCameraInMarker(cameraKeyOfRow(motion.rows[i]));
        const double(&m)[3][4] = cameraInMarker.m;
        double r[3][3], q[4];
        for (int j = 0; j < 3; j++) {
            r[j][0] = m[j][0];
            r[j][1] = -m[j][1];
            r[j][2] = -m[j][2];
        }
        quaternionOfRotation(r, q);
        // The shorter way from the previous key, for the interpolation between keys.
        if (!first &&
            q[0] * previous[0] + q[1] * previous[1] + q[2] * previous[2] + q[3] * previous[3] <
                0.0) {
            for (double& v : q) {
                v = -v;
            }
        }
        std::copy(q, q + 4, previous);
        first = false;
        keys += "        (" + std::to_string(settings.firstFrame + i);
        for (int j = 0; j < 3; j++) {
            const double v = m[j][3] * settings.metresPerUnit;
            if (!finiteOut(v, i,
                           j == 0   ? "location x"
                           : j == 1 ? "location y"
                                    : "location z",
                           error))
                return -1;
            keys += number(", %.9g", v);
        }
        for (int j : {3, 0, 1, 2}) {
            keys += number(", %.9f", q[j]);
        }
        keys += "),\n";
    }
    if (!std::isfinite(settings.markerWidth * settings.metresPerUnit)) {
        error = "the marker width is not finite in metres (--width, --metres-per-unit)";
        return -1;
    }
    const std::string set = setData(input.set, settings.metresPerUnit, error);
    if (!error.empty())
        return -1;
    const CameraParam& c = input.camera;
    script =
        "# A Blender scene of the camera track " + input.trackName +
        ", made by lumeko-export.\n"
        "# Run it in Blender 3.4 or later: blender -P this.py, or open it in the Text\n"
        "# Editor and press Run Script. It makes a scene named Lumeko: the tracked camera\n"
        "# (one key per frame where the marker was found), its lens from the camera file,\n"
        "# the footage as the camera's background and as the clip whose lens distortion\n"
        "# the compositor lays the render through, and the marker at the origin. Z is up,\n"
        "# lengths are in metres; the marker lies in the XY plane, its picture upright\n"
        "# seen from -Y. What builds it is the Lumeko add-on's scene module, below the\n"
        "# track's data.\n\n"
        "TRACK = {\n"
        "    \"track\": " +
        quoted(input.trackName) + ",\n    \"camera_name\": " + quoted(motion.cameraName) +
        ",\n    \"footage\": " +
        (input.footage.empty() ? std::string("None") : quoted(input.footage)) +
        ",\n    \"first_frame\": " + std::to_string(settings.firstFrame) +
        ",\n    \"frames\": " + std::to_string(motion.rowCount()) +
        ",\n    \"fps\": " + (input.fpsGiven ? number("%.9g", settings.fps) : std::string("None")) +
        ",  # None: the footage's rate, or 30\n"
        "    \"camera_size\": (" +
        std::to_string(c.xsize) + ", " + std::to_string(c.ysize) + "),\n" + lensData(c) +
        "    \"marker_width\": " + number("%.9g", settings.markerWidth * settings.metresPerUnit) +
        ",\n"
        "    # frame, location x, y, z, rotation quaternion w, x, y, z\n"
        "    \"keys\": [\n" +
        keys + "    ],\n" + textureData(input.markerTexture) + set + "}\n\n" +
        BLENDER_SCENE_MODULE + "\n\nmake_scene(TRACK)\n";
    return 0;
}
