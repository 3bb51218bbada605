// Golden runs: Lumeko's whole observable result for a fixed set of runs (the bytes of
// Lumeko.cm2 or its absence, standard output, standard error and exit status), compared
// byte for byte with the files under tests/golden/<run>/ (cm2, stdout, stderr, status).
// They hold what Lumeko did when they were recorded, so any change in output fails here.
//
// When an intended change alters an output, rewrite the expected files and review the
// difference in git before committing it:
//   LUMEKO_GOLDEN_UPDATE=1 build/tests/app/golden_tests     (or scripts/update-golden)
// The update writes the folder of every run it runs; delete the folder of a removed run by hand.
//
// Every run gets a fresh directory holding only its inputs, with relative names so that no
// temporary path can reach the output, and standard input from /dev/null. The inputs are made
// by the test itself (the tools and the media fixtures), each once per test process.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "tests/support/media_fixtures.h"
#include "tests/support/test_support.h"

namespace {

using namespace lumeko_test;
namespace fs = std::filesystem;

const std::string GOLDEN_DIR = LUMEKO_SOURCE_DIR "/tests/golden";
const std::string TOOLS = LUMEKO_TOOLS_DIR;

bool updating() {
    const char* update = std::getenv("LUMEKO_GOLDEN_UPDATE");
    return update != nullptr && std::string(update) == "1";
}

void mustRun(const std::string& dir, const std::vector<std::string>& argv) {
    const ProcessResult result = runProcess(dir, argv);
    if (result.status != 0)
        throw std::runtime_error(argv[0] + " failed: " + result.err);
}

// The inputs of all runs, each made on first use into one shared directory.
class Inputs {
  public:
    static std::string get(const std::string& name) {
        static Inputs inputs;
        if (!inputs.made_.count(name)) {
            inputs.make(name);
            inputs.made_[name] = true;
        }
        return inputs.dir_.file(name);
    }

