// lumeko-detect: runs one detection pass on a frame and draws what it saw.

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "camera/camera_param.h"
#include "camera/camera_settings.h"
#include "cli/tool.h"
#include "files/file_reason.h"
#include "marker/detector.h"
#include "media/frame_convert.h"
#include "tools/common/data_files.h"
#include "tools/common/image_io.h"
#include "tools/detect/detection_overlay.h"

namespace {

const char* const TOOL = "lumeko-detect";

const ToolText TEXT = {
    TOOL,
    "Usage:\n"
    "  lumeko-detect FRAME OUTPUT [--camera FILE] [--pattern FILE]...\n"
    "                [--threshold N] [--raw WIDTHxHEIGHT] [--refine]\n"
    "                [--robust-sides] [--more-squares]\n"
    "  lumeko-detect --help\n",
    "\n"
    "Runs one marker detection pass, as the tracker does on every frame, and\n"
    "writes a picture of what it saw.\n"
    "\n"
    "  FRAME            a JPEG, PNG or PPM picture, or raw BGRA bytes with --raw.\n"
    "  OUTPUT           the picture to write: .png, .ppm, .jpg or .jpeg.\n",
    "\n"
    "The picture shows a faded copy of the frame with each dark region tinted,\n"
    "the square candidates' contours in yellow with their corner pixels in\n"
    "orange, the fitted corners as red crosses (the marker's first corner, its\n"
    "top-left as printed, ringed in green) and \"i<id> d<direction>\n"
    "c<confidence>\" for each marker. Standard output lists the same, with the\n"
    "time each stage took.\n"
    "Exit status: 0 after writing the picture (markers found or not), 1 on any\n"
    "error.\n",
    19,
};

struct DetectOptions {
    std::string cameraPath;
    std::vector<std::string> patterns;
    int threshold = 100;
    int rawWidth = 0;
    int rawHeight = 0;
    bool refine = false;
    bool robustSides = false;
    bool moreSquares = false;
};

OptionTable optionTable(DetectOptions& o) {
    return {
        textOption("--camera", "FILE",
                   "camera parameter file; its first record is resized to\n"
                   "the frame. Without it the lens has no distortion.",
                   o.cameraPath),
        {"--pattern", "FILE",
         "pattern file to identify markers by; repeat for more\n"
         "(ids 0, 1, ... in the order given).",
         [&o](const std::string& value) { return o.patterns.push_back(value), true; }},
        intOption("--threshold", "N",
                  "binarisation threshold 0..255 (default 100): a pixel\n"
                  "is dark when its blue + green + red is at most 3 N.",
                  o.threshold, 0, 255),
        {"--raw", "WxH",
         "FRAME holds W x H pixels of 4 bytes (blue, green, red,\n"
         "alpha), rows top to bottom.",
         [&o](const std::string& value) {
             return parseSize(value, o.rawWidth, o.rawHeight) && o.rawWidth > 2 &&
                    o.rawHeight > 2 && o.rawWidth <= 16384 && o.rawHeight <= 16384;
         }},
        flag("--refine",
             "also run the pass with the markers' sides refined onto\n"
             "the grey-level edge (as Lumeko --refine does) and draw\n"
             "the refined sides and corners in cyan beside the plain\n"
             "red corners; standard output lists the refined corners\n"
             "and how far each moved.",
             o.refine),
        flag("--robust-sides",
             "find squares as Lumeko --robust-sides does: an outline\n"
             "whose side is dented or bumped may still be a square.",
             o.robustSides),
        flag("--more-squares",
             "look past the first 30 candidate squares as Lumeko\n"
             "--more-squares does, until a list holds a marker.",
             o.moreSquares),
    };
}

// Reads the frame into BGRA bytes.
int readFrame(const DetectOptions& options, const std::string& path,
              std::vector<unsigned char>& bgra, int& width, int& height, std::string& error) {
    if (options.rawWidth > 0) {
        const size_t size = static_cast<size_t>(options.rawWidth) * options.rawHeight * 4;
        std::FILE* file = std::fopen(path.c_str(), "rb");
        if (file == nullptr) {
            error = path + ": cannot open: " + fileReadProblem(path.c_str());
            return -1;
        }
        // The file's length is checked before the frame is allocated.
        const bool seekable = std::fseek(file, 0, SEEK_END) == 0;
        const long length = seekable ? std::ftell(file) : -1;
        std::rewind(file);
        size_t got = 0;
        bool longer = false;
        if (length < 0 || static_cast<unsigned long>(length) == size) {
            bgra.resize(size);
            got = std::fread(bgra.data(), 1, size, file);
            longer = std::fgetc(file) != EOF;
        }
        std::fclose(file);
        if (got != size || longer) {
            error = path + ": not " + std::to_string(size) + " bytes of raw BGRA";
            return -1;
        }
        width = options.rawWidth;
        height = options.rawHeight;
        return 0;
    }
    RgbImage image;
    if (const InputProblem read = readPicture(path, image); !read.ok()) {
        error = read.reason;
        return -1;
    }
    width = image.width;
    height = image.height;
    bgra.resize(static_cast<size_t>(width) * height * 4);
    unsigned char* write = bgra.data();
    rgbRowToFrame(write, image.rgb.data(), width * height);
    return 0;
}

// The camera the frame was taken with, resized to the frame.
int readCamera(const DetectOptions& options, int width, int height, CameraParam& camera,
               std::string& error) {
    if (options.cameraPath.empty()) {
        const CameraResult made = makeCameraParam(plainCameraSettings(width, height), camera);
        if (!made.ok()) {
            error = made.reason;
            return -1;
        }
    } else {
        CameraParam stored{};
        if (loadCameraFile(options.cameraPath, stored, error) != 0) {
            return -1;
        }
        if (arResizeCameraParam(stored, width, height, camera) != CameraStatus::Ok) {
            error = options.cameraPath + ": values stop being finite when resized to the frame";
            return -1;
        }
    }
    return 0;
}

double millis(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void printSummary(const DetectionTrace& trace, const MarkerInfo* markers, int count) {
    for (const MarkerStatus failure : trace.contourFailures) {
        std::printf("??? %d\n", arContourFailureNumber(failure));
    }
    std::printf("labeling %.3f ms, squares %.3f ms, identification %.3f ms, history %.3f ms\n",
                millis(trace.labeling), millis(trace.squares), millis(trace.identification),
                millis(trace.history));
    std::printf("%d dark regions, %d square candidates, %d markers\n",
                trace.labels ? trace.labels->labelCount : 0, trace.candidateCount, count);
    for (int i = 0; i < count; i++) {
        const MarkerInfo& m = markers[i];
        std::printf("marker %d: id %d direction %d confidence %.4f area %d centre (%.2f, %.2f)\n",
                    i, m.id, m.direction, m.confidence, m.area, m.centre.x, m.centre.y);
        for (int k = 0; k < 4; k++) {
            std::printf("  corner %d (%.3f, %.3f)\n", k, m.vertices[k].x, m.vertices[k].y);
        }
    }
}

// The refined pass's corners against the plain ones (markers in the same order).
void printRefined(std::chrono::steady_clock::duration took, const MarkerInfo* plain,
                  const MarkerInfo* refined, int count) {
    std::printf("refined pass: edge refinement %.3f ms\n", millis(took));
    for (int i = 0; i < count; i++) {
        std::printf("marker %d refined:\n", i);
        for (int k = 0; k < 4; k++) {
            const ImagePoint p = refined[i].vertices[k];
            std::printf("  corner %d (%.3f, %.3f) moved %.3f\n", k, p.x, p.y,
                        std::hypot(p.x - plain[i].vertices[k].x, p.y - plain[i].vertices[k].y));
        }
    }
}

int detect(const DetectOptions& options, const std::vector<std::string>& positional) {
    if (positional.size() != 2) {
        return toolError(TOOL, std::string("give one FRAME and one OUTPUT\n") + TEXT.usage);
    }
    const std::string& output = positional[1];
    std::vector<std::string> inputs = options.patterns;
    inputs.insert(inputs.end(), {positional[0], options.cameraPath});
    if (refuseClash(TOOL, {output}, inputs) != 0) {
        return 1;
    }
    if (!hasSuffix(output, PICTURE_SUFFIXES)) {
        return toolError(TOOL, output + ": the output must end in .png, .ppm, .jpg or .jpeg");
    }
    std::vector<unsigned char> bgra;
    int width = 0;
    int height = 0;
    std::string error;
    CameraParam camera{};
    if (readFrame(options, positional[0], bgra, width, height, error) != 0 ||
        readCamera(options, width, height, camera, error) != 0) {
        return toolError(TOOL, error);
    }
    DetectorSettings settings;
    settings.threshold = options.threshold;
    settings.robustSides = options.robustSides;
    settings.moreSquares = options.moreSquares;
    const std::unique_ptr<Detector> detector = Detector::create(camera, settings);
    if (detector == nullptr) {
        return toolError(TOOL, "cannot size detection for " + std::to_string(width) + " x " +
                                   std::to_string(height) + " pixels");
    }
    for (const std::string& pattern : options.patterns) {
        const MarkerStatus loaded = detector->loadPattern(pattern.c_str()).status;
        if (loaded != MarkerStatus::Ok) {
            return toolError(TOOL, pattern + (loaded == MarkerStatus::PatternCannotOpen
                                                  ? ": cannot open the pattern"
                                              : loaded == MarkerStatus::PatternUnreadable
                                                  ? ": not a pattern file (fewer than 3072 values)"
                                                  : ": cannot load the pattern"));
        }
    }
    const FrameImage frame{bgra.data(), width, height};
    const MarkerInfo* markers = nullptr;
    int count = 0;
    const MarkerStatus status = detector->detect(frame, &markers, &count);
    const DetectionTrace& trace = detector->trace();
    if (status == MarkerStatus::CapacityExceeded) {
        std::printf("detection failed: more provisional labels than the detector holds\n");
    } else if (status != MarkerStatus::Ok) {
        std::printf("detection failed: the frame is not of the camera's size\n");
    }
    printSummary(trace, markers, count);
    RgbImage picture = drawDetection(frame, detector->camera(), trace, markers, count);
    if (options.refine && status == MarkerStatus::Ok) {
        // The same markers, each one's sides refined (the tracker refines
        // only those that keep an identity; this shows every one).
        std::vector<MarkerInfo> refined(markers, markers + count);
        const std::unique_ptr<EdgeRefineStorage> storage = std::make_unique<EdgeRefineStorage>();
        const auto start = std::chrono::steady_clock::now();
        for (MarkerInfo& marker : refined) {
            marker.rampWidth =
                arRefineEdges(frame, camera.distFactor, *storage, marker.edgeLines, marker.vertices)
                    .rampWidth;
        }
        printRefined(std::chrono::steady_clock::now() - start, markers, refined.data(), count);
        drawRefinedEdges(picture, camera, refined.data(), count);
    }
    if (writeImage(output, picture, 95, error) != 0) {
        return toolError(TOOL, error);
    }
    std::printf("wrote %s\n", output.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    DetectOptions options;
    return runTool(
        TEXT, optionTable(options), argc, argv,
        [&](const std::vector<std::string>& positional) { return detect(options, positional); });
}
