// lumeko-render: synthetic footage of a marker with a known camera path, and
// the true pose of every frame.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "camera/camera_param.h"
#include "tools/common/data_files.h"
#include "tools/common/image_io.h"
#include "tools/common/progress_line.h"
#include "tools/common/tool_args.h"
#include "tools/pattern/marker_picture.h"
#include "tools/render/avi_writer.h"
#include "tools/render/camera_path.h"
#include "tools/render/pose_truth.h"
#include "tools/render/scene_render.h"
#include "tools/render/shot_render.h"

namespace {

const char* const USAGE =
    "Usage:\n"
    "  lumeko-render --output FILE [options]\n"
    "  lumeko-render --help\n";

const char* const HELP =
    "\n"
    "Renders a printed marker lying on a table, filmed by a camera moving along\n"
    "a path, through a camera parameter file's projection and lens distortion.\n"
    "Writes the frames and a CSV file with the true pose of every frame.\n"
    "\n"
    "Output:\n"
    "  --output FILE        .avi: one movie (Motion JPEG unless --raw);\n"
    "                       .jpg/.jpeg (or lossless .png/.ppm): stills; for more\n"
    "                       than one frame the name needs a frame-number field\n"
    "                       such as frame_%04d.jpg\n"
    "  --raw                uncompressed 24-bit movie instead of Motion JPEG\n"
    "  --truth FILE         the ground-truth CSV (default: the output name with\n"
    "                       .csv for its extension; for numbered stills,\n"
    "                       truth.csv next to them)\n"
    "  --quality Q          JPEG quality 1..100 (default 90)\n"
    "  --fps N              frames per second of the movie (default 30)\n"
    "Scene:\n"
    "  --camera FILE        camera parameter file (default Data/camera_para.dat);\n"
    "                       rescaled to the output size by the width ratio\n"
    "  --size WxH           output size (default: the camera file's size)\n"
    "  --picture FILE       the marker's inner picture, JPEG, PNG or PPM (default\n"
    "                       Data/sample_marker_picture.ppm)\n"
    "  --marker FILE        instead of --picture: a whole marker image (black\n"
    "                       square, picture in its central half)\n"
    "  --marker-width W     printed width of the black square (default 80); the\n"
    "                       unit of all positions\n"
    "  --paper-margin M     white paper around the square (default W/4)\n"
    "  --chessboard CxR     instead of the marker: a chessboard of C x R inner\n"
    "                       corners on a grey table, for lumeko-calibrate\n"
    "  --square S           its squares' side (default W/4); one square of white\n"
    "                       paper around it\n"
    "  --table PICTURE      the table under the sheet: a JPEG, PNG or PPM picture\n"
    "                       tiled over the plane (top row towards +y) instead of\n"
    "                       the plain light wood\n"
    "  --table-tile SIZE    width of one tile of it (default 4 x W)\n"
    "  --box X,Y,W,D,H      a box standing on the table, its base centred on (X, Y),\n"
    "                       W along x, D along y, H high; its faces are squares in\n"
    "                       many shades; it hides what lies behind it. Repeatable\n"
    "  --occluder X,Y,R[,H][,colour=R:G:B][,frames=A:B][,to=X2:Y2][,length=L:DEG]\n"
    "                       a disc of radius R parallel to the plane, centred over\n"
    "                       (X, Y) at height H (default 0: lying on the sheet;\n"
    "                       above it, it moves against the sheet as the camera\n"
    "                       moves, like a fingertip or a hand), of colour R:G:B\n"
    "                       (0..255, default 30:30:30); only in frames A to B;\n"
    "                       moving in a straight line to (X2, Y2) over its frames\n"
    "                       (or the clip); swept L units towards DEG degrees (0:\n"
    "                       +x, 90: +y) into a rounded bar, a finger with its tip\n"
    "                       at (X, Y). Repeatable\n"
    "Light:\n"
    "  --gradient F,DEGREES[,SPAN]\n"
    "                       brightness falling linearly from 1 to F (0 < F <= 1)\n"
    "                       along the direction DEGREES in marker coordinates (0:\n"
    "                       +x, 90: +y), over SPAN units centred on the marker\n"
    "                       (default the marker's width: the paper on one side is\n"
    "                       at F all along the border), constant beyond\n"
    "  --shadow DEGREES,OFFSET,FACTOR[,SOFT]\n"
    "                       a shadow: points p with p . (cos, sin)(DEGREES) beyond\n"
    "                       OFFSET are dimmed to FACTOR (0..1) of their light; the\n"
    "                       edge ramps over SOFT units (default 0: hard)\n"
    "Camera path:\n"
    "  --path NAME          orbit (default): once around, elevation 35..70 degrees;\n"
    "                       approach: from far (2.4 x distance) to near (0.5 x);\n"
    "                       shake: hand-held jitter about a fixed view;\n"
    "                       exit: panning so the marker leaves the picture and\n"
    "                       comes back; pan: moving sideways and turning, so the\n"
    "                       marker leaves the picture for the middle half of the\n"
    "                       clip and comes back, the table always in view;\n"
    "                       still: one view given by --position\n"
    "  --frames N           number of frames (default 90; 1 for still)\n"
    "  --distance D         base camera distance (default 5 x marker width)\n"
    "  --position X,Y,Z     still: camera position (default: 5 widths away,\n"
    "                       60 degrees up, south of the marker)\n"
    "  --target X,Y,Z       still: the point looked at (default 0,0,0)\n"
    "  --roll DEGREES       still: turn about the viewing direction (default 0)\n"
    "Image quality:\n"
    "  --supersample N      N x N samples per pixel (default 2)\n"
    "  --blur SIGMA         Gaussian blur in pixels (default 0)\n"
    "  --gain G             exposure: scales every byte by G (0 < G <= 1, default\n"
    "                       1), before blur and noise\n"
    "  --black B            flat profile: lifts black to B of 255 (0 <= B < 255,\n"
    "                       default 0): v becomes B + (255 - B) x G x v / 255\n"
    "  --noise SIGMA        Gaussian noise per colour byte (default 0)\n"
    "  --motion-blur SHUTTER[,MOMENTS]\n"
    "                       blur along the camera's movement: each frame is the\n"
    "                       mean of MOMENTS renders (default: enough that the\n"
    "                       picture moves about a pixel between them, at most 64)\n"
    "                       over the SHUTTER fraction (0 < SHUTTER <= 1) of the\n"
    "                       frame interval centred on the frame's time; occluders\n"
    "                       move with it. The truth is the pose at the frame's time\n"
    "  --seed N             noise seed (default 1)\n"
    "\n"
    "Marker coordinates: x right and y up on the printed marker, z out of it\n"
    "towards the camera. CSV columns: frame, visible (1 when the whole square is\n"
    "in the picture), min_side_px (its shortest side in pixels), area_px (its\n"
    "area in pixels), centre_x, centre_y (where the marker centre\n"
    "lands), r00..t2 (the marker-to-camera pose [R|t] row by row), and the\n"
    "values Lumeko should store before smoothing: translateX, translateY,\n"
    "translateZ, rotateY, rotateX, rotateZ; then border_covered (the fraction of\n"
    "the black border that occluders and boxes hide) and blur_px (the longest way\n"
    "a corner of the square travels in the picture while the shutter is open).\n"
    "\n"
    "Exit status: 0 on success, 1 on any error.\n";

const char* const TOOL = "lumeko-render";

struct RenderOptions {
    std::string output, truth;
    std::string cameraPath = DEFAULT_CAMERA_FILE;
    std::string picturePath = DEFAULT_MARKER_PICTURE;
    bool wholeMarker = false;
    bool raw = false;
    int quality = 90, fps = 30, frames = -1, supersample = 2, seed = 1;
    int width = 0, height = 0;
    double markerWidth = 80.0, paperMargin = -1.0, distance = -1.0;
    double blur = 0.0, noise = 0.0, roll = 0.0, gain = 1.0, black = 0.0;
    int boardColumns = 0, boardRows = 0;
    double boardSquare = -1.0;
    bool still = false, havePosition = false;
    PathKind path = PathKind::Orbit;
    double position[3] = {0.0, 0.0, 0.0};
    double target[3] = {0.0, 0.0, 0.0};
    Lighting light;
    double gradientSpan = -1.0;  // -1: the marker's width
    std::string tablePath;
    double tableTile = -1.0;
    std::vector<Box> boxes;
    std::vector<Occluder> occluders;
    double shutter = 0.0;
    int shutterMoments = 0;
};

// Whether any of the light, table, boxes, occluders or motion blur is asked for.
bool hasSceneExtras(const RenderOptions& o) {
    return o.light.gradientFloor != 1.0 || o.light.shadow || !o.tablePath.empty() ||
           o.tableTile > 0.0 || !o.boxes.empty() || !o.occluders.empty() || o.shutter > 0.0;
}

// Splits "a,b,c" at its commas.
std::vector<std::string> splitList(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t comma; (comma = text.find(separator, start)) != std::string::npos;
         start = comma + 1) {
        parts.push_back(text.substr(start, comma - start));
    }
    parts.push_back(text.substr(start));
    return parts;
}

