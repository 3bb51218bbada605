// lumeko-overlay: draws the written camera track over the footage.

#include <cairo/cairo.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "camera/camera_param.h"
#include "media/frame_source.h"
#include "tools/common/data_files.h"
#include "tools/common/image_io.h"
#include "tools/common/progress_line.h"
#include "tools/common/tool_args.h"
#include "tools/common/track_range.h"
#include "tools/overlay/h264_writer.h"
#include "tools/overlay/overlay_draw.h"
#include "tools/render/avi_writer.h"
#include "track/camera_motion_reader.h"

namespace {

const char* const USAGE =
    "Usage:\n"
    "  lumeko-overlay FOOTAGE Lumeko.cm2 OUTPUT --width W [--kind M|I] [--camera FILE]\n"
    "                 [--every N] [--from F] [--to T]\n"
    "  lumeko-overlay --help\n";

const char* const HELP =
    "\n"
    "Draws the track Lumeko wrote over the footage it came from: in every frame\n"
    "where the marker was found, the marker's outline (magenta), its axes (x red,\n"
    "y green, z blue, one marker width long) and a wire cube (cyan) standing on\n"
    "it, seen from the written (smoothed) camera keys through the camera model;\n"
    "\"not found\" in frames without the marker, \"no key\" in frames the file\n"
    "has no row for; the frame number in the top-left corner.\n"
    "\n"
    "FOOTAGE          the movie or JPEG/PNG/PPM still Lumeko tracked.\n"
    "OUTPUT           .mp4, .mkv or .mov: H.264; .avi: Motion JPEG; for a still\n"
    "                 also .png, .jpg or .ppm.\n"
    "--width W        the marker width given to Lumeko (required).\n"
    "--kind M|I       movie or image; by default I for .jpg, .jpeg, .png and .ppm.\n"
    "--camera FILE    camera parameter file (default Data/camera_para.dat),\n"
    "                 resized to the frame as Lumeko does.\n"
    "--every N        draw every N-th frame only (default 1).\n"
    "--from F, --to T the first and last frame to draw (default all).\n"
    "A movie gets one output frame for every frame of the footage (of those\n"
    "--every, --from and --to pick) at the footage's frame rate; a frame that\n"
    "does not decode is black with nothing drawn, and is named at the end.\n"
    "When the footage and the file disagree on the number of frames, the\n"
    "frames that exist are drawn, the difference is reported and the status\n"
    "is 1.\n"
    "Exit status: 0 on success, 1 on any error.\n";

const char* const TOOL = "lumeko-overlay";

struct Options {
    std::vector<std::string> positional;
    std::string cameraPath = DEFAULT_CAMERA_FILE;
    double width = 0.0;
    char kind = 0;
    int every = 1;
    long long from = 0;
    long long to = -1;
};

int readOptions(ArgWalker& walker, Options& options) {
    while (nextArg(walker)) {
        if (walker.name.empty()) {
            options.positional.push_back(argument(walker));
            continue;
        }
        std::string value;
        if (walker.name != "--camera" && walker.name != "--width" && walker.name != "--kind" &&
            walker.name != "--every" && walker.name != "--from" && walker.name != "--to")
            return unknownOption(TOOL, walker.name, USAGE);
        if (!optionValue(walker, value))
            return missingValue(TOOL, walker.name);
        bool ok = true;
        int number = 0;
        if (walker.name == "--camera") {
            options.cameraPath = value;
        } else if (walker.name == "--width") {
            ok = parseDouble(value, options.width) && options.width > 0.0;
        } else if (walker.name == "--kind") {
            ok = value == "M" || value == "I";
            options.kind = value[0];
        } else if (walker.name == "--every") {
            ok = parseInt(value, options.every) && options.every >= 1;
        } else {
            ok = parseInt(value, number) && number >= 0;
            (walker.name == "--from" ? options.from : options.to) = number;
        }
        if (!ok)
            return badValue(TOOL, walker.name, value);
    }
    if (options.positional.size() != 3)
        return toolError(TOOL, std::string("give FOOTAGE, Lumeko.cm2 and OUTPUT\n") + USAGE);
    if (options.width <= 0.0)
        return toolError(TOOL, "give the marker width with --width");
    if (options.to >= 0 && options.to < options.from)
        return toolError(TOOL, "--to is before --from");
    if (options.kind == 0) {
        const std::string& footage = options.positional[0];
        const bool still = hasSuffix(footage, ".jpg") || hasSuffix(footage, ".jpeg") ||
                           hasSuffix(footage, ".png") || hasSuffix(footage, ".ppm");
        options.kind = still ? 'I' : 'M';
    }
    return 0;
}

enum class OutputKind { H264, Mjpeg, Picture };

// Where the drawn frames go.
class Output {
  public:
    Output(const std::string& path, OutputKind kind) : path_(path), kind_(kind) {}
    int open(int width, int height, unsigned rate, unsigned scale, std::string& error) {
        if (rate == 0 || scale == 0) {
            rate = 30;
            scale = 1;
        }
        if (kind_ == OutputKind::H264)
            return h264Open(h264_, path_, width, height, static_cast<int>(rate),
                            static_cast<int>(scale), error);
        if (kind_ == OutputKind::Mjpeg) {
            const int fps = std::max(1, static_cast<int>((rate + scale / 2) / scale));
            return aviOpen(avi_, path_, width, height, fps, true, 95, error);
        }
        return 0;
    }
    int write(const RgbImage& frame, std::string& error) {
        written_++;
        if (kind_ == OutputKind::H264)
            return h264WriteFrame(h264_, frame, error);
        if (kind_ == OutputKind::Mjpeg)
            return aviWriteFrame(avi_, frame, error);
        return writeImage(frame, error);
    }
    int close(std::string& error) {
        if (kind_ == OutputKind::H264)
            return h264Close(h264_, error);
        if (kind_ == OutputKind::Mjpeg && avi_.file != nullptr)
            return aviClose(avi_, error);
        return 0;
    }
    int written() const { return written_; }

