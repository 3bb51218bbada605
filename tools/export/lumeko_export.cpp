// lumeko-export: converts Lumeko.cm2 to glTF, .chan or CSV, or makes a
// Blender scene of it.

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "camera/camera_param.h"
#include "cli/tool.h"
#include "files/file_reason.h"
#include "files/same_file.h"
#include "layout/layout_file.h"
#include "marker/pattern.h"
#include "tools/common/data_files.h"
#include "tools/common/image_io.h"
#include "tools/common/marker_picture.h"
#include "tools/export/blender_lens.h"
#include "tools/export/blender_scene.h"
#include "tools/export/track_export.h"
#include "track/camera_motion_reader.h"
#include "track/plate_file.h"

namespace {

const char* const TOOL = "lumeko-export";

const ToolText TEXT = {
    TOOL,
    "Usage:\n"
    "  lumeko-export Lumeko.cm2 OUTPUT.gltf|glb|chan|csv|py [--camera FILE] [--fps N]\n"
    "                [--width W] [--metres-per-unit M] [--first-frame N] [--marker-mesh]\n"
    "                [--layout FILE] [--layout-csv FILE]\n"
    "                [--footage FILE] [--picture FILE | --marker FILE]\n"
    "  lumeko-export Lumeko.cm2 --summary\n"
    "  lumeko-export --help\n",
    "\n"
    "Converts a camera-motion file to a format other packages import. Only the\n"
    "frames where the marker was found carry a camera; a track without any, or\n"
    "with a value that is not finite once converted, is refused.\n"
    "\n"
    ".gltf / .glb   glTF 2.0 (embedded buffer / binary): a perspective camera\n"
    "               animated with one linear key per found frame, and the marker\n"
    "               at the origin: a node with a node at each corner (empties\n"
    "               in Blender), and with --marker-mesh a dark square as well.\n"
    ".chan          one line per found frame: frame tx ty tz rx ry rz vfov.\n"
    ".csv           every frame: frame, found, the six keys, and the camera's\n"
    "               4x4 camera-to-world matrix.\n"
    ".py            a Python script for Blender 3.4 or later (blender -P scene.py,\n"
    "               or Run Script in its Text Editor) that makes a scene: the\n"
    "               camera with one key per found frame, its lens, sensor and\n"
    "               principal point (as lens shift) from the camera file, the\n"
    "               frame range and rate, the footage as the camera's\n"
    "               background and the marker as a textured square; the lens\n"
    "               distortion on the footage's clip, laid on the render by the\n"
    "               compositor. Z up, metres, the first frame 1 unless\n"
    "               --first-frame says otherwise. The Lumeko add-on builds it.\n"
    "\n"
    "The world is Y-up: X = the marker's x, Y = out of the marker, Z = -(the\n"
    "marker's y); rotations R = Ry(rotateY) Rx(rotateX) Rz(rotateZ) in degrees.\n"
    "Positions are in the unit of the marker width (key translation / 0.005).\n"
    "\n",
    "\n"
    "A track of a picture sequence has a plate file beside it (Lumeko.cm2.plate,\n"
    "written by Lumeko): its first frame and frame rate are then the defaults of\n"
    "--first-frame and --fps, so that the keys lie on the plate's frames.\n"
    "Exit status: 0 on success, 1 on any error.\n",
    24,
};

struct Options {
    std::string cameraPath = DEFAULT_CAMERA_FILE;
    ExportSettings settings;
    bool summary = false;
    bool fpsGiven = false, firstFrameGiven = false;  // by the option or the plate file
    std::string footage, picture;
    bool wholeMarker = false;  // `picture` shows the whole marker
    std::string layoutPath;    // --layout: a set's layout for the glTF and the Blender scene
    std::string layoutCsv;     // --layout-csv: where the layout goes in the export's world
    std::vector<std::string> patterns;  // the layout's pattern files, marker by marker
};

OptionTable optionTable(Options& o) {
    ExportSettings& s = o.settings;
    const auto picture = [&o](bool whole) {
        return [&o, whole](const std::string& value) {
            o.wholeMarker = whole;
            return !(o.picture = value).empty();
        };
    };
    return {
        textOption("--camera", "FILE",
                   "camera parameter file for the field of view and aspect\n"
                   "ratio (default Data/camera_para.dat; .chan and glTF).",
                   o.cameraPath),
        {"--fps", "N",
         "frame rate for glTF key times (default 30) and the\n"
         "Blender scene (default the footage's, else 30).",
         [&o, &s](const std::string& value) {
             return (o.fpsGiven = parseDouble(value, s.fps)) && s.fps > 0.0 && s.fps <= 1000.0;
         }},
        doubleOption("--width", "W", "printed marker width (default 80): the glTF marker's size.",
                     s.markerWidth, positive),
        doubleOption("--metres-per-unit", "M",
                     "glTF scale: metres per unit of the width (default 0.001).", s.metresPerUnit,
                     positive),
        {"--first-frame", "N",
         "number of the first frame (default 0; 1 for the Blender\n"
         "scene); glTF keys lie at (N + row) / fps seconds.",
         [&o, &s](const std::string& value) {
             return (o.firstFrameGiven = parseInt(value, s.firstFrame)) && s.firstFrame >= 0;
         }},
        textOption("--footage", "FILE",
                   ".py: the movie or image sequence (plate.####.exr) that\n"
                   "was tracked, shown behind the camera.",
                   o.footage, true),
        {"--picture", "FILE",
         ".py: the marker's picture (JPEG, PNG or PPM), drawn in\n"
         "the middle of its black square.",
         picture(false)},
        {"--marker", "FILE",
         ".py: a picture of the whole marker (as lumeko-pattern\n--print makes it).",
         picture(true)},
        flag("--marker-mesh",
             "glTF: the marker as a square mesh too (Debian 12's\n"
             "Blender 3.4 cannot import meshes with its default\n"
             "settings there; other viewers show it).",
             s.markerMesh),
        {"--layout", "FILE",
         "glTF and .py: the further markers of a set where the\n"
         "layout (Lumeko --layout-out) puts them: glTF nodes with\n"
         "corners, the scene's squares with their patterns' pictures.",
         [&o](const std::string& value) { return !(o.layoutPath = value).empty(); }},
        textOption("--layout-csv", "FILE",
                   "with --layout: writes its markers in the export's world\n"
                   "to FILE (CSV: marker, pattern, width, frames, 4x4 matrix).",
                   o.layoutCsv),
        flag("--summary", "print \"frames N found M\" and write nothing.", o.summary),
    };
}

int loadCamera(const std::string& path, CameraParam& camera) {
    std::string error;
    if (loadCameraFile(path, camera, error) != 0)
        return toolError(TOOL, error);
    return 0;
}

// The marker as printed, for the Blender scene: a black square with the
// picture in its central half (white without one).
int markerTexture(const Options& options, RgbImage& texture) {
    constexpr int SIDE = 128;
    RgbImage picture = makeRgbImage(1, 1, 255, 255, 255);
    PictureRect inner = wholePicture(picture);
    std::string error;
    if (!options.picture.empty()) {
        if (const InputProblem read = readPicture(options.picture, picture); !read.ok())
            return toolError(TOOL, read.reason);
        inner = wholePicture(picture);
        if (options.wholeMarker && findInnerPicture(picture, inner, error) != 0)
            return toolError(TOOL, options.picture + ": " + error);
    }
    texture = composePrintableMarker(picture, inner, SIDE, 0);
    return 0;
}

// The further markers of the layout for the Blender scene, each with the
// picture of its pattern file as printed (white, with a warning, when the
// file cannot be read).
void setMarkers(const Options& options, std::vector<BlenderSetMarker>& set) {
    constexpr int SIDE = 128;
    const MarkerLayout& layout = options.settings.layout;
    for (size_t m = 1; m < layout.markers.size(); m++) {
        if (!layout.markers[m].linked)
            continue;
        const std::string& pattern = options.patterns[m];
        RgbImage picture = makeRgbImage(1, 1, 255, 255, 255);
        unsigned char cells[PATTERN_VALUES];
        if (const PatternLoad read = arReadPatternPicture(pattern.c_str(), cells); read.ok()) {
            picture = makeRgbImage(PATTERN_SIZE, PATTERN_SIZE, 0, 0, 0);
            for (int i = 0; i < PATTERN_SIZE * PATTERN_SIZE; i++)
                for (int c = 0; c < 3; c++)  // the file's blue, green, red
                    picture.rgb[static_cast<size_t>(i) * 3 + c] = cells[i * 3 + 2 - c];
        } else {
            std::fprintf(stderr,
                         "lumeko-export: warning: marker %zu's pattern file %s cannot be read "
                         "(%s): its square is white\n",
                         m, pattern.c_str(),
                         read.status == MarkerStatus::PatternCannotOpen
                             ? fileReadProblem(pattern.c_str()).c_str()
                             : "not a pattern file");
        }
        set.push_back({static_cast<int>(m), layout.markers[m].width, layout.markers[m].toWorld,
                       composePrintableMarker(picture, wholePicture(picture), SIDE, 0)});
    }
}

// How near Blender's lens comes to the camera file's distortion.
void sayBlenderLens(const CameraParam& camera, bool footage) {
    const BlenderLens lens = blenderLensOf(camera);
    if (!footage)
        std::fprintf(stderr,
                     "lumeko-export: note: without --footage the scene has no clip to hold the "
                     "lens distortion; its camera is the pinhole of the camera file\n");
    else if (lens.worst <= BLENDER_LENS_CLAIM)
        std::fprintf(stderr,
                     "lumeko-export: note: the clip's lens distortion (Blender's polynomial "
                     "model, laid on the render by the compositor's Movie Distortion node) lies "
                     "within %.3f px of the camera file's over the frame\n",
                     lens.worst);
    else
        std::fprintf(stderr,
                     "lumeko-export: warning: Blender's polynomial lens model comes no nearer "
                     "than %.2f px to the camera file's over the frame, more than %g px: the "
                     "render laid on the footage is that far off near the frame's edges\n",
                     lens.worst, BLENDER_LENS_CLAIM);
}

// The Blender scene: the script's text, written whole or not at all.
int writeBlenderScene(const Options& options, const std::vector<std::string>& positional,
                      const CameraMotion& motion, const CameraParam& camera) {
    BlenderSceneInput input;
    input.camera = camera;
    input.fpsGiven = options.fpsGiven;
    input.trackName = positional[0];
    if (markerTexture(options, input.markerTexture) != 0)
        return 1;
    setMarkers(options, input.set);
    if (!options.footage.empty()) {
        std::error_code failure;
        input.footage =
            std::filesystem::absolute(options.footage, failure).lexically_normal().string();
        const std::string name = std::filesystem::path(options.footage).filename().string();
        if (name.find('#') == std::string::npos && name.find('%') == std::string::npos &&
            access(options.footage.c_str(), R_OK) != 0)
            return toolError(TOOL, options.footage + ": cannot read it: " +
                                       fileReadProblem(options.footage.c_str()));
    }
    ExportSettings settings = options.settings;
    if (!options.firstFrameGiven)
        settings.firstFrame = 1;
    std::string text, error;
    if (blenderSceneScript(motion, input, settings, text, error) != 0)
        return toolError(TOOL, error);
    if (writeTextFile(positional[1], text, error) != 0)
        return toolError(TOOL, error);
    if (camera.distFactor[2] != 0.0)
        sayBlenderLens(camera, !options.footage.empty());
    return 0;
}

// The plate file's first frame and rate, for the options not given.
void takePlateDefaults(const std::string& trackPath, Options& options) {
    PlateFrames plate;
    const std::string name = trackPath + PLATE_FILE_SUFFIX;
    switch (readPlateFile(trackPath, plate).failure) {
        case TrackFailure::None:
            if (!options.firstFrameGiven && plate.firstFrame <= 0x7fffffff) {
                options.settings.firstFrame = static_cast<int>(plate.firstFrame);
                options.firstFrameGiven = true;
            }
            if (!options.fpsGiven && plate.fps <= 1000.0) {
                options.settings.fps = plate.fps;
                options.fpsGiven = true;
            }
            std::printf("%s: first frame %d, %g frames a second\n", name.c_str(),
                        options.settings.firstFrame, options.settings.fps);
            break;
        case TrackFailure::OtherTrack:
            std::fprintf(stderr, "lumeko-export: %s belongs to an earlier track; not used\n",
                         name.c_str());
            break;
        case TrackFailure::Malformed:
            std::fprintf(stderr, "lumeko-export: %s is not a plate file; not used\n", name.c_str());
            break;
        default:  // no plate file
            break;
    }
}

int exportTrack(Options& options, const std::vector<std::string>& positional) {
    if (positional.size() != (options.summary ? 1u : 2u))
        return toolError(TOOL, std::string(options.summary ? "give one Lumeko.cm2"
                                                           : "give one Lumeko.cm2 and one OUTPUT") +
                                   "\n" + TEXT.usage);
    const std::string& track = positional[0];
    if (!options.summary &&
        refuseClash(TOOL, {positional[1], options.layoutCsv},
                    {track, track + PLATE_FILE_SUFFIX, options.cameraPath, options.footage,
                     options.picture, options.layoutPath}) != 0)
        return 1;
    CameraMotion motion;
    if (const TrackResult read = readCameraMotion(track, motion); !read.ok())
        return toolError(TOOL, readFailureText(track, read));
    std::string error;
    if (options.summary) {
        std::printf("frames %d found %d\n", motion.rowCount(), motion.foundCount());
        return 0;
    }
    takePlateDefaults(track, options);
    const std::string& output = positional[1];
    const bool gltf = hasSuffix(output, ".gltf"), glb = hasSuffix(output, ".glb");
    const bool chan = hasSuffix(output, ".chan"), csv = hasSuffix(output, ".csv");
    const bool python = hasSuffix(output, ".py");
    if (!gltf && !glb && !chan && !csv && !python)
        return toolError(TOOL, output + ": the output must end in .gltf, .glb, .chan, .csv or .py");
    if (!python && (!options.footage.empty() || !options.picture.empty()))
        return toolError(TOOL, "--footage, --picture and --marker are for the Blender scene (.py)");
    if (!options.layoutCsv.empty() && (options.layoutPath.empty() || options.layoutCsv == output ||
                                       sameFile(options.layoutCsv, output)))
        return toolError(TOOL, "--layout-csv needs --layout and a name of its own");
    if (!options.layoutPath.empty()) {
        if (!gltf && !glb && !python && options.layoutCsv.empty())
            return toolError(TOOL, "--layout is for glTF (.gltf or .glb), .py and --layout-csv");
        if (!readLayout(options.layoutPath, {}, options.settings.layout, &options.patterns).ok())
            return toolError(TOOL, options.layoutPath + ": not a layout Lumeko --layout-out wrote");
    }
    CameraParam camera{};
    if (!csv && loadCamera(options.cameraPath, camera) != 0)
        return 1;
    const Lens lens = csv ? Lens{} : lensOfCamera(camera);
    if (python) {
        if (writeBlenderScene(options, positional, motion, camera) != 0)
            return 1;
    } else if (gltf || glb) {
        if (writeGltf(output, motion, lens, options.settings, glb, error) != 0)
            return toolError(TOOL, error);
    } else {
        std::string text;
        const int made = chan ? chanText(motion, lens, options.settings, text, error)
                              : csvText(motion, options.settings, text, error);
        if (made != 0 || writeTextFile(output, text, error) != 0)
            return toolError(TOOL, error);
    }
    std::printf("wrote %s: %d frames, %d with the marker\n", output.c_str(), motion.rowCount(),
                motion.foundCount());
    if (!options.layoutCsv.empty()) {
        if (writeTextFile(options.layoutCsv,
                          layoutCsvText(options.settings.layout, options.patterns), error) != 0)
            return toolError(TOOL, error);
        std::printf("wrote %s\n", options.layoutCsv.c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    return runTool(TEXT, optionTable(options), argc, argv,
                   [&](const std::vector<std::string>& positional) {
                       return exportTrack(options, positional);
                   });
}
