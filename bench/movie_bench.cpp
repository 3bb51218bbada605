// A whole movie, decode-only against Lumeko's full run, on footage rendered
// here with lumeko-render (Motion JPEG) and transcoded to H.264: 640 x 480
// and 1920 x 1080; and the same frames as picture sequences (numbered from
// 1001) in JPEG, 16-bit PNG, half-float OpenEXR and 10-bit DPX. The decode-only loop makes the same
// FFmpeg calls and the same conversion into frames as Lumeko, on one thread of its own plus
// FFmpeg's; Lumeko's run is runLumeko() in this process, with its output
// sent to /dev/null. The two take turns within each iteration; the counters
// give each one's fastest pass in ms per frame and their ratio.
//
// LUMEKO_MOVIE_BENCH_FRAMES sets the length (default 150 frames at 640 x 480
// and 60 at 1920 x 1080, the figures in the README); LUMEKO_MOVIE_BENCH_DIR
// keeps the footage in that folder (one folder per size, with its camera
// file and pattern, ready for Lumeko) and uses it again on the next run;
// LUMEKO_MOVIE_BENCH_OPTIONS gives Lumeko's run options ("--bridge").

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/run_flow.h"
#include "media/movie_file.h"
#include "media/sequence_file.h"
#include "tests/support/media_fixtures.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace lumeko_test;

void mustRun(const std::string& dir, const std::vector<std::string>& argv) {
    const ProcessResult result = runProcess(dir, argv);
    if (result.status != 0)
        throw std::runtime_error(argv[0] + " failed: " + result.err);
}

int framesFor(int width) {
    const char* text = std::getenv("LUMEKO_MOVIE_BENCH_FRAMES");
    if (text != nullptr && std::atoi(text) > 0)
        return std::atoi(text);
    return width > 640 ? 60 : 150;
}

// Every picture of a movie as blue, green, red rows.
std::vector<std::vector<unsigned char>> decodeAll(const std::string& path) {
    MovieFile movie;
    if (!movie.open(path.c_str()).ok() || !movie.openVideoStream().ok() ||
        !movie.openDecoder(0).ok())
        throw std::runtime_error("can not read " + path);
    const FrameSize size = movie.info().size;
    const size_t pixelCount = static_cast<size_t>(size.width) * size.height;
    std::vector<unsigned char> bgra(pixelCount * 4 + FRAME_CONVERT_SLACK);
    std::vector<std::vector<unsigned char>> frames;
    while (movie.decodePicture().kind == PictureKind::Picture) {
        movie.convertPicture(FrameImage{bgra.data(), size.width, size.height});
        std::vector<unsigned char>& frame = frames.emplace_back(pixelCount * 3);
        for (size_t i = 0; i < frame.size(); i++)
            frame[i] = bgra[i / 3 * 4 + i % 3];
    }
    return frames;
}

// The frames as sequences, one folder per format: plate.1001.jpg on.
void writeSequences(const std::string& path, const std::vector<std::vector<unsigned char>>& frames,
                    int width, int height) {
    const std::pair<const char*, PictureFormat> formats[] = {{"png", PictureFormat::Png16},
                                                             {"exr", PictureFormat::ExrHalf},
                                                             {"dpx", PictureFormat::Dpx10}};
    for (const char* folder : {"jpg", "png", "exr", "dpx"})
        fs::create_directories(path + "/" + folder);
    for (size_t i = 0; i < frames.size(); i++) {
        const std::string number = std::to_string(1001 + i);
        std::vector<unsigned char> rgb = frames[i];
        for (size_t k = 0; k < rgb.size(); k += 3)
            std::swap(rgb[k], rgb[k + 2]);
        writeJpeg(path + "/jpg/plate." + number + ".jpg", rgb.data(), width, height,
                  JpegColour::Rgb);
        for (const auto& [folder, format] : formats)
            writePicture(path + "/" + folder + "/plate." + number + "." + folder, format, frames[i],
                         width, height);
    }
}

// A folder per frame size with its camera file and the pattern; the movies
// in it, rendered on first use.
class Footage {
  public:
    static std::string folder(int width, int height) {
        static Footage footage;
        return footage.make(width, height);
    }

  private:
    std::string make(int width, int height) {
        const std::string size = std::to_string(width) + "x" + std::to_string(height);
        const char* kept = std::getenv("LUMEKO_MOVIE_BENCH_DIR");
        const std::string path = kept != nullptr ? std::string(kept) + "/" + size : dir.file(size);
        if (fs::exists(path + "/dpx"))
            return path;
        fs::create_directories(path + "/Data");
        const std::string tools = LUMEKO_TOOLS_DIR;
        mustRun(path, {tools + "/lumeko-camera", "write", "Data/camera_para.dat", "--size", size,
                       "--hfov", "60"});
        fs::copy_file(LUMEKO_SOURCE_DIR "/Data/sample_marker.pattern", path + "/marker.pattern");
        mustRun(path, {tools + "/lumeko-render", "--camera", "Data/camera_para.dat", "--picture",
                       LUMEKO_SOURCE_DIR "/Data/sample_marker_picture.ppm", "--path", "orbit",
                       "--frames", std::to_string(framesFor(width)), "--noise", "3", "--blur",
                       "0.7", "--supersample", "1", "--output", "mjpeg.avi"});
        const std::vector<std::vector<unsigned char>> frames = decodeAll(path + "/mjpeg.avi");
        writeMovie(path + "/h264.mkv", {width, height, 30, 1, MovieCodec::H264}, frames);
        writeSequences(path, frames, width, height);
        return path;
    }
    TempDir dir;
};