  private:
    int writeImage(const RgbImage& frame, std::string& error) {
        if (!hasSuffix(path_, ".png"))
            return ::writeImage(path_, frame, 95, error);
        // PNG through cairo.
        cairo_surface_t* surface =
            cairo_image_surface_create(CAIRO_FORMAT_RGB24, frame.width, frame.height);
        unsigned char* data = cairo_image_surface_get_data(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        for (int y = 0; y < frame.height; y++)
            for (int x = 0; x < frame.width; x++) {
                const unsigned char* p = &frame.rgb[(static_cast<size_t>(y) * frame.width + x) * 3];
                reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride)[x] =
                    (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
            }
        cairo_surface_mark_dirty(surface);
        const cairo_status_t status = cairo_surface_write_to_png(surface, path_.c_str());
        cairo_surface_destroy(surface);
        if (status != CAIRO_STATUS_SUCCESS) {
            error = path_ + ": cannot write";
            return -1;
        }
        return 0;
    }
    std::string path_;
    OutputKind kind_;
    H264Writer h264_;
    AviWriter avi_;
    int written_ = 0;
};

struct Run {
    Options options;
    CameraMotion motion;
    CameraParam stored{};
    CameraParam camera{};
    int cameraWidth = -1;
    int cameraHeight = -1;
    long long frames = 0;  // frames the footage has (the last number + 1)
};

bool wanted(const Options& options, long long number) {
    return number >= options.from && (options.to < 0 || number <= options.to) &&
           (number - options.from) % options.every == 0;
}

// Draws one frame and hands it on.
int drawFrame(Run& run, RgbImage& frame, long long number, Output& output, std::string& error) {
    if (frame.width != run.cameraWidth || frame.height != run.cameraHeight) {
        arResizeCameraParam(run.stored, frame.width, frame.height, run.camera);
        run.cameraWidth = frame.width;
        run.cameraHeight = frame.height;
    }
    const KeyRow* row = number < run.motion.rowCount() ? &run.motion.rows[number] : nullptr;
    drawOverlay(frame, run.camera, row, run.options.width, number);
    return output.write(frame, error);
}

// "3, 7-9, 12": frame numbers in order, runs joined.
std::string frameList(const std::vector<long long>& numbers) {
    std::string text;
    for (size_t i = 0; i < numbers.size(); i++) {
        size_t last = i;
        while (last + 1 < numbers.size() && numbers[last + 1] == numbers[last] + 1)
            last++;
        text += (text.empty() ? "" : ", ") + std::to_string(numbers[i]);
        if (last > i)
            text += "-" + std::to_string(numbers[last]);
        i = last;
    }
    return text;
}

// One output frame for every frame of the footage (of those asked for), at
// the footage's rate, so that the preview runs frame for frame with it. A
// frame that does not decode is written black with nothing drawn on it.
int drawMovie(Run& run, Output& output, std::string& error) {
    const std::string& footage = run.options.positional[0];
    const std::unique_ptr<FrameSource> movie = makeMovieSource(footage.c_str(), {});
    if (!movie->open(footage.c_str()).ok() || !movie->rate() || !movie->prepare().ok()) {
        error = footage + ": not a movie FFmpeg can decode";
        return -1;
    }
    const FrameSize size = movie->size();
    if (output.open(size.width, size.height, movie->rate()->rate, movie->rate()->scale, error) != 0)
        return -1;
    ToolProgress progress(movie->length().value_or(0));
    RgbImage frame = makeRgbImage(size.width, size.height, 0, 0, 0);
    std::vector<long long> undecoded;
    int status = 0;
    Arrival read = Arrival::End;
    for (long long number = 0; status == 0; number++) {
        const Delivery delivery = movie->next();
        read = delivery.arrival;
        if (read == Arrival::End || read == Arrival::Failed)
            break;
        const FrameImage* decoded = delivery.frame;
        run.frames = number + 1;
        progress.show(number + 1);
        if (!wanted(run.options, number))
            continue;
        if (read != Arrival::Picture) {
            undecoded.push_back(number);
            std::fill(frame.rgb.begin(), frame.rgb.end(), 0);
            status = output.write(frame, error);
            continue;
        }
        const unsigned char* in = decoded->pixels;
        for (unsigned char* out = frame.rgb.data(); out != frame.rgb.data() + frame.rgb.size();
             out += 3, in += 4) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
        status = drawFrame(run, frame, number, output, error);
    }
    progress.end();
    if (status == 0 && read == Arrival::Failed) {
        error = footage + ": out of memory while decoding";
        status = -1;
    }
    if (!undecoded.empty())
        std::fprintf(stderr,
                     "%s: warning: %zu frame(s) of %s could not be decoded; they are black, "
                     "with nothing drawn: %s\n",
                     TOOL, undecoded.size(), footage.c_str(), frameList(undecoded).c_str());
    std::string closing;
    if (output.close(closing) != 0 && status == 0) {
        error = closing;
        status = -1;
    }
    return status;
}

int drawStill(Run& run, Output& output, std::string& error) {
    RgbImage frame;
    if (readImage(run.options.positional[0], frame, error) != 0)
        return -1;
    run.frames = 1;
    if (output.open(frame.width, frame.height, 0, 0, error) != 0)
        return -1;
    int status = wanted(run.options, 0) ? drawFrame(run, frame, 0, output, error) : 0;
    std::string closing;
    if (output.close(closing) != 0 && status == 0) {
        error = closing;
        status = -1;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (answerHelpOrVersion(argc, argv, TOOL, USAGE, HELP))
        return 0;
    ArgWalker walker{argc, argv};
    Run run;
    if (readOptions(walker, run.options) != 0)
        return 1;
    const std::string& footage = run.options.positional[0];
    const std::string& path = run.options.positional[2];
    std::string error;
    if (const TrackResult read = readCameraMotion(run.options.positional[1], run.motion);
        !read.ok())
        return toolError(TOOL, readFailureText(run.options.positional[1], read));
    if (const std::string beyond = rowBeyondDrawing(run.motion); !beyond.empty())
        return toolError(TOOL, run.options.positional[1] + ": " + beyond);
    if (loadCameraFile(run.options.cameraPath, run.stored, error) != 0)
        return toolError(TOOL, error);
    OutputKind kind = OutputKind::H264;
    if (hasSuffix(path, ".avi")) {
        kind = OutputKind::Mjpeg;
    } else if (hasSuffix(path, ".png") || hasSuffix(path, ".jpg") || hasSuffix(path, ".jpeg") ||
               hasSuffix(path, ".ppm")) {
        if (run.options.kind != 'I')
            return toolError(TOOL,
                             path + ": a picture holds one frame; give a movie name (.mp4, .avi)");
        kind = OutputKind::Picture;
    } else if (!hasSuffix(path, ".mp4") && !hasSuffix(path, ".mkv") && !hasSuffix(path, ".mov")) {
        return toolError(TOOL, path +
                                   ": the output must end in .mp4, .mkv, .mov or .avi (or, for a "
                                   "still, .png, .jpg or .ppm)");
    }
    Output output(path, kind);
    const int status =
        run.options.kind == 'I' ? drawStill(run, output, error) : drawMovie(run, output, error);
    if (status != 0)
        return toolError(TOOL, error);
    std::printf("wrote %s: %d frames drawn of %lld\n", path.c_str(), output.written(), run.frames);
    if (run.frames != run.motion.rowCount())
        return toolError(
            TOOL, footage + " has " + std::to_string(run.frames) + " frames but " +
                      run.options.positional[1] + " has " + std::to_string(run.motion.rowCount()) +
                      " rows: the frames that exist are drawn; is it the track of this footage?");
    return 0;
}
