// A whole movie, decode-only against Lumeko's full run without options and
// with --best, on footage rendered here with lumeko-render over a textured
// table (Motion JPEG) and transcoded to H.264: an orbit of the marker at
// 640 x 480, a hand-held shake at 1920 x 1080, and at both sizes a glide over
// the table that never shows the marker (what a stretch without it costs);
// and the first 60 frames of the shake as picture sequences (numbered from
// 1001) in JPEG, 16-bit PNG, half-float OpenEXR and 10-bit DPX. The
// decode-only loop makes the same FFmpeg calls and the same conversion into
// frames as Lumeko, on one thread of its own plus FFmpeg's; Lumeko's runs are
// runLumeko() in this process, with their output sent to /dev/null. The three
// take turns within each iteration; the counters give each one's fastest pass
// in ms per frame and the runs' ratios to decoding.
//
// LUMEKO_MOVIE_BENCH_FRAMES sets the length (default 600 frames at 640 x 480
// and 300 at 1920 x 1080, the figures in the README); LUMEKO_MOVIE_BENCH_DIR
// keeps the footage in that folder (one folder per clip, with its camera
// file and pattern, ready for Lumeko) and uses it again on the next run;
// LUMEKO_MOVIE_BENCH_OPTIONS replaces --best by other options ("--bridge").

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
    return width > 640 ? 300 : 600;
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

// A folder per clip with its camera file, the pattern and the movies,
// rendered on first use: the orbit (640 x 480) or the shake (1920 x 1080) of
// the marker, or (`glide`) a glide over the table far from it.
class Footage {
  public:
    static std::string folder(int width, int height, bool glide) {
        static Footage footage;
        return footage.make(width, height, glide);
    }

