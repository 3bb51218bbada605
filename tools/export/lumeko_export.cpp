// lumeko-export: converts Lumeko.cm2 to glTF, .chan or CSV.

#include <cstdio>
#include <string>
#include <vector>

#include "camera/camera_param.h"
#include "tools/common/image_io.h"
#include "tools/common/tool_args.h"
#include "tools/export/track_export.h"
#include "track/camera_motion_reader.h"
#include "track/plate_file.h"

namespace {

const char* const USAGE =
    "Usage:\n"
    "  lumeko-export Lumeko.cm2 OUTPUT.gltf|glb|chan|csv [--camera FILE] [--fps N]\n"
    "                [--width W] [--metres-per-unit M] [--first-frame N]\n"
    "  lumeko-export Lumeko.cm2 --summary\n"
    "  lumeko-export --help\n";

const char* const HELP =
    "\n"
    "Converts a camera-motion file to a format other packages import. Only the\n"
    "frames where the marker was found carry a camera; a track without any, or\n"
    "with a value that is not finite once converted, is refused.\n"
    "\n"
    ".gltf / .glb   glTF 2.0 (embedded buffer / binary): a perspective camera\n"
    "               animated with one linear key per found frame, and the marker\n"
    "               as a square at the origin.\n"
    ".chan          one line per found frame: frame tx ty tz rx ry rz vfov.\n"
    ".csv           every frame: frame, found, the six keys, and the camera's\n"
    "               4x4 camera-to-world matrix.\n"
    "\n"
    "The world is Y-up: X = the marker's x, Y = out of the marker, Z = -(the\n"
    "marker's y); rotations R = Ry(rotateY) Rx(rotateX) Rz(rotateZ) in degrees.\n"
    "Positions are in the unit of the marker width (key translation / 0.005).\n"
    "\n"
    "--camera FILE        camera parameter file for the field of view and aspect\n"
    "                     ratio (default Data/camera_para.dat; .chan and glTF).\n"
    "--fps N              frame rate for glTF key times (default 30).\n"
    "--width W            printed marker width (default 80): the glTF marker's size.\n"
    "--metres-per-unit M  glTF scale: metres per unit of the width (default 0.001).\n"
    "--first-frame N      number of the first frame (default 0); glTF keys lie at\n"
    "                     (N + row) / fps seconds.\n"
    "--summary            print \"frames N found M\" and write nothing.\n"
    "\n"
    "A track of a picture sequence has a plate file beside it (Lumeko.cm2.plate,\n"
    "written by Lumeko): its first frame and frame rate are then the defaults of\n"
    "--first-frame and --fps, so that the keys lie on the plate's frames.\n"
    "Exit status: 0 on success, 1 on any error.\n";

int fail(const std::string& message) {
    std::fprintf(stderr, "lumeko-export: %s\n", message.c_str());
    return 1;
}

struct Options {
    std::vector<std::string> positional;
    std::string cameraPath = "Data/camera_para.dat";
    ExportSettings settings;
    bool summary = false;
    bool fpsGiven = false;
    bool firstFrameGiven = false;
};

int readOptions(ArgWalker& walker, Options& options) {
    while (nextArg(walker)) {
        if (walker.name.empty()) {
            options.positional.push_back(argument(walker));
            continue;
        }
        if (walker.name == "--summary") {
            options.summary = true;
            continue;
        }
        std::string value;
        if (walker.name != "--camera" && walker.name != "--fps" && walker.name != "--width" &&
            walker.name != "--metres-per-unit" && walker.name != "--first-frame")
            return fail("unknown option " + walker.name + "\n" + USAGE);
        if (!optionValue(walker, value))
            return fail(walker.name + " needs a value");
        bool ok = true;
        ExportSettings& s = options.settings;
        if (walker.name == "--camera")
            options.cameraPath = value;
        else if (walker.name == "--fps")
            ok = (options.fpsGiven = parseDouble(value, s.fps)) && s.fps > 0.0 && s.fps <= 1000.0;
        else if (walker.name == "--width")
            ok = parseDouble(value, s.markerWidth) && s.markerWidth > 0.0;
        else if (walker.name == "--metres-per-unit")
            ok = parseDouble(value, s.metresPerUnit) && s.metresPerUnit > 0.0;
        else
            ok = (options.firstFrameGiven = parseInt(value, s.firstFrame)) && s.firstFrame >= 0;
        if (!ok)
            return fail("bad value for " + walker.name + ": " + value);
    }
    if (options.positional.size() != (options.summary ? 1u : 2u))
        return fail(std::string(options.summary ? "give one Lumeko.cm2"
                                                : "give one Lumeko.cm2 and one OUTPUT") +
                    "\n" + USAGE);
    return 0;
}

int loadLens(const std::string& path, Lens& lens) {
    CameraParam camera{};
    if (arLoadCameraParam(path.c_str(), 1, &camera) < 0)
        return fail(path + ": not a readable camera parameter file");
    lens = lensOfCamera(camera);
    return 0;
}

// The plate file's first frame and rate, for the options not given.
void takePlateDefaults(const std::string& trackPath, Options& options) {
    PlateFrames plate;
    const std::string name = trackPath + PLATE_FILE_SUFFIX;
    switch (readPlateFile(trackPath, plate)) {
        case PlateStatus::Found:
            if (!options.firstFrameGiven && plate.firstFrame <= 0x7fffffff)
                options.settings.firstFrame = static_cast<int>(plate.firstFrame);
            if (!options.fpsGiven && plate.fps <= 1000.0)
                options.settings.fps = plate.fps;
            std::printf("%s: first frame %d, %g frames a second\n", name.c_str(),
                        options.settings.firstFrame, options.settings.fps);
            break;
        case PlateStatus::OtherTrack:
            std::fprintf(stderr, "lumeko-export: %s belongs to an earlier track; not used\n",
                         name.c_str());
            break;
        case PlateStatus::Malformed:
            std::fprintf(stderr, "lumeko-export: %s is not a plate file; not used\n", name.c_str());
            break;
        case PlateStatus::Absent:
            break;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (printHelpIfAsked(argc, argv, USAGE, HELP))
        return 0;
    ArgWalker walker{argc, argv};
    Options options;
    if (readOptions(walker, options) != 0)
        return 1;
    CameraMotion motion;
    std::string error;
    if (readCameraMotion(options.positional[0], motion, error) != 0)
        return fail(error);
    if (options.summary) {
        std::printf("frames %d found %d\n", motion.rowCount(), motion.foundCount());
        return 0;
    }
    takePlateDefaults(options.positional[0], options);
    const std::string& output = options.positional[1];
    const bool gltf = hasSuffix(output, ".gltf"), glb = hasSuffix(output, ".glb");
    const bool chan = hasSuffix(output, ".chan"), csv = hasSuffix(output, ".csv");
    if (!gltf && !glb && !chan && !csv)
        return fail(output + ": the output must end in .gltf, .glb, .chan or .csv");
    Lens lens{};
    if (!csv && loadLens(options.cameraPath, lens) != 0)
        return 1;
    if (gltf || glb) {
        if (writeGltf(output, motion, lens, options.settings, glb, error) != 0)
            return fail(error);
    } else {
        std::string text;
        const int made = chan ? chanText(motion, lens, options.settings, text, error)
                              : csvText(motion, options.settings, text, error);
        if (made != 0 || writeFileBytes(output, reinterpret_cast<const unsigned char*>(text.data()),
                                        text.size(), error) != 0)
            return fail(error);
    }
    std::printf("wrote %s: %d frames, %d with the marker\n", output.c_str(), motion.rowCount(),
                motion.foundCount());
    return 0;
}