// "a,b[,c...]": between `least` and `most` numbers into `values`; their count in `count`.
bool parseNumbers(const std::string& text, size_t least, size_t most, double* values,
                  size_t& count) {
    const std::vector<std::string> parts = splitList(text, ',');
    count = parts.size();
    if (count < least || count > most) {
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        if (!parseDouble(parts[i], values[i])) {
            return false;
        }
    }
    return true;
}

// "X,Y,R[,H][,colour=R:G:B][,frames=A:B][,to=X2:Y2][,length=L:DEGREES]".
bool parseOccluder(const std::string& text, Occluder& o) {
    const std::vector<std::string> parts = splitList(text, ',');
    o.disc = Disc{0.0, 0.0, 0.0, 0.0, {30.0, 30.0, 30.0}};
    double* numbers[4] = {&o.disc.x, &o.disc.y, &o.disc.radius, &o.disc.height};
    size_t count = 0;
    for (const std::string& part : parts) {
        const size_t equals = part.find('=');
        if (equals == std::string::npos) {
            if (count == 4 || !parseDouble(part, *numbers[count])) {
                return false;
            }
            ++count;
            continue;
        }
        const std::string key = part.substr(0, equals);
        const std::vector<std::string> v = splitList(part.substr(equals + 1), ':');
        double a[3] = {0.0, 0.0, 0.0};
        const bool colour = key == "colour" || key == "color";
        const size_t want = colour ? 3 : 2;
        if (v.size() != want) {
            return false;
        }
        for (size_t i = 0; i < want; ++i) {
            if (!parseDouble(v[i], a[i])) {
                return false;
            }
        }
        if (colour) {
            if (*std::min_element(a, a + 3) < 0.0 || *std::max_element(a, a + 3) > 255.0) {
                return false;
            }
            std::copy(a, a + 3, o.disc.colour);
        } else if (key == "frames") {
            if (a[0] != std::floor(a[0]) || a[1] != std::floor(a[1]) || a[0] < 0.0 || a[1] < a[0] ||
                a[1] > 100000.0) {
                return false;
            }
            o.first = static_cast<int>(a[0]);
            o.last = static_cast<int>(a[1]);
        } else if (key == "to") {
            o.moves = true;
            o.toX = a[0];
            o.toY = a[1];
        } else if (key == "length") {
            o.disc.reachX = a[0] * std::cos(a[1] * M_PI / 180.0);
            o.disc.reachY = a[0] * std::sin(a[1] * M_PI / 180.0);
            if (a[0] < 0.0) {
                return false;
            }
        } else {
            return false;
        }
    }
    return count >= 3 && o.disc.radius > 0.0 && o.disc.height >= 0.0;
}