  private:
    std::string make(int width, int height, bool glide) {
        const std::string size = std::to_string(width) + "x" + std::to_string(height);
        const std::string name = size + (glide ? "-glide" : "");
        const char* kept = std::getenv("LUMEKO_MOVIE_BENCH_DIR");
        const std::string path = kept != nullptr ? std::string(kept) + "/" + name : dir.file(name);
        if (fs::exists(path + "/h264.mkv"))
            return path;
        fs::create_directories(path + "/Data");
        const std::string tools = LUMEKO_TOOLS_DIR;
        mustRun(path, {tools + "/lumeko-camera", "write", "Data/camera_para.dat", "--size", size,
                       "--hfov", "60"});
        fs::copy_file(LUMEKO_SOURCE_DIR "/Data/sample_marker.pattern", path + "/marker.pattern");
        // Light wood under 600 rectangles in muted shades.
        writeTablePicture(path + "/table.ppm", {600, 40, {0xc4, 0xba, 0xa8}, {0, -10, -25}});
        std::vector<std::string> render = {tools + "/lumeko-render",
                                           "--camera",
                                           "Data/camera_para.dat",
                                           "--picture",
                                           LUMEKO_SOURCE_DIR "/Data/sample_marker_picture.ppm",
                                           "--table",
                                           "table.ppm",
                                           "--table-tile",
                                           "600",
                                           "--frames",
                                           std::to_string(framesFor(width)),
                                           "--noise",
                                           "3",
                                           "--blur",
                                           "0.7",
                                           "--supersample",
                                           "1",
                                           "--output",
                                           "mjpeg.avi"};
        if (glide) {
            render.insert(render.end(), {"--via", "2000,-300,350,2000,100,0", "--via",
                                         "2600,-300,350,2600,100,0"});
        } else {
            render.insert(render.end(), {"--path", width > 640 ? "shake" : "orbit"});
        }
        mustRun(path, render);
        std::vector<std::vector<unsigned char>> frames = decodeAll(path + "/mjpeg.avi");
        writeMovie(path + "/h264.mkv", {width, height, 30, 1, MovieCodec::H264}, frames);
        if (!glide && width > 640) {
            frames.resize(std::min<size_t>(frames.size(), 60));
            writeSequences(path, frames, width, height);
        }
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

// Seconds for Lumeko's whole run over `name` in the working folder with
// `options` (words separated by spaces) before the five arguments, its
// standard output sent to /dev/null; -1 when it fails.
double lumekoOnce(const char* name, const std::string& options, int devNull) {
    std::vector<std::string> args = {"Lumeko"};
    std::string word;
    for (const char c : options + " ") {
        if (c != ' ') {
            word += c;
        } else if (!word.empty()) {
            args.push_back(word);
            word.clear();
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

// One iteration runs the decode-only loop, Lumeko without options and Lumeko
// with --best once each, in turns (which goes first rotates), so that all
// three see the same machine: on a shared machine the load drifts between
// benchmarks run one after another. Reports the fastest pass of each as ms
// per frame, the runs' ratios to decoding (of the fastest passes: the ones
// least disturbed) and the medians of the paired ratios.
void movieAgainstDecode(benchmark::State& state, int width, int height, bool glide,
                        const char* name) {
    const std::string folder = Footage::folder(width, height, glide);
    const fs::path before = fs::current_path();
    fs::current_path(folder);
    const int devNull = ::open("/dev/null", O_WRONLY);
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 4 +
                                      FRAME_CONVERT_SLACK);
    const char* chosen = std::getenv("LUMEKO_MOVIE_BENCH_OPTIONS");
    const std::string best = chosen != nullptr ? chosen : "--best";
    std::vector<double> times[3], ratios[2];
    long long frames = 0;
    int first = 0;
    for (auto _ : state) {
        double took[3] = {};
        for (int k = 0; k < 3; k++) {
            const int run = (first + k) % 3;
            took[run] = run == 0   ? decodeOnce(name, width, height, pixels, frames)
                        : run == 1 ? lumekoOnce(name, "", devNull)
                                   : lumekoOnce(name, best, devNull);
        }
        first = (first + 1) % 3;
        if (took[0] < 0.0 || took[1] < 0.0 || took[2] < 0.0 || frames == 0) {
            state.SkipWithError("can not decode or track the movie");
            break;
        }
        state.SetIterationTime(took[0] + took[1] + took[2]);
        for (int k = 0; k < 3; k++)
            times[k].push_back(took[k]);
        ratios[0].push_back(took[1] / took[0]);
        ratios[1].push_back(took[2] / took[0]);
    }
    close(devNull);
    fs::current_path(before);
    if (ratios[0].empty())
        return;
    const double perFrame = 1000.0 / static_cast<double>(frames);
    const auto fastest = [](const std::vector<double>& v) {
        return *std::min_element(v.begin(), v.end());
    };
    const auto median = [](std::vector<double> v) {
        std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
        return v[v.size() / 2];
    };
    state.counters["decode_ms_per_frame"] = fastest(times[0]) * perFrame;
    state.counters["lumeko_ms_per_frame"] = fastest(times[1]) * perFrame;
    state.counters["best_ms_per_frame"] = fastest(times[2]) * perFrame;
    state.counters["ratio"] = fastest(times[1]) / fastest(times[0]);
    state.counters["best_ratio"] = fastest(times[2]) / fastest(times[0]);
    state.counters["median_ratio"] = median(ratios[0]);
    state.counters["median_best_ratio"] = median(ratios[1]);
}

void registerAll() {
    const struct {
        int width, height;
        bool glide;
        const char* movie;
        const char* label;
    } movies[] = {{640, 480, false, "mjpeg.avi", "640x480/MJPEG"},
                  {640, 480, false, "h264.mkv", "640x480/H.264"},
                  {1920, 1080, false, "mjpeg.avi", "1920x1080/MJPEG"},
                  {1920, 1080, false, "h264.mkv", "1920x1080/H.264"},
                  {640, 480, true, "h264.mkv", "640x480/H.264 no marker"},
                  {1920, 1080, true, "h264.mkv", "1920x1080/H.264 no marker"},
                  {1920, 1080, false, "jpg/plate.%04d.jpg", "1920x1080/JPEG sequence"},
                  {1920, 1080, false, "png/plate.####.png", "1920x1080/PNG 16-bit sequence"},
                  {1920, 1080, false, "exr/plate.####.exr", "1920x1080/EXR half sequence"},
                  {1920, 1080, false, "dpx/plate.####.dpx", "1920x1080/DPX 10-bit sequence"}};
    for (const auto& m : movies) {
        benchmark::RegisterBenchmark((std::string("Movie/") + m.label).c_str(), movieAgainstDecode,
                                     m.width, m.height, m.glide, m.movie)
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