  private:
    void render(const std::string& output, std::vector<std::string> options) {
        get("camera640");
        options.insert(options.begin(),
                       {TOOLS + "/lumeko-render", "--camera", "camera640", "--picture",
                        LUMEKO_SOURCE_DIR "/Data/sample_marker_picture.ppm", "--size", "640x480",
                        "--output", output});
        mustRun(dir_.path(), options);
    }
    void movie(const std::string& name, int width, MovieCodec codec,
               const std::vector<bool>& markers, int rate = 25) {
        writeMovie(dir_.file(name), {width, SCENE_HEIGHT, rate, 1, codec},
                   markerScenes(markers, width));
    }
    void make(const std::string& name) {
        using enum MovieCodec;
        // The scene in each codec, and as each kind of JPEG still.
        static const std::map<std::string, std::pair<int, MovieCodec>> MOVIES = {
            {"raw161.avi", {SCENE_WIDTH, RawBgr24}},
            {"mjpeg.avi", {160, Mjpeg}},
            {"mpeg4.avi", {160, Mpeg4}},
            {"mpeg4.mkv", {160, Mpeg4}},
            {"h264.mp4", {160, H264}},
            {"h264.mkv", {160, H264}}};
        static const std::map<std::string, JpegColour> STILLS = {{"colour.jpg", JpegColour::Rgb},
                                                                 {"grey.jpg", JpegColour::Grey},
                                                                 {"cmyk.jpg", JpegColour::Cmyk}};
        const std::string path = dir_.file(name);
        // The same five frames in every codec: no marker, marker, marker, none, marker.
        const std::vector<bool> five{false, true, true, false, true};
        if (name == "camera640") {
            mustRun(dir_.path(),
                    {TOOLS + "/lumeko-camera", "write", name, "--size", "640x480", "--hfov", "60"});
        } else if (name == "camera161") {  // the scene's camera
            mustRun(dir_.path(), {TOOLS + "/lumeko-camera", "write", name, "--size", "161x120",
                                  "--focal", "160,160", "--centre", "80,60"});
        } else if (name == "camera135") {  // one byte short of a record
            writeFile(path, readFile(get("camera161")).substr(0, 135));
        } else if (name == "sample.pattern") {
            writeFile(path, readFile(LUMEKO_SOURCE_DIR "/Data/sample_marker.pattern"));
        } else if (name == "scene.pattern") {
            writeFile(path, markerScenePattern());
        } else if (name == "short.pattern") {  // the first 700 of 3072 numbers
            const std::string text = markerScenePattern();
            size_t at = 0;
            for (int n = 0; n < 700; n++)
                at = text.find_first_of(" \n", at) + 1;
            writeFile(path, text.substr(0, at));
        } else if (name == "orbit.avi") {
            render(name, {"--path", "orbit", "--frames", "30"});
        } else if (name == "exit.avi") {
            render(name, {"--path", "exit", "--frames", "40"});
        } else if (name == "shake.avi") {
            render(name, {"--path", "shake", "--frames", "20", "--noise", "3", "--blur", "0.7"});
        } else if (name == "rendered.jpg") {
            render(name, {"--path", "still", "--position", "100,-250,300", "--roll", "15"});
        } else if (MOVIES.count(name)) {
            movie(name, MOVIES.at(name).first, MOVIES.at(name).second, five);
        } else if (name == "damaged.avi") {  // frame 1 of five zeroed
            movie(name, SCENE_WIDTH, Mjpeg, five);
            damageAviFrame(path, 1);
        } else if (name == "noframes.avi") {
            movie(name, SCENE_WIDTH, RawBgr24, {});
        } else if (name == "long.avi") {  // one frame more than the key table holds
            writeMovie(path, {16, 16, 25, 1, RawBgr24},
                       std::vector(1501, std::vector<unsigned char>(16 * 16 * 3, 255)));
        } else if (STILLS.count(name)) {
            writeMarkerStill(path, STILLS.at(name));
        } else if (name == "cut_end.jpg") {  // the decoder repairs the missing end
            const std::string bytes = readFile(get("colour.jpg"));
            writeFile(path, bytes.substr(0, bytes.size() - 8));
        } else if (name == "cut_150.jpg") {  // not even the whole header
            writeFile(path, readFile(get("colour.jpg")).substr(0, 150));
        } else if (name == "empty") {
            writeFile(path, "");
        } else if (name == "text") {
            writeFile(path, "a text file, not a picture or a movie\n");
        } else if (name == "earlier.cm2") {
            writeFile(path, "an earlier track\n");
        } else {
            throw std::runtime_error("no input " + name);
        }
    }
    TempDir dir_;
    std::map<std::string, bool> made_;
};

struct GoldenRun {
    std::string name;
    std::vector<std::string> args;  // after the program's name
    // Files of the run's directory and the inputs they are copied from; Data/camera_para.dat
    // is camera161 unless given (an empty input name leaves it out).
    std::map<std::string, std::string> files;
};

void PrintTo(const GoldenRun& run, std::ostream* out) {
    *out << run.name;
}

// A still or movie tracked with the scene's pattern.
GoldenRun scene(const std::string& name, const char* kind, const std::string& input,
                const std::string& width = "80", const std::string& camNo = "0") {
    return {
        name, {"scene.pattern", width, camNo, kind, input}, {{"scene.pattern", "scene.pattern"}}};
}

GoldenRun with(GoldenRun run, const std::string& file, const std::string& input) {
    run.files[file] = input;
    return run;
}

// Footage rendered with the sample marker, 640 x 480 through a 60 degree lens.
GoldenRun rendered(const std::string& name, const char* kind, const std::string& input) {
    return {name,
            {"sample.pattern", "80", "0", kind, input},
            {{"sample.pattern", "sample.pattern"},
             {input, input},
             {"Data/camera_para.dat", "camera640"}}};
}

GoldenRun movie(const std::string& name, const std::string& file, const std::string& input) {
    return with(scene(name, "M", file), file, input);
}

GoldenRun still(const std::string& name, const std::string& file, const std::string& input) {
    return with(scene(name, "I", file), file, input);
}

GoldenRun commandLine(const std::string& name, std::vector<std::string> args) {
    return {name, std::move(args), {{"scene.pattern", "scene.pattern"}, {"in.jpg", "colour.jpg"}}};
}

const GoldenRun RUNS[] = {
    // Movies
    rendered("movie_mjpeg_orbit", "M", "orbit.avi"),
    movie("movie_raw_odd_width", "raw.avi", "raw161.avi"),
    movie("movie_mjpeg_scene", "mjpeg.avi", "mjpeg.avi"),
    movie("movie_mpeg4_avi", "mpeg4.avi", "mpeg4.avi"),
    movie("movie_mpeg4_mkv", "mpeg4.mkv", "mpeg4.mkv"),
    movie("movie_h264_mp4", "h264.mp4", "h264.mp4"),
    movie("movie_h264_mkv", "h264.mkv", "h264.mkv"),
    movie("movie_damaged_frame", "damaged.avi", "damaged.avi"),
    movie("movie_no_frames", "noframes.avi", "noframes.avi"),
    movie("movie_zero_bytes", "empty.avi", "empty"),
    movie("movie_text_file", "notes.avi", "text"),
    scene("movie_missing", "M", "absent.avi"),
    movie("movie_1501_frames", "long.avi", "long.avi"),
    // Rendered tracks
    rendered("track_exit_lost_and_found", "M", "exit.avi"),
    rendered("track_shake_noise_blur", "M", "shake.avi"),
    // Stills
    rendered("still_rendered_colour", "I", "rendered.jpg"),
    still("still_colour", "colour.jpg", "colour.jpg"),
    still("still_grey", "grey.jpg", "grey.jpg"),
    still("still_cmyk", "cmyk.jpg", "cmyk.jpg"),
    still("still_truncated_end", "cut.jpg", "cut_end.jpg"),
    still("still_truncated_header", "cut.jpg", "cut_150.jpg"),
    still("still_not_jpeg", "notes.jpg", "text"),
    still("still_zero_bytes", "empty.jpg", "empty"),
    scene("still_missing", "I", "absent.jpg"),
    // The command line
    commandLine("args_none", {}),
    commandLine("args_one", {"scene.pattern"}),
    commandLine("args_four", {"scene.pattern", "80", "0", "I"}),
    commandLine("args_six", {"scene.pattern", "80", "0", "I", "in.jpg", "extra"}),
    commandLine("args_seven", {"scene.pattern", "80", "0", "I", "in.jpg", "a", "b"}),
    commandLine("width_abc", {"scene.pattern", "abc", "0", "I", "in.jpg"}),
    commandLine("width_80abc", {"scene.pattern", "80abc", "0", "I", "in.jpg"}),
    commandLine("width_0", {"scene.pattern", "0", "0", "I", "in.jpg"}),
    commandLine("width_nan", {"scene.pattern", "nan", "0", "I", "in.jpg"}),
    commandLine("width_negative", {"scene.pattern", "-80", "0", "I", "in.jpg"}),
    commandLine("width_1e999", {"scene.pattern", "1e999", "0", "I", "in.jpg"}),
    commandLine("width_spaces_exponent", {"scene.pattern", " 1.5e1", "0", "I", "in.jpg"}),
    commandLine("camno_x", {"scene.pattern", "80", "x", "I", "in.jpg"}),
    commandLine("camno_3x", {"scene.pattern", "80", "3x", "I", "in.jpg"}),
    commandLine("kind_lower_m", {"scene.pattern", "80", "0", "m", "in.jpg"}),
    commandLine("kind_MM", {"scene.pattern", "80", "0", "MM", "in.jpg"}),
    commandLine("kind_empty", {"scene.pattern", "80", "0", "", "in.jpg"}),
    commandLine("kind_movie_on_jpeg", {"scene.pattern", "80", "0", "M", "in.jpg"}),
    // Camera and pattern files
    with(still("camera_missing", "in.jpg", "colour.jpg"), "Data/camera_para.dat", ""),
    with(still("camera_135_bytes", "in.jpg", "colour.jpg"), "Data/camera_para.dat", "camera135"),
    with(still("camera_bigger_size", "in.jpg", "colour.jpg"), "Data/camera_para.dat", "camera640"),
    commandLine("pattern_missing", {"absent.pattern", "80", "0", "I", "in.jpg"}),
    with(commandLine("pattern_too_few_numbers", {"short.pattern", "80", "0", "I", "in.jpg"}),
         "short.pattern", "short.pattern"),
    with(commandLine("pattern_text", {"notes.pattern", "80", "0", "I", "in.jpg"}), "notes.pattern",
         "text"),
    // Camera numbers and widths
    with(scene("camno_0", "M", "mjpeg.avi", "80", "0"), "mjpeg.avi", "mjpeg.avi"),
    with(scene("camno_1", "M", "mjpeg.avi", "80", "1"), "mjpeg.avi", "mjpeg.avi"),
    with(scene("camno_2", "M", "mjpeg.avi", "80", "2"), "mjpeg.avi", "mjpeg.avi"),
    with(scene("camno_3", "M", "mjpeg.avi", "80", "3"), "mjpeg.avi", "mjpeg.avi"),
    with(scene("camno_minus_5", "M", "mjpeg.avi", "80", "-5"), "mjpeg.avi", "mjpeg.avi"),
    with(scene("width_40_still", "I", "in.jpg", "40", "0"), "in.jpg", "colour.jpg"),
    // An earlier Lumeko.cm2: kept by failing runs, replaced by a successful one
    with(movie("earlier_kept_1501_frames", "long.avi", "long.avi"), "Lumeko.cm2", "earlier.cm2"),
    with(scene("earlier_kept_missing_movie", "M", "absent.avi"), "Lumeko.cm2", "earlier.cm2"),
    with(with(still("earlier_kept_camera_missing", "in.jpg", "colour.jpg"), "Lumeko.cm2",
              "earlier.cm2"),
         "Data/camera_para.dat", ""),
    with(commandLine("earlier_kept_usage", {"scene.pattern", "abc", "0", "I", "in.jpg"}),
         "Lumeko.cm2", "earlier.cm2"),
    with(still("earlier_replaced", "in.jpg", "colour.jpg"), "Lumeko.cm2", "earlier.cm2"),
};

// A readable account of how `actual` differs from the expected file: diff's unified
// output when diff is there, else the first differing byte.
std::string difference(const std::string& expectedPath, const std::string& actual,
                       const TempDir& scratch) {
    const std::string actualPath = scratch.file("actual");
    writeFile(actualPath, actual);
    const ProcessResult diff =
        runProcess(scratch.path(), {"/usr/bin/diff", "-u", "--text", "--label", "expected",
                                    "--label", "actual", expectedPath, actualPath});
    if (diff.status == 1)
        return diff.out.size() > 6000 ? diff.out.substr(0, 6000) + "\n[...]\n" : diff.out;
    const std::string expected = readFile(expectedPath);
    size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at])
        at++;
    return "first difference at byte " + std::to_string(at) + " (expected " +
           std::to_string(expected.size()) + " bytes, got " + std::to_string(actual.size()) + ")\n";
}