// The light, table, boxes, occluders and motion blur.
bool readSceneOption(const std::string& name, const std::string& value, RenderOptions& o,
                     bool& known) {
    known = true;
    double v[5];
    size_t count = 0;
    if (name == "--gradient") {
        if (!parseNumbers(value, 2, 3, v, count) || !(v[0] > 0.0 && v[0] <= 1.0) ||
            (count == 3 && !(v[2] > 0.0))) {
            return false;
        }
        o.light.gradientFloor = v[0];
        o.light.gradientDegrees = v[1];
        o.gradientSpan = count == 3 ? v[2] : -1.0;
    } else if (name == "--shadow") {
        Lighting& l = o.light;
        if (!parseNumbers(value, 3, 4, v, count) || v[2] < 0.0 || v[2] > 1.0 ||
            (count == 4 && v[3] < 0.0)) {
            return false;
        }
        l.shadow = true;
        l.shadowDegrees = v[0];
        l.shadowOffset = v[1];
        l.shadowFactor = v[2];
        l.shadowSoftness = count == 4 ? v[3] : 0.0;
    } else if (name == "--table") {
        o.tablePath = value;
    } else if (name == "--table-tile") {
        return parseDouble(value, o.tableTile) && o.tableTile > 0.0;
    } else if (name == "--box") {
        if (!parseNumbers(value, 5, 5, v, count) || v[2] <= 0.0 || v[3] <= 0.0 || v[4] <= 0.0) {
            return false;
        }
        o.boxes.push_back(Box{v[0], v[1], v[2], v[3], v[4]});
    } else if (name == "--occluder") {
        return parseOccluder(value, o.occluders.emplace_back());
    } else if (name == "--motion-blur") {
        if (!parseNumbers(value, 1, 2, v, count) || !(v[0] > 0.0 && v[0] <= 1.0) ||
            (count == 2 && (v[1] != std::floor(v[1]) || v[1] < 1.0 || v[1] > 256.0))) {
            return false;
        }
        o.shutter = v[0];
        o.shutterMoments = count == 2 ? static_cast<int>(v[1]) : 0;
    } else {
        known = false;
    }
    return true;
}

