// lumeko-calibrate: finds a printed chessboard, or Lumeko's marker, in photos
// or movies of it and fits the camera parameter file Lumeko reads.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "camera/camera_param.h"
#include "camera/distortion.h"
#include "media/movie_file.h"
#include "tools/calibrate/board_views.h"
#include "tools/calibrate/camera_fit.h"
#include "tools/calibrate/marker_views.h"
#include "tools/camera/camera_file.h"
#include "tools/common/image_io.h"
#include "tools/common/progress_line.h"
#include "tools/common/tool_args.h"

namespace {

const char* const USAGE =
    "Usage:\n"
    "  lumeko-calibrate --board COLSxROWS --square SIZE --output FILE [options] INPUT...\n"
    "  lumeko-calibrate --board COLSxROWS --square SIZE --print-only [options] INPUT...\n"
    "  lumeko-calibrate --marker PATTERN --width W --output FILE [options] INPUT...\n"
    "  lumeko-calibrate --marker PATTERN --width W --print-only [options] INPUT...\n"
    "  lumeko-calibrate --board COLSxROWS --print-board PICTURE [--square-pixels N]\n"
    "  lumeko-calibrate --help\n";

const char* const HELP =
    "\n"
    "Finds a printed chessboard in every INPUT (JPEG, PNG, PPM or PGM stills, or a\n"
    "movie: every Nth frame) and fits the camera's focal lengths, principal point\n"
    "and radial lens distortion to the corners found, then writes the camera\n"
    "parameter file Lumeko reads (one 136-byte record).\n"
    "\n"
    "  --board COLSxROWS    inner corners of the board (where four squares meet)\n"
    "                       across and down, e.g. 9x6 for a board of 10 x 7 squares\n"
    "  --square SIZE        printed side of one square (any unit; only its ratio\n"
    "                       to other lengths matters)\n"
    "  --marker PATTERN     instead of a board: Lumeko's marker, by its pattern\n"
    "                       file, in every frame where it is found (see below)\n"
    "  --width W            the marker's printed width (any unit)\n"
    "  --output FILE        the camera file to write, e.g. Data/camera_para.dat;\n"
    "                       an existing file is replaced only when all went well\n"
    "  --print-only         report and print the record, write nothing\n"
    "  --size WxH           write the record for frames of W x H (scaled from the\n"
    "                       views' size by the width ratio, as Lumeko does)\n"
    "  --every N            movies: look at every Nth frame (default 10; 1 for\n"
    "                       the marker)\n"
    "  --max-edge-width PX  reject views whose black-to-white edges are wider than\n"
    "                       PX pixels, i.e. blurred (default 4)\n"
    "  --fit-centre         fit the distortion centre apart from the principal\n"
    "                       point (default: the same point)\n"
    "  --no-distortion      fit a camera without lens distortion\n"
    "  --print-board FILE   write a printable board picture (PNG or JPEG) and stop\n"
    "  --square-pixels N    its squares' side in pixels (default 100)\n"
    "\n"
    "Views are rejected when no whole board is found, when it is blurred, or\n"
    "when it repeats an earlier view (corners less than 1 % of the width away on\n"
    "average). At least 3 usable views are needed; 10 or more, with the board\n"
    "reaching every corner of the frame in some of them, give a good file.\n"
    "\n"
    "With --marker the views are the marker's four corners, measured on its\n"
    "edges to a fraction of a pixel (a view whose edges cannot all be measured\n"
    "is rejected). Four corners a view fix less than a board: one focal length\n"
    "is fitted; the principal point only when the views fix it (else the middle\n"
    "of the frame), and the lens distortion only when the views tell it from\n"
    "none; the report says which, and how far off the focal length could be.\n"
    "Film the marker from many directions, tilted by 30 to 60 degrees, near\n"
    "and far, and let it reach the frame's corners.\n"
    "\n"
    "Exit status: 0 on success, 1 on any error.\n";

constexpr int MIN_VIEWS = 3;
constexpr int ENOUGH_VIEWS = 10;
constexpr double WARN_RMS = 1.0;
// The marker: how far off the focal length may be (three sigmas, as a fraction)
// before a warning, and before the views are refused as too alike.
constexpr double WARN_FOCAL_DOUBT = 0.01;
constexpr double REFUSE_FOCAL_DOUBT = 0.2;

const char* const TOOL = "lumeko-calibrate";

void warn(const std::string& message) {
    std::fprintf(stderr, "lumeko-calibrate: warning: %s\n", message.c_str());
}

struct Options {
    BoardGeometry board;
    bool haveBoard = false;
    std::string markerPattern;  // the marker's pattern file, instead of a board
    double markerWidth = 0.0;
    bool marker() const { return !markerPattern.empty(); }
    std::string output;
    bool printOnly = false;
    int width = 0, height = 0;
    int every = 0;  // 0: the default, 10 for the board and 1 for the marker
    double maxEdgeWidth = 4.0;
    FitSettings fit;
    std::string boardPicture;
    int squarePixels = 100;
    std::vector<std::string> inputs;
};

int readOptions(ArgWalker& walker, Options& o) {
    while (nextArg(walker)) {
        if (walker.name.empty()) {
            o.inputs.push_back(argument(walker));
            continue;
        }
        const std::string name = walker.name;
        if (name == "--print-only") {
            o.printOnly = true;
            continue;
        }
        if (name == "--fit-centre") {
            o.fit.fitCentre = true;
            continue;
        }
        if (name == "--no-distortion") {
            o.fit.fitDistortion = false;
            continue;
        }
        std::string value;
        if (!optionValue(walker, value)) {
            return missingValue(TOOL, name);
        }
        bool ok = true;
        if (name == "--board") {
            ok = parseSize(value, o.board.columns, o.board.rows) && o.board.columns >= 2 &&
                 o.board.rows >= 2 && o.board.columns <= 100 && o.board.rows <= 100;
            o.haveBoard = ok;
        } else if (name == "--square") {
            ok = parseDouble(value, o.board.square) && o.board.square > 0.0 &&
                 std::isfinite(o.board.square);
        } else if (name == "--marker") {
            o.markerPattern = value;
            ok = !value.empty();
        } else if (name == "--width") {
            ok = parseDouble(value, o.markerWidth) && o.markerWidth > 0.0;
        } else if (name == "--output") {
            o.output = value;
        } else if (name == "--size") {
            ok = parseSize(value, o.width, o.height) && o.width > 0 && o.height > 0;
        } else if (name == "--every") {
            ok = parseInt(value, o.every) && o.every >= 1;
        } else if (name == "--max-edge-width") {
            ok = parseDouble(value, o.maxEdgeWidth) && o.maxEdgeWidth > 0.0;
        } else if (name == "--print-board") {
            o.boardPicture = value;
        } else if (name == "--square-pixels") {
            ok = parseInt(value, o.squarePixels) && o.squarePixels >= 4 && o.squarePixels <= 1000;
        } else {
            return unknownOption(TOOL, name, USAGE);
        }
        if (!ok) {
            return badValue(TOOL, name, value);
        }
    }
    return 0;
}

// One input picture or movie frame and what became of it.
struct View {
    std::string name;
    bool boardFound = false;  // the board, or the marker
    bool used = false;
    std::string reason;  // why it was rejected
    std::vector<BoardCorner> corners;
    double rms = 0.0;
};

struct Collection {
    std::vector<View> views;
    int width = 0, height = 0;
    std::string firstName;
    std::unique_ptr<MarkerFinder> markerFinder;  // the marker's, for frames of this size
    cv::Mat frame;                               // a view as Lumeko's frames hold it
};

// Why a view is not used, or "" when it is; `edgeWidth` is the board's, or
// for the marker negative when its edges could not be measured.
std::string rejection(const Options& o, const Collection& c, const View& view, double edgeWidth) {
    char text[200];
    if (o.marker() && !view.boardFound) {
        return "marker not found";
    }
    if (o.marker() && edgeWidth < 0.0) {
        return "the marker's edges could not all be measured (blurred, cut by the frame's "
               "border or against a dark background)";
    }
    if (!view.boardFound) {
        std::snprintf(text, sizeof text, "no chessboard of %d x %d inner corners found",
                      o.board.columns, o.board.rows);
        return text;
    }
    if (!(edgeWidth <= o.maxEdgeWidth)) {
        std::snprintf(text, sizeof text, "blurred: edges %.1f px wide (at most %.1f)", edgeWidth,
                      o.maxEdgeWidth);
        return text;
    }
    for (const View& earlier : c.views) {
        const double distance =
            earlier.used ? meanCornerDistance(earlier.corners, view.corners) : INFINITY;
        if (distance < 0.01 * c.width) {
            std::snprintf(text, sizeof text, "%.1f", distance);
            return "repeats " + earlier.name + ": corners " + text + " px away on average";
        }
    }
    return "";
}

// Looks for the marker in a colour picture (blue, green, red); false when it
// was not found, with `edgeWidth` negative when its edges could not be measured.
bool findMarker(const cv::Mat& colour, Collection& c, std::vector<BoardCorner>& corners,
                double& edgeWidth) {
    cv::cvtColor(colour, c.frame, cv::COLOR_BGR2BGRA);
    const FrameImage frame{c.frame.data, c.frame.cols, c.frame.rows};
    const MarkerSight sight = c.markerFinder->find(frame, corners);
    edgeWidth = sight == MarkerSight::NotRefined ? -1.0 : 0.0;
    return sight != MarkerSight::NotFound;
}

// Looks for the board (in a grey picture) or the marker (in a colour one) and
// records the view. -1 when the picture's size differs from the first one's,
// or the marker's pattern cannot be loaded (the run cannot go on).
int addView(const Options& o, const std::string& name, const cv::Mat& picture, Collection& c) {
    if (c.views.empty()) {
        c.width = picture.cols;
        c.height = picture.rows;
        c.firstName = name;
        if (o.marker()) {
            std::string error;
            c.markerFinder = MarkerFinder::create(o.markerPattern, c.width, c.height, error);
            if (c.markerFinder == nullptr) {
                toolError(TOOL, error);
                return -1;
            }
        }
    } else if (picture.cols != c.width || picture.rows != c.height) {
        toolError(TOOL, "inconsistent image sizes: " + name + " is " +
                            std::to_string(picture.cols) + " x " + std::to_string(picture.rows) +
                            ", " + c.firstName + " is " + std::to_string(c.width) + " x " +
                            std::to_string(c.height) + "; calibrate one camera setting at a time");
        return -1;
    }
    View view;
    view.name = name;
    double edgeWidth = 0.0;
    try {
        view.boardFound = o.marker() ? findMarker(picture, c, view.corners, edgeWidth)
                                     : findBoardCorners(picture, o.board, view.corners, edgeWidth);
        view.reason = rejection(o, c, view, edgeWidth);
    } catch (const cv::Exception& e) {
        view.boardFound = false;
        view.reason =
            std::string(o.marker() ? "the marker search failed: " : "the board search failed: ") +
            e.what();
    }
    view.used = view.reason.empty();
    if (!view.used) {
        view.corners.clear();
    }
    c.views.push_back(std::move(view));
    return 0;
}

bool isStill(const std::string& path) {
    for (const char* suffix : {".jpg", ".jpeg", ".png", ".ppm", ".pgm"}) {
        if (hasSuffix(path, suffix)) {
            return true;
        }
    }
    return false;
}

// A still through the tools' picture reader, as grey.
int readStill(const Options& o, const std::string& path, Collection& c) {
    RgbImage picture;
    std::string error;
    if (readImage(path, picture, error) != 0) {
        return toolError(TOOL, error.starts_with("cannot open") ? error : "cannot read " + error);
    }
    const cv::Mat rgb(picture.height, picture.width, CV_8UC3, picture.rgb.data());
    cv::Mat view;
    cv::cvtColor(rgb, view, o.marker() ? cv::COLOR_RGB2BGR : cv::COLOR_RGB2GRAY);
    return addView(o, path, view, c) == 0 ? 0 : 1;
}

// Every Nth frame of a movie, decoded as Lumeko decodes movies: frames of at
// most 8192 pixels on a side, whatever the header claims.
int readMovie(const Options& o, const std::string& path, Collection& c) {
    MovieFile movie;
    int width = 0, height = 0;
    if (movie.open(path.c_str()) != 0 || movie.openVideoStream() != 0 ||
        movie.openDecoder(0) != 0) {
        return toolError(TOOL,
                         "cannot open " + path +
                             " as a movie (stills must end in .jpg, .jpeg, .png, .ppm or .pgm)");
    }
    if (!movie.peekPictureSize(width, height)) {
        return toolError(TOOL, movie.outOfMemory() ? "memory ran out decoding " + path
                                                   : "no frame could be read from " + path);
    }
    std::vector<unsigned char> bgra(static_cast<size_t>(width) * height * 4 + FRAME_CONVERT_SLACK);
    const cv::Mat frame(height, width, CV_8UC4, bgra.data());
    cv::Mat view;
    int looked = 0;
    long long number = 0;
    const int every = o.every > 0 ? o.every : o.marker() ? 1 : 10;
    ToolProgress progress(movie.info().length);
    for (MovieFile::Found found; (found = movie.decodePicture(number)) != MovieFile::Found::End;) {
        progress.show(number + 1);
        if (found == MovieFile::Found::OutOfMemory) {
            progress.end();
            return toolError(TOOL, "memory ran out decoding " + path);
        }
        if (found != MovieFile::Found::Picture) {
            continue;  // an empty chunk: the same view as the frame before
        }
        if (number % every != 0) {
            movie.dropPicture();
            continue;
        }
        if (!movie.convertPicture({bgra.data(), width, height})) {
            continue;
        }
        cv::cvtColor(frame, view, o.marker() ? cv::COLOR_BGRA2BGR : cv::COLOR_BGRA2GRAY);
        if (addView(o, path + " frame " + std::to_string(number), view, c) != 0) {
            progress.end();
            return 1;
        }
        ++looked;
    }
    progress.end();
    if (looked == 0) {
        return toolError(TOOL, "no frame could be read from " + path);
    }
    return 0;
}

int readInput(const Options& o, const std::string& path, Collection& c) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        return toolError(TOOL, "cannot open " + path + ": " + std::strerror(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        return toolError(TOOL, "cannot open " + path + ": not a file");
    }
    return isStill(path) ? readStill(o, path, c) : readMovie(o, path, c);
}

// A name next to the output for writing it first: the old file stays until
// the new one is complete.
std::string temporaryName(const std::string& output) {
    return output + ".tmp" + std::to_string(getpid());
}

// Fails early when the output cannot be written, before the slow part.
int checkOutput(const std::string& output) {
    struct stat info;
    if (stat(output.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        return toolError(TOOL, "cannot write " + output + ": it is a folder");
    }
    const std::string temporary = temporaryName(output);
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        return toolError(TOOL, "cannot write " + output + ": " + std::strerror(errno));
    }
    std::fclose(file);
    std::remove(temporary.c_str());
    return 0;
}

int writeOutput(const std::string& output, const CameraParam& camera) {
    const std::string temporary = temporaryName(output);
    std::string error;
    if (writeCameraFile(temporary, &camera, 1, error) != 0) {
        std::remove(temporary.c_str());
        return toolError(TOOL, error + "; " + output + " is left as it was");
    }
    if (std::rename(temporary.c_str(), output.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        std::remove(temporary.c_str());
        return toolError(TOOL, "cannot replace " + output + ": " + reason);
    }
    return 0;
}

// How far the distortion moves the frame corner farthest from its centre, in pixels.
double largestCornerShift(const CameraParam& camera) {
    double largest = 0.0;
    for (double x : {0.0, camera.xsize - 1.0}) {
        for (double y : {0.0, camera.ysize - 1.0}) {
            double ix = 0.0, iy = 0.0, ox = 0.0, oy = 0.0;
            arObservedToIdeal(camera.distFactor, x, y, &ix, &iy);
            arIdealToObserved(camera.distFactor, ix, iy, &ox, &oy);
            largest = std::max(largest, std::hypot(ix - ox, iy - oy));
        }
    }
    return largest;
}

int printBoard(const Options& o) {
    const cv::Mat picture = boardPicture(o.board, o.squarePixels);
    try {
        if (!cv::imwrite(o.boardPicture, picture)) {
            return toolError(TOOL, "cannot write " + o.boardPicture);
        }
    } catch (const cv::Exception& e) {
        return toolError(TOOL,
                         "cannot write " + o.boardPicture + " (name it .png or .jpg): " + e.what());
    }
    std::printf(
        "wrote %s: %d x %d squares (%d x %d inner corners), %d pixels each, on a white margin.\n"
        "Print it flat without scaling to the page, measure one square and give that\n"
        "as --square with --board %dx%d.\n",
        o.boardPicture.c_str(), o.board.columns + 1, o.board.rows + 1, o.board.columns,
        o.board.rows, o.squarePixels, o.board.columns, o.board.rows);
    return 0;
}

int calibrate(const Options& o) {
    if (!o.printOnly && checkOutput(o.output) != 0) {
        return 1;
    }
    Collection c;
    // Many stills (a picture sequence) count as the frames of one movie.
    ToolProgress progress(o.inputs.size() > 1 ? static_cast<long long>(o.inputs.size()) : 0);
    for (size_t i = 0; i < o.inputs.size(); ++i) {
        if (o.inputs.size() > 1 && isStill(o.inputs[i])) {
            progress.show(static_cast<long long>(i) + 1);
        }
        if (readInput(o, o.inputs[i], c) != 0) {
            progress.end();
            return 1;
        }
    }
    progress.end();
    std::vector<std::vector<BoardCorner>> found;
    for (const View& view : c.views) {
        if (view.used) {
            found.push_back(view.corners);
        }
    }
    const int used = static_cast<int>(found.size());
    const auto listViews = [&](bool withRms) {
        for (size_t i = 0; i < c.views.size(); ++i) {
            const View& v = c.views[i];
            if (v.used && withRms) {
                std::printf("view %zu %s: used, RMS %.3f px\n", i + 1, v.name.c_str(), v.rms);
            } else if (v.used) {
                std::printf("view %zu %s: %s found\n", i + 1, v.name.c_str(),
                            o.marker() ? "marker" : "board");
            } else {
                std::printf("view %zu %s: rejected, %s\n", i + 1, v.name.c_str(), v.reason.c_str());
            }
        }
    };
    bool anyBoard = false;
    for (const View& view : c.views) {
        anyBoard = anyBoard || view.boardFound;
    }
    if (!anyBoard) {
        listViews(false);
        return toolError(
            TOOL, o.marker()
                      ? "the marker was not found in any view; check the pattern file and that "
                        "the whole marker with its white surround is in the picture"
                      : "no chessboard found in any view; check --board (inner corners, e.g. "
                        "9x6 for 10 x 7 squares) and that the whole board is in the picture");
    }
    if (used < MIN_VIEWS) {
        listViews(false);
        return toolError(TOOL, "too few views: " + std::to_string(used) + " usable, at least " +
                                   std::to_string(MIN_VIEWS) + " are needed (" +
                                   std::to_string(ENOUGH_VIEWS) + " or more for a good result)");
    }

    FitResult result;
    FittedModel model;
    std::string error;
    const int fitStatus = o.marker()
                              ? fitMarkerCamera(o.markerWidth, found, c.width, c.height,
                                                o.fit.fitDistortion, result, model, error)
                              : fitCamera(o.board, found, c.width, c.height, o.fit, result, error);
    if (fitStatus != 0) {
        listViews(false);
        return toolError(TOOL, error);
    }
    // How far off the focal length could be: three sigmas, as a fraction of it.
    const double focalDoubt = 3.0 * result.focalSigma / result.camera.mat[0][0];
    if (o.marker() && !(focalDoubt <= REFUSE_FOCAL_DOUBT)) {
        listViews(false);
        return toolError(TOOL,
                         "the views are too alike to fix the focal length" +
                             (std::isfinite(focalDoubt)
                                  ? " (it could be off by " +
                                        std::to_string(std::lround(100 * focalDoubt)) + " %)"
                                  : std::string()) +
                             ": film the marker from more directions, tilted by 30 to 60 degrees");
    }
    for (size_t i = 0, k = 0; i < c.views.size(); ++i) {
        if (c.views[i].used) {
            c.views[i].rms = result.viewRms[k++];
        }
    }
    listViews(true);
    const CameraParam& fitted = result.camera;
    std::printf("used %d of %zu views of %d x %d pixels\n", used, c.views.size(), c.width,
                c.height);
    std::printf("RMS reprojection error %.3f px (OpenCV's start: %.3f px)\n", result.rms,
                result.startRms);
    std::printf("focal lengths %.3f, %.3f px; principal point %.3f, %.3f px\n", fitted.mat[0][0],
                fitted.mat[1][1], fitted.mat[0][2], fitted.mat[1][2]);
    if (o.marker()) {
        std::printf(
            "focal length: one for both axes, %.3f px +- %.3f (%.2f mm on a 36 mm wide "
            "sensor)\n",
            fitted.mat[0][0], result.focalSigma, fitted.mat[0][0] * 36.0 / c.width);
        if (model.principalPoint) {
            std::printf("principal point: fitted, +- %.2f, %.2f px\n",
                        result.principalPointSigma[0], result.principalPointSigma[1]);
        } else {
            std::printf("principal point: the middle of the frame (the views do not fix it)\n");
        }
    }
    if (o.marker() && !model.distortion) {
        std::printf("distortion: none (%s)\n",
                    o.fit.fitDistortion ? "the views do not tell it from none" : "--no-distortion");
    } else {
        if (o.marker()) {
            std::printf("distortion: fitted, it pulls the frame corners in by %.2f %% +- %.2f\n",
                        100.0 * result.cornerPull, 100.0 * result.distortionSigma);
        }
        std::printf(
            "distortion centre %.3f, %.3f px, coefficient %.4f, scale %.1f: the frame "
            "corners move by %.2f px\n",
            fitted.distFactor[0], fitted.distFactor[1], fitted.distFactor[2], fitted.distFactor[3],
            largestCornerShift(fitted));
    }

    CameraParam camera = fitted;
    if (o.width > 0 && (o.width != c.width || o.height != c.height)) {
        arResizeCameraParam(fitted, o.width, o.height, camera);
        if (static_cast<long>(o.width) * c.height != static_cast<long>(o.height) * c.width) {
            warn("--size " + std::to_string(o.width) + "x" + std::to_string(o.height) +
                 " has another aspect ratio than the views; the record is scaled by the width "
                 "ratio only");
        }
    }
    if (result.rms > WARN_RMS) {
        char text[120];
        std::snprintf(text, sizeof text,
                      "the RMS reprojection error %.2f px is above %.0f px: check the views",
                      result.rms, WARN_RMS);
        warn(text);
    }
    for (const View& view : c.views) {
        if (view.used && view.rms > WARN_RMS && view.rms > 3.0 * result.rms) {
            char text[300];
            std::snprintf(text, sizeof text,
                          "%s fits badly (RMS %.2f px): leave it out if the board was bent, "
                          "moving or partly hidden there",
                          view.name.c_str(), view.rms);
            warn(text);
        }
    }
    if (o.marker() && focalDoubt > WARN_FOCAL_DOUBT) {
        char text[300];
        std::snprintf(text, sizeof text,
                      "the views are too few or too alike to pin the focal length: it could be "
                      "off by %.1f %% (%.0f px); film the marker from more directions, tilted by "
                      "30 to 60 degrees",
                      100.0 * focalDoubt, 3.0 * result.focalSigma);
        warn(text);
    }
    if (used < ENOUGH_VIEWS) {
        warn("only " + std::to_string(used) + " usable views; " + std::to_string(ENOUGH_VIEWS) +
             " or more give a more reliable file");
    }
    const std::vector<std::string> uncovered = uncoveredFrameCorners(found, c.width, c.height);
    if (!uncovered.empty()) {
        std::string list;
        for (const std::string& name : uncovered) {
            list += (list.empty() ? "" : ", ") + name;
        }
        warn(std::string("no view shows the ") + (o.marker() ? "marker" : "board") +
             " in the frame's " + list + " corner; the distortion there is guessed");
    }
    if (!o.printOnly) {
        if (writeOutput(o.output, camera) != 0) {
            return 1;
        }
        std::printf("wrote %s for %d x %d frames\n", o.output.c_str(), camera.xsize, camera.ysize);
    }
    arPrintCameraParam(camera);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (answerHelpOrVersion(argc, argv, TOOL, USAGE, HELP)) {
        return 0;
    }
    if (argc < 2) {
        std::fputs(USAGE, stderr);
        return 1;
    }
    ArgWalker walker{argc, argv};
    Options options;
    if (readOptions(walker, options) != 0) {
        return 1;
    }
    if (options.haveBoard == options.marker()) {
        return toolError(
            TOOL, "give either --board COLSxROWS (inner corners, e.g. 9x6) or --marker PATTERN");
    }
    if (!options.boardPicture.empty()) {
        return options.haveBoard ? printBoard(options)
                                 : toolError(TOOL, "--print-board needs --board");
    }
    if (options.marker() && options.markerWidth <= 0.0) {
        return toolError(TOOL, "--width W is needed (the marker's printed width)");
    }
    if (options.marker() && options.fit.fitCentre) {
        return toolError(TOOL, "--fit-centre needs a board: four corners a view cannot fix it");
    }
    if (options.haveBoard && options.board.square <= 0.0) {
        return toolError(TOOL, "--square SIZE is needed (the printed side of one square)");
    }
    if (options.output.empty() == !options.printOnly) {
        return toolError(TOOL, "give exactly one of --output FILE and --print-only");
    }
    if (options.inputs.empty()) {
        return toolError(TOOL, "no INPUT given: name the photos or movies of the board");
    }
    // Whatever OpenCV or memory still throws ends the run with a message.
    try {
        return calibrate(options);
    } catch (const cv::Exception& e) {
        return toolError(TOOL, std::string("OpenCV failed: ") + e.what());
    } catch (const std::bad_alloc&) {
        return toolError(TOOL, "memory ran out");
    }
}
