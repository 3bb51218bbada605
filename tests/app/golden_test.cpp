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
#include <map>
#include <random>

#include "tests/support/media_fixtures.h"
#include "tests/support/test_support.h"
#include "tests/support/truth_table.h"

namespace {

using namespace lumeko_test;
namespace fs = std::filesystem;

const std::string GOLDEN_DIR = LUMEKO_SOURCE_DIR "/tests/golden";
const std::string TOOLS = LUMEKO_TOOLS_DIR;

bool updating() {
    const char* update = std::getenv("LUMEKO_GOLDEN_UPDATE");
    return update != nullptr && std::string(update) == "1";
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
                       {lumeko_test::footageRenderer(), "--camera", "camera640", "--picture",
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
        } else if (name == "camera_zero_scale" || name == "camera_overflow") {
            CameraParam camera = sceneCamera();
            camera.distFactor[3] = name == "camera_zero_scale" ? 0 : 1;
            if (name == "camera_overflow") {  // half the frames' width: resizing doubles 1e308
                camera.xsize = 80;
                camera.mat[0][0] = 1e308;
                camera.mat[0][2] = camera.distFactor[0] = 40;
            }
            writeFile(path, cameraFileBytes(camera));
        } else if (name == "wide214.avi" || name == "near162.avi") {  // other aspect ratios
            const int width = name == "wide214.avi" ? 214 : 162;
            writeMovie(path, {width, SCENE_HEIGHT, 25, 1, RawBgr24}, markerScenes({true}, width));
        } else if (name == "wide8200.avi") {
            writeMovie(path, {8200, 16, 25, 1, RawBgr24},
                       {std::vector<unsigned char>(8200 * 16 * 3, 255)});
        } else if (name == "cut.avi") {  // six frames, cut off in the middle
            movie(name, SCENE_WIDTH, Mjpeg, std::vector(6, true));
            const std::string bytes = readFile(path);
            writeFile(path, bytes.substr(0, (bytes.find("movi") + bytes.find("idx1")) / 2));
        } else if (name == "normal.avi" || name == "dim.avi") {  // the marker, then none
            std::vector<std::vector<unsigned char>> frames =
                markerScenes({true, false, false, false, false});
            std::mt19937 random(7);  // dim: at 0.3, noise on the frames without the marker
            for (size_t i = 0; i < frames.size() && name == "dim.avi"; i++)
                for (unsigned char& byte : frames[i])
                    byte = static_cast<unsigned char>(byte * 0.3 + (i > 0 ? random() % 24 : 0));
            writeMovie(path, {SCENE_WIDTH, SCENE_HEIGHT, 25, 1, RawBgr24}, frames);
        } else if (name.starts_with("gaps_") || name.starts_with("written_out_")) {
            // Empty chunks in place of frames 2, 3, 4 and 6, or those pictures written out again.
            const MovieCodec codec = name.ends_with("cinepak.avi") ? Cinepak : Mjpeg;
            const std::vector<size_t> gaps{2, 3, 4, 6};
            writeMovie(path, {160, SCENE_HEIGHT, 25, 1, codec},
                       markerScenes({true, true, name.starts_with("written_out_"), false, false,
                                     true, name.starts_with("written_out_"), false},
                                    160),
                       name.starts_with("gaps_") ? gaps : std::vector<size_t>{});
        } else if (name.starts_with("damaged_gap_")) {  // frame 1 damaged, 2 an empty chunk
            writeMovie(path,
                       {160, SCENE_HEIGHT, 25, 1, name.ends_with("cinepak.avi") ? Cinepak : Mjpeg},
                       markerScenes(std::vector(4, true), 160), {2});
            damageAviFrame(path, 1);
        } else if (name == "damaged_first_gap.avi") {  // frame 0 damaged, 1 an empty chunk
            writeMovie(path, {160, SCENE_HEIGHT, 25, 1, Mjpeg},
                       markerScenes(std::vector(4, true), 160), {1});
            damageAviFrame(path, 0);
        } else if (name == "unknown_length.mkv") {  // no length in the container
            writeMovie(path, {32, 32, 25, 1, Mpeg4},
                       std::vector(1501, std::vector<unsigned char>(32 * 32 * 3, 255)));
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
    // Files of the run's directory and the inputs they are copied from ("/" makes a folder);
    // Data/camera_para.dat is camera161 unless given (an empty input name leaves it out).
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

GoldenRun withOptions(GoldenRun run, const std::vector<std::string>& options) {
    run.args.insert(run.args.begin(), options.begin(), options.end());
    return run;
}

GoldenRun commandLine(const std::string& name, std::vector<std::string> args) {
    return {name, std::move(args), {{"scene.pattern", "scene.pattern"}, {"in.jpg", "colour.jpg"}}};
}

// Movies tracked again on one decoding thread and on three, as threads_N_<name>: every
// output agrees with the run where the reader chose.
const struct {
    const char *name, *run, *file, *input;
} THREADED[] = {
    {"mjpeg", "movie_mjpeg_scene", "mjpeg.avi", "mjpeg.avi"},
    {"mpeg4_avi", "movie_mpeg4_avi", "mpeg4.avi", "mpeg4.avi"},
    {"h264_mkv", "movie_h264_mkv", "h264.mkv", "h264.mkv"},
    {"damaged_then_empty", "movie_damaged_then_empty_mjpeg", "damaged.avi",
     "damaged_gap_mjpeg.avi"},
    {"unknown_length", "movie_unknown_length_full_table", "long.mkv", "unknown_length.mkv"},
};

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
    movie("movie_cut_mid", "cut.avi", "cut.avi"),
    movie("movie_8200_wide", "wide.avi", "wide8200.avi"),
    movie("movie_aspect_warning", "wide.avi", "wide214.avi"),
    movie("movie_aspect_within_1_percent", "near.avi", "near162.avi"),
    // Empty chunks repeat the picture before them (as written out again); a damaged
    // picture is a stand-in, and the empty chunk after it repeats the picture before that.
    movie("movie_empty_chunks_mjpeg", "gaps.avi", "gaps_mjpeg.avi"),
    movie("movie_written_out_mjpeg", "full.avi", "written_out_mjpeg.avi"),
    movie("movie_empty_chunks_cinepak", "gaps.avi", "gaps_cinepak.avi"),
    movie("movie_written_out_cinepak", "full.avi", "written_out_cinepak.avi"),
    movie("movie_damaged_then_empty_cinepak", "damaged.avi", "damaged_gap_cinepak.avi"),
    movie("movie_damaged_then_empty_mjpeg", "damaged.avi", "damaged_gap_mjpeg.avi"),
    // An empty chunk before any picture has decoded is a frame without a picture.
    movie("movie_damaged_first_then_empty", "first.avi", "damaged_first_gap.avi"),
    // No length known: the run stops at the key table's limit, the decode thread working ahead.
    movie("movie_unknown_length_full_table", "long.mkv", "unknown_length.mkv"),
    // A dim marker, lost at the fixed threshold, found with --auto-threshold and held
    // after it as at normal exposure
    movie("auto_threshold_normal", "normal.avi", "normal.avi"),
    movie("auto_threshold_dim_without", "dim.avi", "dim.avi"),
    withOptions(movie("auto_threshold_dim_with", "dim.avi", "dim.avi"), {"--auto-threshold"}),
    // Rendered tracks
    rendered("track_exit_lost_and_found", "M", "exit.avi"),
    // --bridge over a plain table (nothing to follow once the marker leaves)
    // and a report that cannot be written, refused before the first frame
    withOptions(rendered("bridge_exit_plain_table", "M", "exit.avi"), {"--bridge"}),
    withOptions(rendered("report_unwritable", "M", "exit.avi"), {"--report", "no/report.csv"}),
    rendered("track_shake_noise_blur", "M", "shake.avi"),
    // Stills
    rendered("still_rendered_colour", "I", "rendered.jpg"),
    still("still_grey", "grey.jpg", "grey.jpg"),
    still("still_cmyk", "cmyk.jpg", "cmyk.jpg"),
    still("still_truncated_end", "cut.jpg", "cut_end.jpg"),
    still("still_truncated_header", "cut.jpg", "cut_150.jpg"),
    still("still_not_jpeg", "notes.jpg", "text"),
    still("still_zero_bytes", "empty.jpg", "empty"),
    scene("still_missing", "I", "absent.jpg"),
    // The command line
    commandLine("args_none", {}),
    commandLine("args_four", {"scene.pattern", "80", "0", "I"}),
    commandLine("args_six", {"scene.pattern", "80", "0", "I", "in.jpg", "extra"}),
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
    // Options, and command lines refused
    commandLine("help", {"--help", "scene.pattern", "80", "0", "I", "absent.jpg"}),
    commandLine("version", {"--version"}),
    commandLine("options_change_nothing", {"--auto-threshold", "--large-markers", "--",
                                           "scene.pattern", "80", "0", "I", "in.jpg"}),
    commandLine("width_empty", {"scene.pattern", "", "0", "I", "in.jpg"}),
    commandLine("width_inf", {"scene.pattern", "inf", "0", "I", "in.jpg"}),
    commandLine("width_minus_zero", {"scene.pattern", "-0", "0", "I", "in.jpg"}),
    commandLine("camno_dash", {"scene.pattern", "80", "-", "I", "in.jpg"}),
    commandLine("kind_MOVIE", {"scene.pattern", "80", "0", "MOVIE", "in.jpg"}),
    commandLine("option_alone", {"--refine"}),
    commandLine("option_unknown", {"--bogus", "scene.pattern", "80", "0", "I", "in.jpg"}),
    commandLine("option_prefix", {"--auto", "scene.pattern"}),
    commandLine("option_case", {"--refine", "--Refine"}),
    commandLine("option_no_name", {"--=x"}),
    commandLine("option_flag_value", {"--refine=yes", "scene.pattern"}),
    commandLine("option_value_missing", {"--range"}),
    commandLine("threads_0", {"--threads", "0"}),
    commandLine("threads_65", {"--threads=65"}),
    commandLine("range_no_colon", {"--range", "5"}),
    commandLine("range_reversed", {"--range", "9:3"}),
    commandLine("range_negative", {"--range", "-1:4"}),
    commandLine("range_no_last", {"--range", "3:"}),
    commandLine("range_no_first", {"--range=:3"}),
    commandLine("fps_0", {"--fps", "0"}),
    commandLine("fps_not_a_number", {"--fps", "2x"}),
    // Options end at the first positional or at "--"; a single dash is a positional.
    commandLine("option_after_positionals", {"scene.pattern", "80", "0", "I", "--refine"}),
    commandLine("options_end_at_dashes",
                {"--refine", "--", "--odd.pattern", "80", "0", "I", "in.jpg"}),
    commandLine("single_dash_positional", {"-x.pattern", "80", "0", "I", "in.jpg"}),
    // Folders where files belong ("/" makes one)
    movie("folder_movie", "in.avi", "/"),
    still("folder_still", "in.jpg", "/"),
    with(commandLine("folder_pattern", {"folder.pattern", "80", "0", "I", "in.jpg"}),
         "folder.pattern", "/"),
    with(still("folder_output", "in.jpg", "colour.jpg"), "Lumeko.cm2", "/"),
    // Camera and pattern files
    with(still("camera_zero_scale", "in.jpg", "colour.jpg"), "Data/camera_para.dat",
         "camera_zero_scale"),
    with(still("camera_resize_overflow", "in.jpg", "colour.jpg"), "Data/camera_para.dat",
         "camera_overflow"),
    with(still("camera_135_bytes", "in.jpg", "colour.jpg"), "Data/camera_para.dat", "camera135"),
    with(still("camera_bigger_size", "in.jpg", "colour.jpg"), "Data/camera_para.dat", "camera640"),
    commandLine("pattern_missing", {"absent.pattern", "80", "0", "I", "in.jpg"}),
    with(commandLine("pattern_too_few_numbers", {"short.pattern", "80", "0", "I", "in.jpg"}),
         "short.pattern", "short.pattern"),
    with(commandLine("pattern_text", {"notes.pattern", "80", "0", "I", "in.jpg"}), "notes.pattern",
         "text"),
    // Camera numbers and widths
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

// Every run: those above and the threaded ones.
std::vector<GoldenRun> allRuns() {
    std::vector<GoldenRun> runs(std::begin(RUNS), std::end(RUNS));
    for (const auto& threaded : THREADED)
        for (const std::string threads : {"1", "3"})
            runs.push_back(withOptions(
                movie("threads_" + threads + "_" + threaded.name, threaded.file, threaded.input),
                {"--threads", threads}));
    return runs;
}

// diff's unified account of how `actual` differs from the expected file.
std::string difference(const std::string& expectedPath, const std::string& actual,
                       const TempDir& scratch) {
    writeFile(scratch.file("actual"), actual);
    const std::string diff = runProcess(scratch.path(), {"/usr/bin/diff", "-u", "--text",
                                                         expectedPath, scratch.file("actual")})
                                 .out;
    return diff.size() > 6000 ? diff.substr(0, 6000) + "\n[...]\n" : diff;
}

class Golden : public testing::TestWithParam<GoldenRun> {};

TEST_P(Golden, OutputsStayByteForByte) {
    const GoldenRun& run = GetParam();
    TempDir dir;
    std::map<std::string, std::string> files = run.files;
    files.try_emplace("Data/camera_para.dat", "camera161");
    fs::create_directory(dir.file("Data"));
    for (const auto& [file, input] : files)
        if (input == "/")
            fs::create_directory(dir.file(file));
        else if (!input.empty())
            fs::copy_file(Inputs::get(input), dir.file(file));

    std::vector<std::string> argv = run.args;
    argv.insert(argv.begin(), LUMEKO_BINARY);
    const ProcessResult result = runProcess(dir.path(), argv);
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir.path())) {
        const std::string name = fs::relative(entry.path(), dir.path()).string();
        EXPECT_TRUE(name == "Data" || name == "Lumeko.cm2" || files.count(name))
            << "the run left a new file " << name;
    }
    // A file the run did not write (or that is not recorded) reads as ABSENT.
    const std::string ABSENT = "(no file)\n";
    const std::string cm2Path = dir.file("Lumeko.cm2");
    const std::map<std::string, std::string> got{
        {"stdout", result.out},
        {"stderr", result.err},
        {"status", std::to_string(result.status) + "\n"},
        {"cm2", fs::is_regular_file(cm2Path) ? readFile(cm2Path) : ABSENT}};
    const std::string expectedDir = GOLDEN_DIR + "/" + run.name;
    TempDir scratch;
    for (const auto& [part, bytes] : got) {
        const std::string path = expectedDir + "/" + part;
        if (updating()) {
            fs::create_directories(expectedDir);
            if (bytes == ABSENT)
                fs::remove(path);
            else
                writeFile(path, bytes);
        } else if ((fileExists(path) ? readFile(path) : ABSENT) != bytes) {
            ADD_FAILURE() << part << " differs from " << path << ":\n"
                          << difference(path, bytes, scratch);
        }
    }
}

// A folder left from a renamed or removed run would be kept up to date by nobody.
TEST(GoldenFolders, EachBelongsToARun) {
    const std::vector<GoldenRun> runs = allRuns();
    for (const fs::directory_entry& entry : fs::directory_iterator(GOLDEN_DIR)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(!entry.is_directory() ||
                    std::any_of(runs.begin(), runs.end(),
                                [&](const GoldenRun& run) { return run.name == name; }))
            << GOLDEN_DIR << "/" << name << " belongs to no run";
    }
}

// Runs whose recorded outputs must agree: empty chunks track as the pictures written
// out again, and one decoding thread or several give the same bytes.
TEST(GoldenFolders, RunsThatMustAgreeDo) {
    std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> groups = {
        {{"cm2"}, {"movie_empty_chunks_mjpeg", "movie_written_out_mjpeg"}},
        {{"cm2"}, {"movie_empty_chunks_cinepak", "movie_written_out_cinepak"}}};
    for (const auto& t : THREADED)
        groups.push_back(
            {{"cm2", "stdout", "stderr", "status"},
             {t.run, "threads_1_" + std::string(t.name), "threads_3_" + std::string(t.name)}});
    const auto part = [](const std::string& run, const std::string& name) {
        const std::string path = GOLDEN_DIR + "/" + run + "/" + name;
        return fileExists(path) ? readFile(path) : "(no file)";
    };
    for (const auto& [parts, runs] : groups)
        for (const std::string& name : parts)
            for (const std::string& run : runs)
                EXPECT_EQ(part(run, name), part(runs[0], name))
                    << run << "/" << name << " differs from " << runs[0];
}

INSTANTIATE_TEST_SUITE_P(Runs, Golden, testing::ValuesIn(allRuns()),
                         [](const testing::TestParamInfo<GoldenRun>& info) {
                             return info.param.name;
                         });

}  // namespace