bool readOption(const std::string& name, const std::string& value, RenderOptions& o, bool& known) {
    known = true;
    if (name == "--output") {
        o.output = value;
    } else if (name == "--truth") {
        o.truth = value;
    } else if (name == "--camera") {
        o.cameraPath = value;
    } else if (name == "--picture" || name == "--marker") {
        o.picturePath = value;
        o.wholeMarker = name == "--marker";
    } else if (name == "--size") {
        return parseSize(value, o.width, o.height) && o.width > 0 && o.height > 0 &&
               o.width <= 8192 && o.height <= 8192;
    } else if (name == "--quality") {
        return parseInt(value, o.quality) && o.quality >= 1 && o.quality <= 100;
    } else if (name == "--fps") {
        return parseInt(value, o.fps) && o.fps >= 1 && o.fps <= 1000;
    } else if (name == "--frames") {
        return parseInt(value, o.frames) && o.frames >= 1 && o.frames <= 100000;
    } else if (name == "--supersample") {
        return parseInt(value, o.supersample) && o.supersample >= 1 && o.supersample <= 8;
    } else if (name == "--seed") {
        return parseInt(value, o.seed);
    } else if (name == "--marker-width") {
        return parseDouble(value, o.markerWidth) && o.markerWidth > 0.0;
    } else if (name == "--chessboard") {
        return parseSize(value, o.boardColumns, o.boardRows) && o.boardColumns >= 1 &&
               o.boardRows >= 1 && o.boardColumns <= 100 && o.boardRows <= 100;
    } else if (name == "--square") {
        return parseDouble(value, o.boardSquare) && o.boardSquare > 0.0;
    } else if (name == "--paper-margin") {
        return parseDouble(value, o.paperMargin) && o.paperMargin >= 0.0;
    } else if (name == "--distance") {
        return parseDouble(value, o.distance) && o.distance > 0.0;
    } else if (name == "--blur") {
        return parseDouble(value, o.blur) && o.blur >= 0.0 && o.blur <= 50.0;
    } else if (name == "--gain") {
        return parseDouble(value, o.gain) && o.gain > 0.0 && o.gain <= 1.0;
    } else if (name == "--black") {
        return parseDouble(value, o.black) && o.black >= 0.0 && o.black < 255.0;
    } else if (name == "--noise") {
        return parseDouble(value, o.noise) && o.noise >= 0.0;
    } else if (name == "--roll") {
        return parseDouble(value, o.roll);
    } else if (name == "--position") {
        o.havePosition = true;
        return parseDoubleList(value, 3, o.position);
    } else if (name == "--target") {
        return parseDoubleList(value, 3, o.target);
    } else if (name == "--path") {
        o.still = value == "still";
        return o.still || pathFromName(value.c_str(), o.path);
    } else {
        return readSceneOption(name, value, o, known);
    }
    return true;
}

