// lumeko-render: synthetic footage of a marker with a known camera path, and
// the true pose of every frame.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "camera/camera_param.h"
#include "cli/progress_line.h"
#include "cli/tool.h"
#include "tools/common/avi_writer.h"
#include "tools/common/data_files.h"
#include "tools/common/image_io.h"
#include "tools/common/marker_picture.h"
#include "tools/render/camera_path.h"
#include "tools/render/marker_set.h"
#include "tools/render/pose_truth.h"
#include "tools/render/scene_render.h"
#include "tools/render/shot_render.h"

namespace {

const char* const TOOL = "lumeko-render";

const ToolText TEXT = {
    TOOL,
    "Usage:\n"
    "  lumeko-render --output FILE [options]\n"
    "  lumeko-render --help\n",
    "\n"
    "Renders a printed marker lying on a table, filmed by a camera moving along\n"
    "a path, through a camera parameter file's projection and lens distortion.\n"
    "Writes the frames and a CSV file with the true pose of every frame.\n"
    "\n",
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
    "Exit status: 0 on success, 1 on any error.\n",
};

struct RenderOptions {
    std::string output, truth;
    std::string cameraPath = DEFAULT_CAMERA_FILE;
    std::string picturePath = DEFAULT_MARKER_PICTURE;
    bool wholeMarker = false;
    bool raw = false;
    bool jitterSamples = false;
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
    std::string setPath;          // --set: further markers around the first
    std::vector<SetMarker> set;   // read from it
    std::vector<PathView> views;  // --via: the camera's views
};

// Whether any of the light, table, boxes, occluders or motion blur is asked for.
bool hasSceneExtras(const RenderOptions& o) {
    return o.light.gradientFloor != 1.0 || o.light.shadow || !o.tablePath.empty() ||
           o.tableTile > 0.0 || !o.boxes.empty() || !o.occluders.empty() || o.shutter > 0.0;
}

// "X,Y,R[,H][,colour=R:G:B][,frames=A:B][,to=X2:Y2][,length=L:DEGREES]".
bool parseOccluder(const std::string& text, Occluder& o) {
    std::vector<std::string> parts;
    for (size_t start = 0, end; start <= text.size(); start = end + 1)
        parts.push_back(
            text.substr(start, (end = std::min(text.find(',', start), text.size())) - start));
    o.disc = Disc{0.0, 0.0, 0.0, 0.0, {30.0, 30.0, 30.0}};
    double* numbers[4] = {&o.disc.x, &o.disc.y, &o.disc.radius, &o.disc.height};
    size_t given = 0;
    for (const std::string& part : parts) {
        const size_t equals = part.find('=');
        if (equals == std::string::npos) {
            if (given == 4 || !parseDouble(part, *numbers[given])) {
                return false;
            }
            ++given;
            continue;
        }
        const std::string key = part.substr(0, equals);
        double a[3] = {0.0, 0.0, 0.0};
        const bool colour = key == "colour" || key == "color";
        size_t count = 0;
        if (!parseNumbers(part.substr(equals + 1), colour ? 3 : 2, colour ? 3 : 2, a, count, ':'))
            return false;
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
    return given >= 3 && o.disc.radius > 0.0 && o.disc.height >= 0.0;
}

// "F,DEGREES[,SPAN]".
bool takeGradient(const std::string& value, RenderOptions& o) {
    double v[3];
    size_t count = 0;
    if (!parseNumbers(value, 2, 3, v, count) || !(v[0] > 0.0 && v[0] <= 1.0) ||
        (count == 3 && !(v[2] > 0.0)))
        return false;
    o.light.gradientFloor = v[0];
    o.light.gradientDegrees = v[1];
    o.gradientSpan = count == 3 ? v[2] : -1.0;
    return true;
}

// "DEGREES,OFFSET,FACTOR[,SOFT]".
bool takeShadow(const std::string& value, Lighting& l) {
    double v[4];
    size_t count = 0;
    if (!parseNumbers(value, 3, 4, v, count) || v[2] < 0.0 || v[2] > 1.0 ||
        (count == 4 && v[3] < 0.0))
        return false;
    l.shadow = true;
    l.shadowDegrees = v[0];
    l.shadowOffset = v[1];
    l.shadowFactor = v[2];
    l.shadowSoftness = count == 4 ? v[3] : 0.0;
    return true;
}

// "X,Y,W,D,H".
bool takeBox(const std::string& value, std::vector<Box>& boxes) {
    double v[5];
    size_t count = 0;
    if (!parseNumbers(value, 5, 5, v, count) || v[2] <= 0.0 || v[3] <= 0.0 || v[4] <= 0.0)
        return false;
    boxes.push_back(Box{v[0], v[1], v[2], v[3], v[4]});
    return true;
}

// "SHUTTER[,MOMENTS]".
bool takeMotionBlur(const std::string& value, RenderOptions& o) {
    double v[2];
    size_t count = 0;
    if (!parseNumbers(value, 1, 2, v, count) || !(v[0] > 0.0 && v[0] <= 1.0) ||
        (count == 2 && (v[1] != std::floor(v[1]) || v[1] < 1.0 || v[1] > 256.0)))
        return false;
    o.shutter = v[0];
    o.shutterMoments = count == 2 ? static_cast<int>(v[1]) : 0;
    return true;
}

OptionTable outputOptions(RenderOptions& o) {
    return {
        heading("Output:"),
        textOption("--output", "FILE",
                   ".avi: one movie (Motion JPEG unless --raw);\n"
                   ".jpg/.jpeg (or lossless .png/.ppm): stills; for more\n"
                   "than one frame the name needs a frame-number field\n"
                   "such as frame_%04d.jpg",
                   o.output),
        flag("--raw", "uncompressed 24-bit movie instead of Motion JPEG", o.raw),
        textOption("--truth", "FILE",
                   "the ground-truth CSV (default: the output name with\n"
                   ".csv for its extension; for numbered stills,\n"
                   "truth.csv next to them)",
                   o.truth),
        intOption("--quality", "Q", "JPEG quality 1..100 (default 90)", o.quality, 1, 100),
        intOption("--fps", "N", "frames per second of the movie (default 30)", o.fps, 1, 1000),
    };
}

OptionTable sceneOptions(RenderOptions& o) {
    const auto picture = [&o](bool whole) {
        return [&o, whole](const std::string& value) {
            o.wholeMarker = whole;
            return (o.picturePath = value), true;
        };
    };
    return {
        heading("Scene:"),
        textOption("--camera", "FILE",
                   "camera parameter file (default Data/camera_para.dat);\n"
                   "rescaled to the output size by the width ratio",
                   o.cameraPath),
        {"--size", "WxH", "output size (default: the camera file's size)",
         [&o](const std::string& value) {
             return parseSize(value, o.width, o.height) && o.width > 0 && o.height > 0 &&
                    o.width <= 8192 && o.height <= 8192;
         }},
        {"--picture", "FILE",
         "the marker's inner picture, JPEG, PNG or PPM (default\n"
         "Data/sample_marker_picture.ppm)",
         picture(false)},
        {"--marker", "FILE",
         "instead of --picture: a whole marker image (black\n"
         "square, picture in its central half)",
         picture(true)},
        doubleOption("--marker-width", "W",
                     "printed width of the black square (default 80); the\n"
                     "unit of all positions",
                     o.markerWidth, positive),
        doubleOption("--paper-margin", "M", "white paper around the square (default W/4)",
                     o.paperMargin, notNegative),
        {"--chessboard", "CxR",
         "instead of the marker: a chessboard of C x R inner\n"
         "corners on a grey table, for lumeko-calibrate",
         [&o](const std::string& value) {
             return parseSize(value, o.boardColumns, o.boardRows) && o.boardColumns >= 1 &&
                    o.boardRows >= 1 && o.boardColumns <= 100 && o.boardRows <= 100;
         }},
        doubleOption("--square", "S",
                     "its squares' side (default W/4); one square of white\n"
                     "paper around it",
                     o.boardSquare, positive),
        textOption("--table", "PICTURE",
                   "the table under the sheet: a JPEG, PNG or PPM picture\n"
                   "tiled over the plane (top row towards +y) instead of\n"
                   "the plain light wood",
                   o.tablePath),
        doubleOption("--table-tile", "SIZE", "width of one tile of it (default 4 x W)", o.tableTile,
                     positive),
        textOption("--set", "FILE",
                   "further markers, a line each: PICTURE WIDTH X Y Z RX RY RZ\n"
                   "(centre in the first marker's coordinates, turned RX\n"
                   "degrees about x, then RY about y, then RZ about z); the\n"
                   "true layout goes to the truth name with .layout.csv",
                   o.setPath, true),
        {"--via", "X,Y,Z,TX,TY,TZ",
         "a view the camera passes through (repeatable, two or more\n"
         "make a path): its position and the point it looks at",
         [&o](const std::string& value) {
             double v[6];
             if (!parseDoubleList(value, 6, v))
                 return false;
             o.views.push_back({{v[0], v[1], v[2]}, {v[3], v[4], v[5]}});
             return true;
         }},
        {"--box", "X,Y,W,D,H",
         "a box standing on the table, its base centred on (X, Y),\n"
         "W along x, D along y, H high; its faces are squares in\n"
         "many shades; it hides what lies behind it. Repeatable",
         [&o](const std::string& value) { return takeBox(value, o.boxes); }},
        {"--occluder", "X,Y,R[,H][,colour=R:G:B][,frames=A:B][,to=X2:Y2][,length=L:DEG]",
         "a disc of radius R parallel to the plane, centred over\n"
         "(X, Y) at height H (default 0: lying on the sheet;\n"
         "above it, it moves against the sheet as the camera\n"
         "moves, like a fingertip or a hand), of colour R:G:B\n"
         "(0..255, default 30:30:30); only in frames A to B;\n"
         "moving in a straight line to (X2, Y2) over its frames\n"
         "(or the clip); swept L units towards DEG degrees (0:\n"
         "+x, 90: +y) into a rounded bar, a finger with its tip\n"
         "at (X, Y). Repeatable",
         [&o](const std::string& value) {
             return parseOccluder(value, o.occluders.emplace_back());
         }},
    };
}

OptionTable lightAndPathOptions(RenderOptions& o) {
    return {
        heading("Light:"),
        {"--gradient", "F,DEGREES[,SPAN]",
         "brightness falling linearly from 1 to F (0 < F <= 1)\n"
         "along the direction DEGREES in marker coordinates (0:\n"
         "+x, 90: +y), over SPAN units centred on the marker\n"
         "(default the marker's width: the paper on one side is\n"
         "at F all along the border), constant beyond",
         [&o](const std::string& value) { return takeGradient(value, o); }},
        {"--shadow", "DEGREES,OFFSET,FACTOR[,SOFT]",
         "a shadow: points p with p . (cos, sin)(DEGREES) beyond\n"
         "OFFSET are dimmed to FACTOR (0..1) of their light; the\n"
         "edge ramps over SOFT units (default 0: hard)",
         [&o](const std::string& value) { return takeShadow(value, o.light); }},
        heading("Camera path:"),
        {"--path", "NAME",
         "orbit (default): once around, elevation 35..70 degrees;\n"
         "approach: from far (2.4 x distance) to near (0.5 x);\n"
         "shake: hand-held jitter about a fixed view;\n"
         "exit: panning so the marker leaves the picture and\n"
         "comes back; pan: moving sideways and turning, so the\n"
         "marker leaves the picture for the middle half of the\n"
         "clip and comes back, the table always in view;\n"
         "sway: swinging the aim from side to side across the\n"
         "marker, fast between the turns;\n"
         "still: one view given by --position",
         [&o](const std::string& value) {
             o.still = value == "still";
             return o.still || pathFromName(value.c_str(), o.path);
         }},
        intOption("--frames", "N", "number of frames (default 90; 1 for still)", o.frames, 1,
                  100000),
        doubleOption("--distance", "D", "base camera distance (default 5 x marker width)",
                     o.distance, positive),
        {"--position", "X,Y,Z",
         "still: camera position (default: 5 widths away,\n"
         "60 degrees up, south of the marker)",
         [&o](const std::string& value) {
             return (o.havePosition = true) && parseDoubleList(value, 3, o.position);
         }},
        {"--target", "X,Y,Z", "still: the point looked at (default 0,0,0)",
         [&o](const std::string& value) { return parseDoubleList(value, 3, o.target); }},
        doubleOption("--roll", "DEGREES", "still: turn about the viewing direction (default 0)",
                     o.roll),
    };
}

OptionTable qualityOptions(RenderOptions& o) {
    return {
        heading("Image quality:"),
        intOption("--supersample", "N", "N x N samples per pixel (default 2)", o.supersample, 1, 8),
        flag("--jitter-samples",
             "each sample at a place of its own in its cell of the N x N\n"
             "grid (the same in every run): a side along the rows or\n"
             "columns is not drawn with the same steps in every pixel",
             o.jitterSamples),
        doubleOption("--blur", "SIGMA", "Gaussian blur in pixels (default 0)", o.blur,
                     [](double v) { return v >= 0.0 && v <= 50.0; }),
        doubleOption("--gain", "G",
                     "exposure: scales every byte by G (0 < G <= 1, default\n"
                     "1), before blur and noise",
                     o.gain, [](double v) { return v > 0.0 && v <= 1.0; }),
        doubleOption("--black", "B",
                     "flat profile: lifts black to B of 255 (0 <= B < 255,\n"
                     "default 0): v becomes B + (255 - B) x G x v / 255",
                     o.black, [](double v) { return v >= 0.0 && v < 255.0; }),
        doubleOption("--noise", "SIGMA", "Gaussian noise per colour byte (default 0)", o.noise,
                     notNegative),
        {"--motion-blur", "SHUTTER[,MOMENTS]",
         "blur along the camera's movement: each frame is the\n"
         "mean in light of MOMENTS renders (default: enough that\n"
         "the picture moves about a pixel between them, at most\n"
         "64)\n"
         "over the SHUTTER fraction (0 < SHUTTER <= 1) of the\n"
         "frame interval centred on the frame's time; occluders\n"
         "move with it. The truth is the pose at the frame's time",
         [&o](const std::string& value) { return takeMotionBlur(value, o); }},
        {"--seed", "N", "noise seed (default 1)",
         [&o](const std::string& value) { return parseInt(value, o.seed); }},
    };
}

OptionTable optionTable(RenderOptions& o) {
    OptionTable table;
    for (OptionTable part :
         {outputOptions(o), sceneOptions(o), lightAndPathOptions(o), qualityOptions(o)})
        table.insert(table.end(), part.begin(), part.end());
    return table;
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
        return toolError(TOOL, std::string("--output FILE is needed\n") + TEXT.usage);
    }
    out.movie = hasSuffix(o.output, ".avi");
    if (!out.movie && !hasSuffix(o.output, PICTURE_SUFFIXES)) {
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
    if (const InputProblem read = readPicture(o.picturePath, image); !read.ok())
        return toolError(TOOL, read.reason + missingDataHint(o.picturePath, "--picture FILE"));
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
    for (const SetMarker& marker : o.set) {
        RgbImage sheetPicture;
        if (const InputProblem read = readPicture(marker.picture, sheetPicture); !read.ok())
            return toolError(TOOL, read.reason);
        scene.sheets.push_back({sheetPicture, marker.width, marker.toWorld});
    }
    shot.occluders = o.occluders;
    shot.shutter = o.shutter;
    shot.shutterSamples = o.shutterMoments;
    shot.jitterSamples = o.jitterSamples;
    if (!o.tablePath.empty()) {
        RgbImage table;
        if (const InputProblem read = readPicture(o.tablePath, table); !read.ok())
            return toolError(TOOL, read.reason);
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
    if (o.views.size() >= 2) {
        return viewsPose(o.views, frame, frameCount);
    }
    if (o.still) {
        Point3 position{0.0, -0.5 * distance, 0.8660254037844386 * distance};
        if (o.havePosition) {
            position = {o.position[0], o.position[1], o.position[2]};
        }
        return lookAt(position, {o.target[0], o.target[1], o.target[2]}, o.roll);
    }
    return pathPose(o.path, frame, frameCount, o.markerWidth, distance);
}

// The files the frames go to: the movie, or each still.
std::vector<std::string> frameFiles(const RenderOptions& o, const Output& out, int frameCount) {
    if (!out.numbered)
        return {o.output};
    std::vector<std::string> names;
    for (int i = 0; i < frameCount; ++i)
        names.push_back(numberedName(out.before, out.digits, out.after, i));
    return names;
}

// Renders every frame into the movie opened as `movieName`, or into its
// still, and the truth into `csv`. 0, or -1 with `error` set.
int renderFrames(const RenderOptions& o, Shot& shot, const CameraParam& camera, Output& out,
                 const std::string& movieName, std::string& csv, int& visible,
                 std::vector<int>& setViews, std::string& error) {
    const bool chessboard = o.boardColumns > 0;
    const double square = o.boardSquare > 0.0 ? o.boardSquare : o.markerWidth / 4.0;
    const Chessboard board{o.boardColumns, o.boardRows, square, square};
    if (out.movie && aviOpen(out.avi, movieName, camera.xsize, camera.ysize, o.fps, !o.raw,
                             o.quality, error) != 0)
        return -1;
    RgbImage frame;
    ShotStorage storage;
    std::fill(setViews.begin(), setViews.end(), 0);
    ProgressLine progress;
    int status = 0;
    for (int i = 0; i < shot.frameCount && status == 0; ++i) {
        const CameraPose pose = shot.poseAt(i);
        SceneTruth sceneTruth;
        if (chessboard)
            renderChessboard(board, camera, pose, o.supersample, frame);
        else
            sceneTruth = renderShotFrame(shot, camera, i, o.supersample, frame, storage);
        applyExposure(frame, o.gain, o.black);
        blurImage(frame, o.blur);
        addNoise(frame, o.noise, static_cast<unsigned>(o.seed) * 7919u + static_cast<unsigned>(i));
        const std::string name =
            out.numbered ? numberedName(out.before, out.digits, out.after, i) : o.output;
        status = out.movie ? aviWriteFrame(out.avi, frame, error)
                           : writeImage(name, frame, o.quality, error);
        const MarkerView view = viewOfMarker(camera, pose, o.markerWidth);
        visible += chessboard ? rectangleInView(camera, pose, (board.columns + 1) * square / 2.0,
                                                (board.rows + 1) * square / 2.0)
                              : view.visible;
        csv += truthCsvLine(i, view, pose, keyValuesOfPose(pose), sceneTruth);
        if (!o.set.empty()) {
            setViews[0] += view.visible;
            for (size_t k = 0; k < o.set.size(); ++k)
                setViews[k + 1] +=
                    viewOfMarker(camera, arPoseCompose(pose, o.set[k].toWorld), o.set[k].width)
                        .visible;
        }
        progress.show(i + 1, shot.frameCount);
    }
    progress.erase();
    std::string closing;
    if (out.movie && aviClose(out.avi, status == 0 ? error : closing) != 0)
        status = -1;
    return status;
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
    if (prepareOutput(o, frameCount, out) != 0) {
        return 1;
    }
    std::string error;
    if (!o.setPath.empty() && (chessboard || !readMarkerSet(o.setPath, o.set, error)))
        return toolError(TOOL, chessboard ? "--set is for markers, not a chessboard" : error);
    std::vector<std::string> outputs = frameFiles(o, out, frameCount);
    outputs.push_back(o.truth);
    const std::string layoutTruth = replaceExtension(o.truth, ".layout.csv");
    if (!o.set.empty())
        outputs.push_back(layoutTruth);
    std::vector<std::string> inputs = {o.cameraPath, chessboard ? "" : o.picturePath, o.tablePath,
                                       o.setPath};
    for (const SetMarker& marker : o.set)
        inputs.push_back(marker.picture);
    if (refuseClash(TOOL, outputs, inputs) != 0 || (!chessboard && loadScene(o, shot) != 0) ||
        loadCamera(o, camera) != 0) {
        return 1;
    }
    std::string csv = truthCsvHeader();
    int visible = 0;
    std::vector<int> setViews(o.set.size() + 1, 0);
    if (!out.movie && renderFrames(o, shot, camera, out, "", csv, visible, setViews, error) != 0)
        return toolError(TOOL, error);
    if (out.movie) {
        const FileResult written = replaceFileNamed(o.output, [&](const std::string& name) {
            return renderFrames(o, shot, camera, out, name, csv, visible, setViews, error) == 0;
        });
        if (!written.ok())
            return toolError(TOOL, error.empty() ? writeProblem(o.output, written) : error);
    }
    if (writeTextFile(o.truth, csv, error) != 0) {
        return toolError(TOOL, error);
    }
    if (!o.set.empty() &&
        writeTextFile(layoutTruth, layoutTruthCsv(o.picturePath, o.markerWidth, o.set, setViews),
                      error) != 0)
        return toolError(TOOL, error);
    std::printf("wrote %d frame%s of %d x %d to %s (%s fully in view in %d), truth in %s\n",
                frameCount, frameCount == 1 ? "" : "s", camera.xsize, camera.ysize,
                o.output.c_str(), chessboard ? "board" : "marker", visible, o.truth.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    RenderOptions options;
    return runTool(
        TEXT, optionTable(options), argc, argv, [&](const std::vector<std::string>& positional) {
            if (!positional.empty())
                return toolError(TOOL, "unexpected argument " + positional[0] + "\n" + TEXT.usage);
            return render(options);
        });
}