// Seconds for one decode-only pass over `path`: the same FFmpeg calls and
// the same conversion into frames as Lumeko, on this thread plus FFmpeg's.
double decodeOnce(const std::string& path, int width, int height,
                  std::vector<unsigned char>& pixels, long long& frames) {
    const auto start = std::chrono::steady_clock::now();
    MovieFile movie;
    SequenceFile sequence;
    PictureDecoder* decoder = &movie;
    if (const std::optional<SequencePattern> pattern = parseSequencePattern(path)) {
        const SequenceListing listing = listSequence(*pattern);
        if (!listing.problem.ok() || listing.numbers.empty())
            return -1.0;
        sequence.setFiles(*pattern, listing.numbers, listing.numbers[0]);
        if (!sequence.openDecoder(0).ok())
            return -1.0;
        sequence.setFrameSize({width, height});
        decoder = &sequence;
    } else if (!movie.open(path.c_str()).ok() || !movie.openVideoStream().ok() ||
               !movie.openDecoder(0).ok()) {
        return -1.0;
    }
    frames = 0;
    const FrameImage frame{pixels.data(), width, height};
    while (decoder->decodePicture().kind == PictureKind::Picture) {
        decoder->convertPicture(frame);
        frames++;
    }
    movie.close();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Seconds for Lumeko's whole run over `name` in the working folder (its
// standard output sent to /dev/null), or -1 when it fails.
// LUMEKO_MOVIE_BENCH_OPTIONS adds Lumeko options (words separated by spaces,
// "--bridge" say) before the five arguments.
double lumekoOnce(const char* name, int devNull) {
    std::vector<std::string> args = {"Lumeko"};
    if (const char* options = std::getenv("LUMEKO_MOVIE_BENCH_OPTIONS")) {
        std::string word;
        for (const char* c = options;; c++) {
            if (*c != ' ' && *c != '\0') {
                word += *c;
                continue;
            }
            if (!word.empty())
                args.push_back(word);
            word.clear();
            if (*c == '\0')
                break;
        }
    }
    for (const char* positional : {"marker.pattern", "80", "0", "M", name})
        args.push_back(positional);
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    std::fflush(stdout);
    const int savedOut = dup(STDOUT_FILENO);
    dup2(devNull, STDOUT_FILENO);
    const auto start = std::chrono::steady_clock::now();
    const int status = runLumeko(static_cast<int>(argv.size()), argv.data());
    std::fflush(stdout);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    dup2(savedOut, STDOUT_FILENO);
    close(savedOut);
    return status == 0 ? seconds : -1.0;
}

// One iteration runs the decode-only loop and Lumeko once each, in turns
// (which goes first alternates), so that both see the same machine: on a
// shared machine the load drifts between benchmarks run one after another.
// Reports the fastest pass of each as ms per frame and their ratio (the
// fastest pass is the one least disturbed), and the median of the paired
// ratios.
void movieAgainstDecode(benchmark::State& state, int width, int height, const char* name) {
    const std::string folder = Footage::folder(width, height);
    const fs::path before = fs::current_path();
    fs::current_path(folder);
    const int devNull = ::open("/dev/null", O_WRONLY);
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 4 +
                                      FRAME_CONVERT_SLACK);
    std::vector<double> decodeTimes, lumekoTimes, ratios;
    long long frames = 0;
    bool decodeFirst = true;
    for (auto _ : state) {
        double decode = 0.0, run = 0.0;
        if (decodeFirst) {
            decode = decodeOnce(name, width, height, pixels, frames);
            run = lumekoOnce(name, devNull);
        } else {
            run = lumekoOnce(name, devNull);
            decode = decodeOnce(name, width, height, pixels, frames);
        }
        decodeFirst = !decodeFirst;
        if (decode < 0.0 || run < 0.0 || frames == 0) {
            state.SkipWithError("can not decode or track the movie");
            break;
        }
        state.SetIterationTime(decode + run);
        decodeTimes.push_back(decode);
        lumekoTimes.push_back(run);
        ratios.push_back(run / decode);
    }
    close(devNull);
    fs::current_path(before);
    if (ratios.empty())
        return;
    const double perFrame = 1000.0 / static_cast<double>(frames);
    const double fastestDecode = *std::min_element(decodeTimes.begin(), decodeTimes.end());
    const double fastestRun = *std::min_element(lumekoTimes.begin(), lumekoTimes.end());
    std::nth_element(ratios.begin(), ratios.begin() + ratios.size() / 2, ratios.end());
    state.counters["decode_ms_per_frame"] = fastestDecode * perFrame;
    state.counters["lumeko_ms_per_frame"] = fastestRun * perFrame;
    state.counters["ratio"] = fastestRun / fastestDecode;
    state.counters["median_ratio"] = ratios[ratios.size() / 2];
}

void registerAll() {
    const struct {
        int width, height;
        const char* movie;
        const char* label;
    } movies[] = {{640, 480, "mjpeg.avi", "640x480/MJPEG"},
                  {640, 480, "h264.mkv", "640x480/H.264"},
                  {1920, 1080, "mjpeg.avi", "1920x1080/MJPEG"},
                  {1920, 1080, "h264.mkv", "1920x1080/H.264"},
                  {1920, 1080, "jpg/plate.%04d.jpg", "1920x1080/JPEG sequence"},
                  {1920, 1080, "png/plate.####.png", "1920x1080/PNG 16-bit sequence"},
                  {1920, 1080, "exr/plate.####.exr", "1920x1080/EXR half sequence"},
                  {1920, 1080, "dpx/plate.####.dpx", "1920x1080/DPX 10-bit sequence"}};
    for (const auto& m : movies) {
        benchmark::RegisterBenchmark((std::string("Movie/") + m.label).c_str(), movieAgainstDecode,
                                     m.width, m.height, m.movie)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
}

}  // namespace

int main(int argc, char** argv) {
    registerAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