int readOptions(ArgWalker& walker, RenderOptions& options) {
    while (nextArg(walker)) {
        if (walker.name.empty()) {
            return toolError(TOOL, "unexpected argument " + argument(walker) + "\n" + USAGE);
        }
        if (walker.name == "--raw") {
            options.raw = true;
            continue;
        }
        std::string value;
        bool known = true;
        if (!optionValue(walker, value)) {
            readOption(walker.name, value, options, known);
            return known ? missingValue(TOOL, walker.name)
                         : unknownOption(TOOL, walker.name, USAGE);
        }
        if (!readOption(walker.name, value, options, known)) {
            return badValue(TOOL, walker.name, value);
        }
        if (!known) {
            return unknownOption(TOOL, walker.name, USAGE);
        }
    }
    return 0;
}

// Splits "dir/frame_%04d.jpg" around its frame-number field; false when the
// name has none (or a malformed one).
bool splitNumberField(const std::string& name, std::string& before, int& digits,
                      std::string& after) {
    size_t percent = name.find('%');
    if (percent == std::string::npos) {
        return false;
    }
    size_t i = percent + 1;
    digits = 0;
    while (i < name.size() && name[i] >= '0' && name[i] <= '9' && digits < 10) {
        digits = digits * 10 + (name[i] - '0');
        ++i;
    }
    if (i >= name.size() || name[i] != 'd' || name.find('%', i) != std::string::npos) {
        return false;
    }
    before = name.substr(0, percent);
    after = name.substr(i + 1);
    return true;
}

std::string numberedName(const std::string& before, int digits, const std::string& after,
                         int frame) {
    std::string number = std::to_string(frame);
    if (static_cast<int>(number.size()) < digits) {
        number.insert(0, digits - number.size(), '0');
    }
    return before + number + after;
}

std::string replaceExtension(const std::string& path, const char* extension) {
    size_t slash = path.find_last_of('/');
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return path + extension;
    }
    return path.substr(0, dot) + extension;
}

struct Output {
    bool movie = false;
    bool numbered = false;
    std::string before, after;
    int digits = 0;
    AviWriter avi;
};

int prepareOutput(RenderOptions& o, int frameCount, Output& out) {
    if (o.output.empty()) {
        return toolError(TOOL, std::string("--output FILE is needed\n") + USAGE);
    }
    out.movie = hasSuffix(o.output, ".avi");
    if (!out.movie && !hasSuffix(o.output, ".jpg") && !hasSuffix(o.output, ".jpeg") &&
        !hasSuffix(o.output, ".png") && !hasSuffix(o.output, ".ppm")) {
        return toolError(TOOL,
                         o.output + ": the output must end in .avi, .jpg, .jpeg, .png or .ppm");
    }
    if (o.raw && !out.movie) {
        return toolError(TOOL, "--raw applies to .avi movies only");
    }
    if (!out.movie) {
        out.numbered = splitNumberField(o.output, out.before, out.digits, out.after);
        if (!out.numbered && o.output.find('%') != std::string::npos) {
            return toolError(TOOL, o.output + ": a frame-number field looks like %d or %04d");
        }
        if (!out.numbered && frameCount > 1) {
            return toolError(TOOL,
                             "more than one frame needs a frame-number field in the output name, "
                             "for example frame_%04d.jpg");
        }
    }
    if (o.truth.empty()) {
        if (out.numbered) {
            size_t slash = out.before.find_last_of('/');
            o.truth = slash == std::string::npos ? "truth.csv"
                                                 : out.before.substr(0, slash + 1) + "truth.csv";
        } else {
            o.truth = replaceExtension(o.output, ".csv");
        }
    }
    return 0;
}