class Golden : public testing::TestWithParam<GoldenRun> {};

TEST_P(Golden, OutputsStayByteForByte) {
    const GoldenRun& run = GetParam();
    TempDir dir;
    std::map<std::string, std::string> files = run.files;
    files.try_emplace("Data/camera_para.dat", "camera161");
    fs::create_directory(dir.file("Data"));
    for (const auto& [file, input] : files)
        if (!input.empty())
            fs::copy_file(Inputs::get(input), dir.file(file));

    std::vector<std::string> argv = run.args;
    argv.insert(argv.begin(), LUMEKO_BINARY);
    const ProcessResult result = runProcess(dir.path(), argv);
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir.path())) {
        const std::string name = fs::relative(entry.path(), dir.path()).string();
        EXPECT_TRUE(name == "Data" || name == "Lumeko.cm2" || files.count(name))
            << "the run left a new file " << name;
    }
    const std::string cm2Path = dir.file("Lumeko.cm2");
    const bool cm2 = fileExists(cm2Path);
    const std::map<std::string, std::string> got{{"stdout", result.out},
                                                 {"stderr", result.err},
                                                 {"status", std::to_string(result.status) + "\n"},
                                                 {"cm2", cm2 ? readFile(cm2Path) : ""}};

    const std::string expectedDir = GOLDEN_DIR + "/" + run.name;
    if (updating()) {
        fs::create_directories(expectedDir);
        for (const auto& [part, bytes] : got)
            if (part != "cm2" || cm2)
                writeFile(expectedDir + "/" + part, bytes);
        if (!cm2)
            fs::remove(expectedDir + "/cm2");
        return;
    }
    ASSERT_TRUE(fs::is_directory(expectedDir))
        << expectedDir << " is missing: record it with LUMEKO_GOLDEN_UPDATE=1";
    TempDir scratch;
    for (const auto& [part, bytes] : got) {
        const std::string expectedPath = expectedDir + "/" + part;
        if (part != "cm2" && !fileExists(expectedPath)) {
            ADD_FAILURE() << expectedPath << " is missing";
        } else if (part == "cm2" && fileExists(expectedPath) != cm2) {
            ADD_FAILURE() << (cm2 ? "Lumeko.cm2 was written, none expected"
                                  : "no Lumeko.cm2 was written, one expected");
        } else if ((part != "cm2" || cm2) && readFile(expectedPath) != bytes) {
            ADD_FAILURE() << part << " differs from " << expectedPath << ":\n"
                          << difference(expectedPath, bytes, scratch);
        }
    }
}

// A folder left from a renamed or removed run would be kept up to date by nobody.
TEST(GoldenFolders, EachBelongsToARun) {
    for (const fs::directory_entry& entry : fs::directory_iterator(GOLDEN_DIR)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(!entry.is_directory() ||
                    std::any_of(std::begin(RUNS), std::end(RUNS),
                                [&](const GoldenRun& run) { return run.name == name; }))
            << GOLDEN_DIR << "/" << name << " belongs to no run";
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, Golden, testing::ValuesIn(RUNS),
                         [](const testing::TestParamInfo<GoldenRun>& info) {
                             return info.param.name;
                         });

}  // namespace
