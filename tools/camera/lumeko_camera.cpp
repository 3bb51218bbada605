// lumeko-camera: writes a camera parameter file from a few numbers, or prints
// one the way Lumeko prints the camera it loads.

#include <cstdio>
#include <string>
#include <vector>

#include "camera/camera_param.h"
#include "tools/camera/camera_file.h"
#include "tools/common/tool_args.h"

namespace {

const char* const USAGE =
    "Usage:\n"
    "  lumeko-camera write FILE --size WxH --focal FX,FY [--centre CX,CY] [--distortion F,S]\n"
    "  lumeko-camera write FILE --size WxH --hfov DEGREES [--centre CX,CY] [--distortion F,S]\n"
    "  lumeko-camera write FILE --size WxH --focal-mm F --sensor-width S [--sensor-height S]\n"
    "               [--centre CX,CY] [--distortion F,S]\n"
    "  lumeko-camera print FILE\n"
    "  lumeko-camera --help\n";

const char* const HELP =
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
    "\n"
    "Exit status: 0 on success, 1 on any error.\n";

const char* const TOOL = "lumeko-camera";

int printFile(const std::string& path) {
    long extra = 0;
    int count = countCameraRecords(path, extra);
    if (count < 0) {
        return toolError(TOOL, "cannot read " + path);
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

// Reads the options of "write"; 0, or 1 after printing the error.
int readWriteOptions(ArgWalker& walker, WriteOptions& options) {
    while (nextArg(walker)) {
        if (walker.name.empty()) {
            if (!options.path.empty()) {
                return toolError(TOOL, "more than one output file given: " + argument(walker));
            }
            options.path = argument(walker);
            continue;
        }
        std::string value;
        if (!optionValue(walker, value)) {
            return missingValue(TOOL, walker.name);
        }
        bool ok = true;
        if (walker.name == "--size") {
            ok = parseSize(value, options.settings.width, options.settings.height);
            options.haveSize = true;
        } else if (walker.name == "--focal") {
            ok = parseDoubleList(value, 2, options.focal);
            options.haveFocal = true;
        } else if (walker.name == "--centre" || walker.name == "--center") {
            ok = parseDoubleList(value, 2, options.centre);
            options.haveCentre = true;
        } else if (walker.name == "--distortion") {
            ok = parseDoubleList(value, 2, options.distortion);
        } else if (walker.name == "--hfov") {
            ok = parseDouble(value, options.fov);
            options.haveFov = true;
        } else if (walker.name == "--focal-mm") {
            ok = parseDouble(value, options.focalMm) && options.focalMm > 0.0;
            options.haveMillimetres = true;
        } else if (walker.name == "--sensor-width") {
            ok = parseDouble(value, options.sensorWidth) && options.sensorWidth > 0.0;
        } else if (walker.name == "--sensor-height") {
            ok = parseDouble(value, options.sensorHeight) && options.sensorHeight > 0.0;
        } else {
            return unknownOption(TOOL, walker.name, USAGE);
        }
        if (!ok) {
            return badValue(TOOL, walker.name, value);
        }
    }
    return 0;
}

int writeFile(ArgWalker& walker) {
    WriteOptions options;
    if (readWriteOptions(walker, options) != 0) {
        return 1;
    }
    if (options.path.empty()) {
        return toolError(TOOL, std::string("write needs an output file\n") + USAGE);
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
    if (makeCameraParam(settings, param, error) != 0) {
        return toolError(TOOL, "refusing to write " + options.path + ": " + error);
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
    if (answerHelpOrVersion(argc, argv, TOOL, USAGE, HELP))
        return 0;
    ArgWalker walker{argc, argv};
    if (!nextArg(walker)) {
        std::fputs(USAGE, stderr);
        return 1;
    }
    std::string command = argument(walker);
    if (command == "write") {
        return writeFile(walker);
    }
    if (command == "print") {
        if (!nextArg(walker) || !walker.name.empty()) {
            return toolError(TOOL, std::string("print needs one camera file\n") + USAGE);
        }
        std::string path = argument(walker);
        if (nextArg(walker)) {
            return toolError(TOOL, "print takes one camera file only");
        }
        return printFile(path);
    }
    return toolError(TOOL, "unknown command " + command + "\n" + USAGE);
}