int loadScene(const RenderOptions& o, Shot& shot) {
    Scene& scene = shot.scene;
    std::string error;
    RgbImage image;
    if (readImage(o.picturePath, image, error) != 0)
        return toolError(TOOL, error + missingDataHint(o.picturePath, "--picture FILE"));
    PictureRect rect = wholePicture(image);
    if (o.wholeMarker && findInnerPicture(image, rect, error) != 0) {
        return toolError(TOOL, o.picturePath + ": " + error);
    }
    if (o.wholeMarker) {
        const int w = static_cast<int>(rect.x1 - rect.x0 + 0.5);
        const int h = static_cast<int>(rect.y1 - rect.y0 + 0.5);
        image = averageDown(image, rect, w < 1 ? 1 : w, h < 1 ? 1 : h);
    }
    scene.picture = image;
    scene.markerWidth = o.markerWidth;
    scene.paperMargin = o.paperMargin >= 0.0 ? o.paperMargin : o.markerWidth / 4.0;
    scene.light = o.light;
    scene.light.gradientSpan = o.gradientSpan > 0.0 ? o.gradientSpan : scene.markerWidth;
    scene.boxes = o.boxes;
    shot.occluders = o.occluders;
    shot.shutter = o.shutter;
    shot.shutterSamples = o.shutterMoments;
    if (!o.tablePath.empty()) {
        RgbImage table;
        if (readImage(o.tablePath, table, error) != 0) {
            return toolError(TOOL, error);
        }
        const double tile = o.tableTile > 0.0 ? o.tableTile : 4.0 * o.markerWidth;
        scene.table = std::make_shared<const TableTexture>(table, tile);
    }
    return 0;
}

int loadCamera(const RenderOptions& o, CameraParam& camera) {
    CameraParam file;
    std::string error;
    if (loadCameraFile(o.cameraPath, file, error) != 0)
        return toolError(TOOL, error);
    const int width = o.width > 0 ? o.width : file.xsize;
    const int height = o.height > 0 ? o.height : file.ysize;
    // Resized by the width alone, as Lumeko resizes it: for another shape
    // the picture is stretched and the truth no camera's.
    const double ratio =
        (static_cast<double>(width) / height) / (static_cast<double>(file.xsize) / file.ysize);
    if (std::fabs(ratio - 1.0) > 0.01)
        std::fprintf(stderr,
                     "%s: warning: --size %dx%d is another aspect ratio than %s (%d x %d); it "
                     "is resized by the width alone, so the picture is stretched. Make a "
                     "camera file of that size, e.g. lumeko-camera write camera.dat --size "
                     "%dx%d --hfov <degrees>, and give it with --camera\n",
                     TOOL, width, height, o.cameraPath.c_str(), file.xsize, file.ysize, width,
                     height);
    if (arResizeCameraParam(file, width, height, camera) != CameraStatus::Ok) {
        return toolError(TOOL, "camera parameter file " + o.cameraPath +
                                   ": values stop being finite when resized to the frame");
    }
    return 0;
}

CameraPose poseOfFrame(const RenderOptions& o, double frame, int frameCount) {
    const double distance = o.distance > 0.0 ? o.distance : 5.0 * o.markerWidth;
    if (o.still) {
        Point3 position{0.0, -0.5 * distance, 0.8660254037844386 * distance};
        if (o.havePosition) {
            position = {o.position[0], o.position[1], o.position[2]};
        }
        return lookAt(position, {o.target[0], o.target[1], o.target[2]}, o.roll);
    }
    return pathPose(o.path, frame, frameCount, o.markerWidth, distance);
}

