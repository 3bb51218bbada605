// lumeko-calibrate: finds a printed chessboard, or Lumeko's marker, in photos
// or movies of it and fits the camera parameter file Lumeko reads.

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "camera/camera_param.h"
#include "camera/distortion.h"
#include "cli/progress_line.h"
#include "cli/tool.h"
#include "files/file_reason.h"
#include "media/movie_file.h"
#include "tools/calibrate/board_views.h"
#include "tools/calibrate/camera_fit.h"
#include "tools/calibrate/marker_views.h"
#include "tools/common/camera_file.h"
#include "tools/common/image_io.h"

namespace {

const char* const TOOL = "lumeko-calibrate";

const ToolText TEXT = {
    TOOL,
    "Usage:\n"
    "  lumeko-calibrate --board COLSxROWS --square SIZE --output FILE [options] INPUT...\n"
    "  lumeko-calibrate --board COLSxROWS --square SIZE --print-only [options] INPUT...\n"
    "  lumeko-calibrate --marker PATTERN --width W --output FILE [options] INPUT...\n"
    "  lumeko-calibrate --marker PATTERN --width W --print-only [options] INPUT...\n"
    "  lumeko-calibrate --board COLSxROWS --print-board PICTURE [--square-pixels N]\n"
    "  lumeko-calibrate --help\n",
    "\n"
    "Finds a printed chessboard in every INPUT (JPEG, PNG, PPM or PGM stills, or a\n"
    "movie: every Nth frame) and fits the camera's focal lengths, principal point\n"
    "and radial lens distortion to the corners found, then writes the camera\n"
    "parameter file Lumeko reads (one 136-byte record).\n"
    "\n",
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
    "Exit status: 0 on success, 1 on any error.\n",
};

constexpr int MIN_VIEWS = 3;
constexpr int ENOUGH_VIEWS = 10;
constexpr double WARN_RMS = 1.0;
// The marker: how far off the focal length may be (three sigmas, as a fraction)
// before a warning, and before the views are refused as too alike.
constexpr double WARN_FOCAL_DOUBT = 0.01;
constexpr double REFUSE_FOCAL_DOUBT = 0.2;

// The stills calibrate reads; any other input is a movie.
constexpr std::initializer_list<const char*> STILL_SUFFIXES = {".jpg", ".jpeg", ".png", ".ppm",
                                                               ".pgm"};

double focalDoubt(const FitResult& result) {
    return 3.0 * result.focalSigma / result.camera.mat[0][0];
}

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
};

