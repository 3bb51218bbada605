// lumeko-overlay: draws the written camera track over the footage.

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "camera/camera_param.h"
#include "cli/progress_line.h"
#include "cli/tool.h"
#include "media/movie_reader.h"
#include "tools/common/avi_writer.h"
#include "tools/common/data_files.h"
#include "tools/common/image_io.h"
#include "tools/common/track_range.h"
#include "tools/overlay/h264_writer.h"
#include "tools/overlay/overlay_draw.h"
#include "track/camera_motion_reader.h"

namespace {

const char* const TOOL = "lumeko-overlay";

const ToolText TEXT = {
    TOOL,
    "Usage:\n"
    "  lumeko-overlay FOOTAGE Lumeko.cm2 OUTPUT --width W [--kind M|I] [--camera FILE]\n"
    "                 [--every N] [--from F] [--to T]\n"
    "  lumeko-overlay --help\n",
    "\n"
    "Draws the track Lumeko wrote over the footage it came from: in every frame\n"
    "where the marker was found, the marker's outline (magenta), its axes (x red,\n"
    "y green, z blue, one marker width long) and a wire cube (cyan) standing on\n"
    "it, seen from the written (smoothed) camera keys through the camera model;\n"
    "\"not found\" in frames without the marker, \"no key\" in frames the file\n"
    "has no row for; the frame number in the top-left corner.\n"
    "\n"
    "  FOOTAGE          the movie or JPEG/PNG/PPM still Lumeko tracked.\n"
    "  OUTPUT           .mp4, .mkv or .mov: H.264; .avi: Motion JPEG; for a still\n"
    "                   also .png, .jpg or .ppm.\n",
    "A movie gets one output frame for every frame of the footage (of those\n"
    "--every, --from and --to pick) at the footage's frame rate; a frame that\n"
    "does not decode is black with nothing drawn, and is named at the end.\n"
    "When the footage and the file disagree on the number of frames, the\n"
    "frames that exist are drawn, the difference is reported and the status\n"
    "is 1.\n"
    "Exit status: 0 on success, 1 on any error.\n",
    19,
};

struct Options {
    std::string cameraPath = DEFAULT_CAMERA_FILE;
    double width = 0.0;
    char kind = 0;
    int every = 1;
    int from = 0;
    int to = -1;
};

OptionTable optionTable(Options& o) {
    return {
        doubleOption("--width", "W", "the marker width given to Lumeko (required).", o.width,
                     positive),
        {"--kind", "M|I", "movie or image; by default I for .jpg, .jpeg, .png and .ppm.",
         [&o](const std::string& value) {
             o.kind = value[0];
             return value == "M" || value == "I";
         }},
        textOption("--camera", "FILE",
                   "camera parameter file (default Data/camera_para.dat),\n"
                   "resized to the frame as Lumeko does.",
                   o.cameraPath),
        intOption("--every", "N", "draw every N-th frame only (default 1).", o.every, 1, INT_MAX),
        intOption("--from", "F", "the first frame to draw (default 0).", o.from, 0, INT_MAX),
        intOption("--to", "T", "the last frame to draw (default the last).", o.to, 0, INT_MAX),
    };
}

// The positional arguments and the options together: 0, or 1 after saying
// what does not fit.
int checkArguments(Options& options, const std::vector<std::string>& positional) {
    if (positional.size() != 3)
        return toolError(TOOL, std::string("give FOOTAGE, Lumeko.cm2 and OUTPUT\n") + TEXT.usage);
    if (options.width <= 0.0)
        return toolError(TOOL, "give the marker width with --width");
    if (options.to >= 0 && options.to < options.from)
        return toolError(TOOL, "--to is before --from");
    if (options.kind == 0)
        options.kind = hasSuffix(positional[0], PICTURE_SUFFIXES) ? 'I' : 'M';
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
        return ::writeImage(path_, frame, 95, error);
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
    std::string path_;
    OutputKind kind_;
    H264Writer h264_;
    AviWriter avi_;
    int written_ = 0;
};

struct Run {
    Options options;
    std::vector<std::string> positional;
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
    const std::string& footage = run.positional[0];
    MovieReader movie;
    if (movie.open(footage.c_str()) != InputFailure::None ||
        movie.prepare() != InputFailure::None) {
        error = footage + ": not a movie FFmpeg can decode";
        return -1;
    }
    const MovieInfo& info = movie.info();
    if (output.open(info.width, info.height, info.rate, info.scale, error) != 0)
        return -1;
    ProgressLine progress;
    RgbImage frame = makeRgbImage(info.width, info.height, 0, 0, 0);
    std::vector<long long> undecoded;
    const FrameImage* decoded = nullptr;
    int status = 0;
    ReadResult read;
    for (long long number = 0; status == 0 && ((read = movie.next(&decoded)) == ReadResult::Frame ||
                                               read == ReadResult::NoPicture);
         number++) {
        run.frames = number + 1;
        progress.show(number + 1, info.length);
        if (!wanted(run.options, number))
            continue;
        if (read == ReadResult::NoPicture) {
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
    progress.erase();
    if (status == 0 && read == ReadResult::Failed) {
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
    if (readPicture(run.positional[0], frame, error) != 0)
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

// Which kind of output the name asks for: 0, or 1 after saying it cannot be.
int outputKind(const Run& run, const std::string& path, OutputKind& kind) {
    kind = OutputKind::H264;
    if (hasSuffix(path, ".avi")) {
        kind = OutputKind::Mjpeg;
    } else if (hasSuffix(path, PICTURE_SUFFIXES)) {
        if (run.options.kind != 'I')
            return toolError(TOOL,
                             path + ": a picture holds one frame; give a movie name (.mp4, .avi)");
        kind = OutputKind::Picture;
    } else if (!hasSuffix(path, {".mp4", ".mkv", ".mov"})) {
        return toolError(TOOL, path +
                                   ": the output must end in .mp4, .mkv, .mov or .avi (or, for a "
                                   "still, .png, .jpg or .ppm)");
    }
    return 0;
}

// Draws the footage into `path`: a picture is written whole by writeImage, a
// movie into a temporary file that replaces `path` once it is complete.
int draw(Run& run, const std::string& path, OutputKind kind, int& written, std::string& error) {
    const auto drawInto = [&](const std::string& name) {
        Output output(name, kind);
        const int status =
            run.options.kind == 'I' ? drawStill(run, output, error) : drawMovie(run, output, error);
        written = output.written();
        return status;
    };
    if (kind == OutputKind::Picture)
        return drawInto(path);
    int status = 0;
    const FileResult result = replaceFileNamed(
        path, [&](const std::string& name) { return (status = drawInto(name)) == 0; });
    if (status == 0 && !result.ok()) {
        error = writeProblem(path, result);
        status = -1;
    }
    return status;
}

int overlay(Run& run) {
    if (checkArguments(run.options, run.positional) != 0)
        return 1;
    const std::string& footage = run.positional[0];
    const std::string& track = run.positional[1];
    const std::string& path = run.positional[2];
    OutputKind kind = OutputKind::H264;
    if (refuseClash(TOOL, {path}, {footage, track, run.options.cameraPath}) != 0 ||
        outputKind(run, path, kind) != 0)
        return 1;
    std::string error;
    if (readCameraMotion(track, run.motion, error) != 0)
        return toolError(TOOL, error);
    if (const std::string beyond = rowBeyondDrawing(run.motion); !beyond.empty())
        return toolError(TOOL, track + ": " + beyond);
    if (loadCameraFile(run.options.cameraPath, run.stored, error) != 0)
        return toolError(TOOL, error);
    int written = 0;
    if (draw(run, path, kind, written, error) != 0)
        return toolError(TOOL, error);
    std::printf("wrote %s: %d frames drawn of %lld\n", path.c_str(), written, run.frames);
    if (run.frames != run.motion.rowCount())
        return toolError(TOOL, footage + " has " + std::to_string(run.frames) + " frames but " +
                                   track + " has " + std::to_string(run.motion.rowCount()) +
                                   " rows: the frames that exist are drawn; is it the track of "
                                   "this footage?");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Run run;
    return runTool(TEXT, optionTable(run.options), argc, argv,
                   [&](const std::vector<std::string>& positional) {
                       run.positional = positional;
                       return overlay(run);
                   });
}