int writeFrame(Output& out, const RgbImage& frame, int index, int quality, const std::string& path,
               std::string& error) {
    if (out.movie) {
        return aviWriteFrame(out.avi, frame, error);
    }
    const std::string name =
        out.numbered ? numberedName(out.before, out.digits, out.after, index) : path;
    return writeImage(name, frame, quality, error);
}

int render(RenderOptions& o) {
    const int frameCount = o.frames > 0 ? o.frames : (o.still ? 1 : 90);
    Output out;
    Shot shot;
    shot.poseAt = [&](double t) { return poseOfFrame(o, t, frameCount); };
    shot.frameCount = frameCount;
    CameraParam camera;
    const bool chessboard = o.boardColumns > 0;
    if (chessboard && hasSceneExtras(o)) {
        return toolError(
            TOOL, "the table, boxes, occluders, light and motion blur are for the marker only");
    }
    if (prepareOutput(o, frameCount, out) != 0 || (!chessboard && loadScene(o, shot) != 0) ||
        loadCamera(o, camera) != 0) {
        return 1;
    }
    const double square = o.boardSquare > 0.0 ? o.boardSquare : o.markerWidth / 4.0;
    const Chessboard board{o.boardColumns, o.boardRows, square, square};
    std::string error;
    if (out.movie && aviOpen(out.avi, o.output, camera.xsize, camera.ysize, o.fps, !o.raw,
                             o.quality, error) != 0) {
        return toolError(TOOL, error);
    }
    std::string csv = truthCsvHeader();
    RgbImage frame;
    ShotStorage storage;
    int visible = 0;
    ToolProgress progress(frameCount);
    for (int i = 0; i < frameCount; ++i) {
        const CameraPose pose = poseOfFrame(o, i, frameCount);
        SceneTruth sceneTruth;
        if (chessboard) {
            renderChessboard(board, camera, pose, o.supersample, frame);
        } else {
            sceneTruth = renderShotFrame(shot, camera, i, o.supersample, frame, storage);
        }
        applyExposure(frame, o.gain, o.black);
        blurImage(frame, o.blur);
        addNoise(frame, o.noise, static_cast<unsigned>(o.seed) * 7919u + static_cast<unsigned>(i));
        if (writeFrame(out, frame, i, o.quality, o.output, error) != 0) {
            if (out.movie) {
                std::string ignored;
                aviClose(out.avi, ignored);
            }
            progress.end();
            return toolError(TOOL, error);
        }
        const MarkerView view = viewOfMarker(camera, pose, o.markerWidth);
        visible += chessboard ? rectangleInView(camera, pose, (board.columns + 1) * square / 2.0,
                                                (board.rows + 1) * square / 2.0)
                              : view.visible;
        csv += truthCsvLine(i, view, pose, keyValuesOfPose(pose), sceneTruth);
        progress.show(i + 1);
    }
    progress.end();
    if (out.movie && aviClose(out.avi, error) != 0) {
        return toolError(TOOL, error);
    }
    if (writeFileBytes(o.truth, reinterpret_cast<const unsigned char*>(csv.data()), csv.size(),
                       error) != 0) {
        return toolError(TOOL, error);
    }
    std::printf("wrote %d frame%s of %d x %d to %s (%s fully in view in %d), truth in %s\n",
                frameCount, frameCount == 1 ? "" : "s", camera.xsize, camera.ysize,
                o.output.c_str(), chessboard ? "board" : "marker", visible, o.truth.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (answerHelpOrVersion(argc, argv, TOOL, USAGE, HELP))
        return 0;
    if (argc < 2) {
        std::fputs(USAGE, stderr);
        return 1;
    }
    ArgWalker walker{argc, argv};
    RenderOptions options;
    if (readOptions(walker, options) != 0) {
        return 1;
    }
    return render(options);
}
