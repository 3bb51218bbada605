// lumeko-camera: writes a camera parameter file from a few numbers, or prints
// one the way Lumeko prints the camera it loads.

#include <cstdio>
#include <string>
#include <vector>

#include "camera/camera_param.h"
#include "cli/tool.h"
#include "files/file_reason.h"
#include "tools/common/camera_file.h"

namespace {

const char* const TOOL = "lumeko-camera";

const ToolText TEXT = {
    TOOL,
    "Usage:\n"
    "  lumeko-camera write FILE --size WxH --focal FX,FY [--centre CX,CY] [--distortion F,S]\n"
    "  lumeko-camera write FILE --size WxH --hfov DEGREES [--centre CX,CY] [--distortion F,S]\n"
    "  lumeko-camera write FILE --size WxH --focal-mm F --sensor-width S [--sensor-height S]\n"
    "               [--centre CX,CY] [--distortion F,S]\n"
    "  lumeko-camera print FILE\n"
    "  lumeko-camera --help\n",
    "\n"
    "write  makes a camera parameter file (one 136-byte big-endian record) for a\n"
    "       camera of W x H pixels. Give the focal lengths in pixels with --focal,\n"
    "       or the horizontal field of view in degrees with --hfov (then\n"
    "       fx = fy = W / 2 / tan(hfov / 2)), or the lens's focal length and the\n"
    "       sensor's width in millimetres with --focal-mm and --sensor-width (then\n"
    "       fx = F x W / S, and fy = F x H / --sensor-height, which defaults to\n"
    "       S x H / W: square pixels). The principal point is (W/2, H/2)\n"
    "       unless --centre gives it. --distortion gives the radial distortion\n"
    "       coefficient f (used as f * 1e-8 per squared pixel) and the scale s;\n"
    "       the distortion centre is the principal point. Default: f = 0, s = 1\n"
    "       (no distortion). The projection matrix written is\n"
    "       [[fx, 0, cx, 0], [0, fy, cy, 0], [0, 0, 1, 0]].\n"
    "print  prints every record of an existing file as Lumeko prints its camera.\n"
    "\n",
    "\n"
    "Exit status: 0 on success, 1 on any error.\n",
    21,
};

int printFile(const std::string& path) {
    long extra = 0;
    int count = countCameraRecords(path, extra);
    if (count < 0) {
        return toolError(TOOL, "cannot read " + path + ": " + fileReadProblem(path.c_str()));
    }
    if (count == 0) {
        return toolError(TOOL, path + " is shorter than one 136-byte camera record");
    }
    std::vector<CameraParam> params(static_cast<size_t>(count));
    const CameraResult load = arLoadCameraParam(path.c_str(), count, params.data());
    if (!load.ok()) {
        return toolError(
            TOOL, "can not load camera parameter <" + path + ">\n" + path + ": " + load.reason);
    }
    for (const CameraParam& param : params) {
        arPrintCameraParam(param);
    }
    if (extra != 0) {
        std::printf("(%ld bytes after the last whole record are not used)\n", extra);
    }
    return 0;
}

struct WriteOptions {
    std::string path;
    bool haveSize = false, haveFocal = false, haveFov = false, haveCentre = false;
    bool haveMillimetres = false;
    double focal[2] = {0.0, 0.0};
    double focalMm = 0.0, sensorWidth = 0.0, sensorHeight = 0.0;
    double centre[2] = {0.0, 0.0};
    double distortion[2] = {0.0, 1.0};
    double fov = 0.0;
    CameraSettings settings;
};

// The options of "write".
OptionTable optionTable(WriteOptions& o) {
    const auto pair = [](bool& given, double* values) {
        return [&given, values](const std::string& value) {
            return (given = true) && parseDoubleList(value, 2, values);
        };
    };
    return {
        {"--size", "WxH", "the camera's frames, W x H pixels.",
         [&o](const std::string& value) {
             o.haveSize = true;
             return parseSize(value, o.settings.width, o.settings.height);
         }},
        {"--focal", "FX,FY", "the focal lengths in pixels.", pair(o.haveFocal, o.focal)},
        {"--hfov", "DEGREES", "the horizontal field of view.",
         [&o](const std::string& value) {
             return (o.haveFov = true) && parseDouble(value, o.fov);
         }},
        {"--focal-mm", "F", "the lens's focal length in millimetres.",
         [&o](const std::string& value) {
             o.haveMillimetres = true;
             return parseDouble(value, o.focalMm) && o.focalMm > 0.0;
         }},
        doubleOption("--sensor-width", "S", "the sensor's width in millimetres.", o.sensorWidth,
                     positive),
        doubleOption("--sensor-height", "S", "the sensor's height in millimetres.", o.sensorHeight,
                     positive),
        {"--centre", "CX,CY", "the principal point (also --center).", pair(o.haveCentre, o.centre)},
        {"--center", "CX,CY", "", pair(o.haveCentre, o.centre)},
        {"--distortion", "F,S", "the radial distortion's coefficient and scale.",
         [&o](const std::string& value) { return parseDoubleList(value, 2, o.distortion); }},
    };
}

int writeFile(WriteOptions& options, const std::vector<std::string>& positional) {
    if (positional.size() > 2) {
        return toolError(TOOL, "more than one output file given: " + positional[2]);
    }
    if (positional.size() < 2) {
        return toolError(TOOL, std::string("write needs an output file\n") + TEXT.usage);
    }
    if (!options.haveSize) {
        return toolError(TOOL, "write needs --size WxH");
    }
    if (options.haveFocal + options.haveFov + options.haveMillimetres != 1) {
        return toolError(
            TOOL, "write needs exactly one of --focal FX,FY, --hfov DEGREES and --focal-mm F");
    }
    if (options.haveMillimetres != (options.sensorWidth > 0.0)) {
        return toolError(TOOL, options.haveMillimetres
                                   ? "--focal-mm needs --sensor-width S (millimetres)"
                                   : "--sensor-width goes with --focal-mm");
    }
    if (options.sensorHeight > 0.0 && !options.haveMillimetres) {
        return toolError(TOOL, "--sensor-height goes with --focal-mm and --sensor-width");
    }
    options.path = positional[1];
    CameraSettings& settings = options.settings;
    if (options.haveMillimetres) {
        const double sensorHeight = options.sensorHeight > 0.0
                                        ? options.sensorHeight
                                        : options.sensorWidth * settings.height / settings.width;
        settings.fx = options.focalMm * settings.width / options.sensorWidth;
        settings.fy = options.focalMm * settings.height / sensorHeight;
    } else if (options.haveFov) {
        if (!(options.fov > 0.0 && options.fov < 180.0)) {
            return toolError(TOOL, "--hfov must lie between 0 and 180 degrees");
        }
        settings.fx = settings.fy = focalFromHorizontalFov(settings.width, options.fov);
    } else {
        settings.fx = options.focal[0];
        settings.fy = options.focal[1];
    }
    settings.cx = options.haveCentre ? options.centre[0] : settings.width / 2.0;
    settings.cy = options.haveCentre ? options.centre[1] : settings.height / 2.0;
    settings.distortionCoefficient = options.distortion[0];
    settings.distortionScale = options.distortion[1];

    CameraParam param;
    std::string error;
    if (const CameraResult made = makeCameraParam(settings, param); !made.ok()) {
        return toolError(TOOL, "refusing to write " + options.path + ": " + made.reason);
    }
    if (writeCameraFile(options.path, &param, 1, error) != 0) {
        return toolError(TOOL, error);
    }
    std::printf("wrote %s\n", options.path.c_str());
    arPrintCameraParam(param);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    WriteOptions options;
    const OptionTable table = optionTable(options);
    return runTool(TEXT, table, argc, argv, [&](const std::vector<std::string>& positional) {
        const std::string command = positional.empty() ? "" : positional[0];
        if (command == "write")
            return writeFile(options, positional);
        if (command != "print")
            return toolError(TOOL, "unknown command " + command + "\n" + TEXT.usage);
        if (positional.size() != 2)
            return toolError(TOOL, positional.size() < 2
                                       ? std::string("print needs one camera file\n") + TEXT.usage
                                       : "print takes one camera file only");
        if (argc != 3)
            return toolError(TOOL, "print takes no options");
        return printFile(positional[1]);
    });
}