OptionTable optionTable(Options& o) {
    return {
        {"--board", "COLSxROWS",
         "inner corners of the board (where four squares meet)\n"
         "across and down, e.g. 9x6 for a board of 10 x 7 squares",
         [&o](const std::string& value) {
             return o.haveBoard = parseSize(value, o.board.columns, o.board.rows) &&
                                  o.board.columns >= 2 && o.board.rows >= 2 &&
                                  o.board.columns <= 100 && o.board.rows <= 100;
         }},
        doubleOption("--square", "SIZE",
                     "printed side of one square (any unit; only its ratio\n"
                     "to other lengths matters)",
                     o.board.square, positive),
        textOption("--marker", "PATTERN",
                   "instead of a board: Lumeko's marker, by its pattern\n"
                   "file, in every frame where it is found (see below)",
                   o.markerPattern, true),
        doubleOption("--width", "W", "the marker's printed width (any unit)", o.markerWidth,
                     positive),
        textOption("--output", "FILE",
                   "the camera file to write, e.g. Data/camera_para.dat;\n"
                   "an existing file is replaced only when all went well",
                   o.output),
        flag("--print-only", "report and print the record, write nothing", o.printOnly),
        {"--size", "WxH",
         "write the record for frames of W x H (scaled from the\n"
         "views' size by the width ratio, as Lumeko does)",
         [&o](const std::string& value) {
             return parseSize(value, o.width, o.height) && o.width > 0 && o.height > 0;
         }},
        intOption("--every", "N",
                  "movies: look at every Nth frame (default 10; 1 for\n"
                  "the marker)",
                  o.every, 1, INT_MAX),
        doubleOption("--max-edge-width", "PX",
                     "reject views whose black-to-white edges are wider than\n"
                     "PX pixels, i.e. blurred (default 4)",
                     o.maxEdgeWidth, positive),
        flag("--fit-centre",
             "fit the distortion centre apart from the principal\n"
             "point (default: the same point)",
             o.fit.fitCentre),
        {"--no-distortion", "", "fit a camera without lens distortion",
         [&o](const std::string&) { return !(o.fit.fitDistortion = false); }},
        textOption("--print-board", "FILE",
                   "write a printable board picture (PNG or JPEG) and stop", o.boardPicture),
        intOption("--square-pixels", "N", "its squares' side in pixels (default 100)",
                  o.squarePixels, 4, 1000),
    };
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
        // Memory that runs out ends the run: the view is not to blame.
        if (e.code == cv::Error::StsNoMem) {
            throw;
        }
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

// A still through the tools' picture reader, as grey.
int readStill(const Options& o, const std::string& path, Collection& c) {
    RgbImage picture;
    std::string error;
    if (readPicture(path, picture, error) != 0) {
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
    ProgressLine progress;
    for (MovieFile::Found found; (found = movie.decodePicture(number)) != MovieFile::Found::End;) {
        progress.show(number + 1, movie.info().length);
        if (found == MovieFile::Found::OutOfMemory) {
            progress.erase();
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
            progress.erase();
            return 1;
        }
        ++looked;
    }
    progress.erase();
    if (looked == 0) {
        return toolError(TOOL, "no frame could be read from " + path);
    }
    return 0;
}

int readInput(const Options& o, const std::string& path, Collection& c) {
    if (const std::string problem = fileReadProblem(path.c_str()); !problem.empty())
        return toolError(TOOL, "cannot open " + path + ": " + problem);
    return hasSuffix(path, {".jpg", ".jpeg", ".png", ".ppm", ".pgm"}) ? readStill(o, path, c)
                                                                      : readMovie(o, path, c);
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
    const cv::Mat grey = boardPicture(o.board, o.squarePixels);
    RgbImage picture = makeRgbImage(grey.cols, grey.rows, 0, 0, 0);
    cv::Mat rgb(grey.rows, grey.cols, CV_8UC3, picture.rgb.data());
    cv::cvtColor(grey, rgb, cv::COLOR_GRAY2RGB);
    std::string error;
    if (writeImage(o.boardPicture, picture, 95, error) != 0) {
        return toolError(TOOL, error);
    }
    std::printf(
        "wrote %s: %d x %d squares (%d x %d inner corners), %d pixels each, on a white margin.\n"
        "Print it flat without scaling to the page, measure one square and give that\n"
        "as --square with --board %dx%d.\n",
        o.boardPicture.c_str(), o.board.columns + 1, o.board.rows + 1, o.board.columns,
        o.board.rows, o.squarePixels, o.board.columns, o.board.rows);
    return 0;
}

// The views' corners, for those that are used.
std::vector<std::vector<BoardCorner>> usedCorners(const Collection& c) {
    std::vector<std::vector<BoardCorner>> found;
    for (const View& view : c.views) {
        if (view.used) {
            found.push_back(view.corners);
        }
    }
    return found;
}

// One line a view: used (with its RMS once fitted), or why it was rejected.
void listViews(const Options& o, const Collection& c, bool withRms) {
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
}

// Whether the views can be fitted at all: 0, or 1 after listing them and saying why not.
int checkViews(const Options& o, const Collection& c, int used) {
    bool anyBoard = false;
    for (const View& view : c.views) {
        anyBoard = anyBoard || view.boardFound;
    }
    if (anyBoard && used >= MIN_VIEWS) {
        return 0;
    }
    listViews(o, c, false);
    if (!anyBoard) {
        return toolError(
            TOOL, o.marker()
                      ? "the marker was not found in any view; check the pattern file and that "
                        "the whole marker with its white surround is in the picture"
                      : "no chessboard found in any view; check --board (inner corners, e.g. "
                        "9x6 for 10 x 7 squares) and that the whole board is in the picture");
    }
    return toolError(TOOL, "too few views: " + std::to_string(used) + " usable, at least " +
                               std::to_string(MIN_VIEWS) + " are needed (" +
                               std::to_string(ENOUGH_VIEWS) + " or more for a good result)");
}

// Fits the camera to the used views and gives each its RMS: 0, or 1 after
// saying why the views give none.
int fitViews(const Options& o, Collection& c, const std::vector<std::vector<BoardCorner>>& found,
             FitResult& result, FittedModel& model) {
    std::string error;
    const int fitStatus = o.marker()
                              ? fitMarkerCamera(o.markerWidth, found, c.width, c.height,
                                                o.fit.fitDistortion, result, model, error)
                              : fitCamera(o.board, found, c.width, c.height, o.fit, result, error);
    if (fitStatus != 0) {
        listViews(o, c, false);
        return toolError(TOOL, error);
    }
    const double doubt = focalDoubt(result);
    if (o.marker() && !(doubt <= REFUSE_FOCAL_DOUBT)) {
        listViews(o, c, false);
        return toolError(
            TOOL, "the views are too alike to fix the focal length" +
                      (std::isfinite(doubt) ? " (it could be off by " +
                                                  std::to_string(std::lround(100 * doubt)) + " %)"
                                            : std::string()) +
                      ": film the marker from more directions, tilted by 30 to 60 degrees");
    }
    for (size_t i = 0, k = 0; i < c.views.size(); ++i) {
        if (c.views[i].used) {
            c.views[i].rms = result.viewRms[k++];
        }
    }
    return 0;
}

// The fitted camera on standard output.
void printFit(const Options& o, const Collection& c, const FitResult& result,
              const FittedModel& model, int used) {
    listViews(o, c, true);
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
}

// What the user should know about the fit before trusting the file.
void warnAboutFit(const Options& o, const Collection& c, const FitResult& result,
                  const std::vector<std::vector<BoardCorner>>& found) {
    const int used = static_cast<int>(found.size());
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
    if (o.marker() && focalDoubt(result) > WARN_FOCAL_DOUBT) {
        char text[300];
        std::snprintf(text, sizeof text,
                      "the views are too few or too alike to pin the focal length: it could be "
                      "off by %.1f %% (%.0f px); film the marker from more directions, tilted by "
                      "30 to 60 degrees",
                      100.0 * focalDoubt(result), 3.0 * result.focalSigma);
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
}

// The record for the frames asked for: the fitted one, or it resized.
CameraParam recordToWrite(const Options& o, const Collection& c, const CameraParam& fitted) {
    CameraParam camera = fitted;
    if (o.width > 0 && (o.width != c.width || o.height != c.height)) {
        arResizeCameraParam(fitted, o.width, o.height, camera);
        if (static_cast<long>(o.width) * c.height != static_cast<long>(o.height) * c.width) {
            warn("--size " + std::to_string(o.width) + "x" + std::to_string(o.height) +
                 " has another aspect ratio than the views; the record is scaled by the width "
                 "ratio only");
        }
    }
    return camera;
}

int calibrate(const Options& o, const std::vector<std::string>& inputs) {
    if (!o.printOnly) {
        if (const std::string problem = outputProblem(o.output.c_str(), "Its folder");
            !problem.empty())
            return toolError(TOOL, "cannot write " + o.output + ": " + problem);
    }
    Collection c;
    // Many stills (a picture sequence) count as the frames of one movie.
    ProgressLine progress;
    for (size_t i = 0; i < inputs.size(); ++i) {
        if (inputs.size() > 1 && hasSuffix(inputs[i], STILL_SUFFIXES)) {
            progress.show(static_cast<long long>(i) + 1, static_cast<long long>(inputs.size()));
        }
        if (readInput(o, inputs[i], c) != 0) {
            progress.erase();
            return 1;
        }
    }
    progress.erase();
    const std::vector<std::vector<BoardCorner>> found = usedCorners(c);
    const int used = static_cast<int>(found.size());
    FitResult result;
    FittedModel model;
    if (checkViews(o, c, used) != 0 || fitViews(o, c, found, result, model) != 0) {
        return 1;
    }
    printFit(o, c, result, model, used);
    const CameraParam camera = recordToWrite(o, c, result.camera);
    warnAboutFit(o, c, result, found);
    if (!o.printOnly) {
        std::string error;
        if (writeCameraFile(o.output, &camera, 1, error) != 0) {
            return toolError(TOOL, error + "; " + o.output + " is left as it was");
        }
        std::printf("wrote %s for %d x %d frames\n", o.output.c_str(), camera.xsize, camera.ysize);
    }
    arPrintCameraParam(camera);
    return 0;
}

// The options together: 0, or 1 after saying what does not fit.
int checkOptions(const Options& options, const std::vector<std::string>& inputs) {
    if (options.haveBoard == options.marker()) {
        return toolError(
            TOOL, "give either --board COLSxROWS (inner corners, e.g. 9x6) or --marker PATTERN");
    }
    if (!options.boardPicture.empty() && !options.haveBoard) {
        return toolError(TOOL, "--print-board needs --board");
    }
    if (!options.boardPicture.empty()) {
        return 0;
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
    if (inputs.empty()) {
        return toolError(TOOL, "no INPUT given: name the photos or movies of the board");
    }
    std::vector<std::string> read = inputs;
    read.push_back(options.markerPattern);
    return refuseClash(TOOL, {options.output}, read);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    return runTool(TEXT, optionTable(options), argc, argv,
                   [&](const std::vector<std::string>& inputs) {
                       if (checkOptions(options, inputs) != 0) {
                           return 1;
                       }
                       // OpenCV reports memory that ran out as one of its own exceptions.
                       try {
                           return options.boardPicture.empty() ? calibrate(options, inputs)
                                                               : printBoard(options);
                       } catch (const cv::Exception& e) {
                           return toolError(TOOL, e.code == cv::Error::StsNoMem
                                                      ? std::string("out of memory")
                                                      : std::string("OpenCV failed: ") + e.what());
                       }
                   });
}
