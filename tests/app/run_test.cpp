#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utmp.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>

#include "app/camera_motion_reader.h"
#include "camera/camera_param.h"
#include "tests/app/found_rows.h"
#include "tests/support/media_fixtures.h"
#include "tests/support/test_support.h"

namespace {

using namespace lumeko_test;

// Runs the program (wrong argument count) on a pseudo-terminal of its own,
// typing `keys` once it has switched to single keys. Wait status, or -1.
int runOnTerminal(const char* keys, std::string& output, bool& restored) {
    int master, slave, status = -1;
    termios before{}, now{};
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0 || tcgetattr(slave, &before))
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        login_tty(slave);
        execl(LUMEKO_BINARY, LUMEKO_BINARY, "a", "80", "0", "M", nullptr);
        _exit(127);
    }
    fcntl(master, F_SETFL, O_NONBLOCK);
    for (int i = 0; i < 500 && tcgetattr(slave, &now) == 0 && (now.c_lflag & ICANON); i++)
        usleep(10000);
    const bool typed = (now.c_lflag & ICANON) == 0 && write(master, keys, std::strlen(keys)) > 0;
    for (int i = 0; typed && i < 500 && status == -1; i++) {
        usleep(10000);
        if (waitpid(pid, &status, WNOHANG) != pid)
            status = -1;
        char buffer[512];
        for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;)
            output.append(buffer, n);
    }
    if (status == -1) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    tcgetattr(slave, &now);
    restored = now.c_lflag == before.c_lflag && now.c_cc[VMIN] == before.c_cc[VMIN] &&
               now.c_cc[VTIME] == before.c_cc[VTIME];
    close(slave);
    close(master);
    return status;
}

TEST(PauseOnTerminal, ReadsUnechoedKeysUntilSpaceAndRestoresTheTerminalEvenOnCtrlC) {
    int master, slave;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        GTEST_SKIP() << "no pseudo-terminal can be opened here (" << std::strerror(errno)
                     << "; is /dev/pts mounted?), so the pause on a terminal cannot be tried";
    close(slave);
    close(master);
    std::string output;
    bool restored = false;
    int status = runOnTerminal("qz ", output, restored);
    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(output.find("--- HIT SPACE KEY ---"), std::string::npos);
    EXPECT_EQ(output.find("qz"), std::string::npos) << "keys must not be echoed";
    EXPECT_TRUE(restored);

    status = runOnTerminal("\x03", output, restored);
    ASSERT_TRUE(WIFSIGNALED(status)) << output;
    EXPECT_EQ(WTERMSIG(status), SIGINT);
    EXPECT_TRUE(restored);
}

// A wrong command line with standard input an open pipe that never sends
// anything: the prompt is printed and the program ends at once. Wait status,
// or -1 when it was still running after ten seconds.
int runWithSilentPipe(std::string& output) {
    int input[2], out[2];
    if (pipe(input) != 0 || pipe(out) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(input[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(open("/dev/null", O_WRONLY), STDERR_FILENO);
        close(input[1]);
        execl(LUMEKO_BINARY, LUMEKO_BINARY, "a", "80", "0", "M", nullptr);
        _exit(127);
    }
    close(input[0]);
    close(out[1]);
    int status = -1;
    for (int i = 0; i < 1000 && status == -1; i++) {
        if (waitpid(pid, &status, WNOHANG) != pid) {
            status = -1;
            usleep(10000);
        }
    }
    if (status == -1) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    char buffer[512];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
        output.append(buffer, n);
    close(out[0]);
    close(input[1]);
    return status;
}

TEST(PauseWithoutTerminal, ASilentOpenPipeDoesNotHoldTheProgram) {
    std::string output;
    const int status = runWithSilentPipe(output);
    ASSERT_NE(status, -1) << "still waiting after ten seconds";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(output, "--- HIT SPACE KEY ---\n");
}

using Frame = std::vector<unsigned char>;

constexpr int WIDTH = SCENE_WIDTH, HEIGHT = SCENE_HEIGHT;

std::vector<Frame> scenes(const std::vector<bool>& markers, int width = WIDTH) {
    return markerScenes(markers, width);
}

// The keys of one channel of a camera-motion file, in frame order.
std::vector<double> keys(const std::string& file, double KeyRow::*channel) {
    CameraMotion motion;
    std::string error;
    EXPECT_EQ(parseCameraMotion(file, motion, error), 0) << error;
    std::vector<double> values;
    for (const KeyRow& row : motion.rows)
        values.push_back(row.*channel);
    return values;
}

// The real program in a fresh directory with its own camera and pattern files.
class LumekoRun : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directory(dir.file("Data"));
        CameraParam camera{
            WIDTH, HEIGHT, {{160, 0, 80, 0}, {0, 160, 60, 0}, {0, 0, 1, 0}}, {80, 60, 0, 1}};
        unsigned char record[CAMERA_PARAM_RECORD_SIZE];
        arEncodeCameraParam(camera, record);
        writeFile(dir.file("Data/camera_para.dat"), std::string(record, record + sizeof record));
        writeFile(dir.file("marker.pat"), markerScenePattern());
    }
    ProcessResult run(std::vector<std::string> args, const char* input = nullptr) {
        args.insert(args.begin(), LUMEKO_BINARY);
        return runProcess(dir.path(), args, input);
    }
    ProcessResult track(const char* kind, const std::string& input, const char* width = "80",
                        const char* camNo = "0") {
        return run({"marker.pat", width, camNo, kind, input});
    }
    void writeStill(const std::string& name, JpegColour colour) {
        writeMarkerStill(dir.file(name), colour);
    }
    void cut(const std::string& from, const std::string& to, size_t length) {
        writeFile(dir.file(to), readFile(dir.file(from)).substr(0, length));
    }
    std::string output() { return readFile(dir.file("Lumeko.cm2")); }
    TempDir dir;
};

const char* const USAGE =
    "Lumeko ver.1.0.0\n\n"
    "Usage: Lumeko <pattern_file> <pattern_width> <cam_no> <kind> <background_file>\n"
    " cam_no 0:STD_CAMERA, 1:dolly#1, 2:dolly#2 ...\n"
    " kind 'M':movie, 'I':image\n";
const char* const PROMPT = "--- HIT SPACE KEY ---\n";

void expectUsage(const ProcessResult& result, const char* out, const std::string& why) {
    EXPECT_EQ(result.status, 1) << why;
    EXPECT_EQ(result.err, USAGE) << why;
    EXPECT_EQ(result.out, out) << why;
}

// Usage text and status 1; the pause (except without arguments) prints its
// prompt and, with no terminal to answer it, goes on at once.
TEST_F(LumekoRun, RejectedCommandLines) {
    expectUsage(run({}), "", "no arguments");
    expectUsage(run({"a", "80", "0", "M"}, "xy "), PROMPT, "four arguments");
    expectUsage(run({"a", "80", "0", "M", "b", "c"}, "xy "), PROMPT, "six arguments");
    expectUsage(run({"a"}), PROMPT, "one argument, input at /dev/null");
    for (const char* width :
         {"abc", "", "nan", "NAN", "inf", "-inf", "infinity", "0", "0.0", "-0", "-80", "1e999"})
        expectUsage(track("I", "in", width), PROMPT, width);
    for (const char* camNo : {"x", "", " ", "-"})
        expectUsage(track("I", "in", "80", camNo), PROMPT, camNo);
    for (const char* kind : {"m", "i", "MOVIE", "Image", "M ", " I", "", "X"})
        expectUsage(track(kind, "in"), PROMPT, kind);
}

// --help and --version answer on standard output and never pause; a bad option
// is refused as a wrong command line, named on the line before the usage text.
TEST_F(LumekoRun, OptionsBeforeThePositionals) {
    for (const char* option : {"--help", "--version"}) {
        SCOPED_TRACE(option);
        const ProcessResult result = run({option}, "xy ");
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.out.find(PROMPT), std::string::npos);
        EXPECT_TRUE(result.out.starts_with(option == std::string("--help")
                                               ? "Lumeko ver.1.0.0\n\nUsage: Lumeko [options] "
                                               : "Lumeko 1.0.0\n"))
            << result.out;
    }
    EXPECT_EQ(run({"--help", "marker.pat", "80", "0", "I", "absent.jpg"}).status, 0);

    ProcessResult result = run({"--bogus", "marker.pat", "80", "0", "I", "in.jpg"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, std::string("unknown option --bogus\n") + USAGE);
    EXPECT_EQ(result.out, PROMPT);
    expectUsage(run({"marker.pat", "80", "0", "I", "in.jpg", "--refine"}), PROMPT,
                "an option after the positionals");
    expectUsage(run({"--refine"}), PROMPT, "options alone");

    writeStill("in.jpg", JpegColour::Rgb);
    const ProcessResult plain = track("I", "in.jpg");
    const std::string plainRows = output();
    result =
        run({"--auto-threshold", "--large-markers", "--", "marker.pat", "80", "0", "I", "in.jpg"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, plain.out);
    EXPECT_EQ(output(), plainRows);
}

// Stills (one repaired by the decoder) and every codec users meet, padded
// uncompressed rows among them, show the camera turned as the colour still.
TEST_F(LumekoRun, StillsAndEveryCodecShowTheCameraAlike) {
    writeStill("colour.jpg", JpegColour::Rgb);
    writeStill("grey.jpg", JpegColour::Grey);
    cut("colour.jpg", "cut.jpg", readFile(dir.file("colour.jpg")).size() - 8);
    std::string still;
    for (const char* name : {"grey.jpg", "cut.jpg", "colour.jpg"}) {
        SCOPED_TRACE(name);
        const ProcessResult result = track("I", name);
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_NE(result.out.find("SIZE = 161, 120\n"), std::string::npos);
        EXPECT_EQ(foundRows(still = output()), std::vector<bool>{true});
        EXPECT_EQ(
            result.err,
            std::string(name == std::string("cut.jpg") ? "Premature end of JPEG file\n" : "") +
                "Lumeko.cm2: 1 frame, marker found in 1\n");
    }
    using enum MovieCodec;
    const std::pair<const char*, MovieCodec> movies[] = {
        {"raw.avi", RawBgr24},    {"mpeg4.avi", Mpeg4}, {"div3.avi", MsMpeg4v3},
        {"cinepak.avi", Cinepak}, {"h264.avi", H264},   {"h264.mp4", H264},
        {"h264.mkv", H264},       {"mjpeg.mov", Mjpeg}};
    for (auto [name, codec] : movies) {
        SCOPED_TRACE(name);
        const int width = codec == RawBgr24 ? WIDTH : 160;  // the others want even sizes
        writeMovie(dir.file(name), {width, HEIGHT, 30000, 1001, codec},
                   scenes({false, true, true}, width));
        const ProcessResult result = track("M", name);
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_TRUE(result.out.starts_with("frame rate: 29\n--------")) << result.out;
        EXPECT_EQ(result.err, "Lumeko.cm2: 3 frames, marker found in 2\n");
        ASSERT_EQ(foundRows(output()), (std::vector<bool>{false, true, true}));
        for (auto channel : {&KeyRow::rotateZ, &KeyRow::rotateX, &KeyRow::rotateY}) {
            EXPECT_NEAR(keys(output(), channel)[1], keys(still, channel)[0], 2.0);
            EXPECT_NEAR(keys(output(), channel)[2], keys(still, channel)[0], 2.0);
        }
    }
}

// Frame i is row i by its position: with frame 1 damaged, a source counting
// decoded frames would find the marker a row early. Empty and cut movies too.
// The summary names the options when the marker was found in under half.
TEST_F(LumekoRun, MovieFramesBecomeRowsInOrder) {
    writeMovie(dir.file("damaged.avi"), {WIDTH, HEIGHT, 25, 1, MovieCodec::Mjpeg},
               scenes({false, true, false, true, true}));
    damageAviFrame(dir.file("damaged.avi"), 1);
    ProcessResult result = track("M", "damaged.avi");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.out.starts_with("frame rate: 25\n--------")) << result.out;
    EXPECT_EQ(foundRows(output()), (std::vector<bool>{false, false, false, true, true}));
    EXPECT_EQ(result.err,
              "1 frame(s) of <damaged.avi> could not be decoded and count as not found\n"
              "Lumeko.cm2: 5 frames, marker found in 2\n"
              "hint: for dim footage or a flat picture profile try --auto-threshold; for a "
              "marker wider than about 360 pixels, --large-markers (see Lumeko --help)\n");

    writeMovie(dir.file("empty.avi"), {WIDTH, HEIGHT, 25, 1, MovieCodec::RawBgr24}, {});
    result = track("M", "empty.avi");
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "Lumeko.cm2: 0 frames, marker found in 0\n");
    EXPECT_NE(output().find("clearFigureKeys 0\n"), std::string::npos);
    EXPECT_TRUE(foundRows(output()).empty());

    writeMovie(dir.file("whole.avi"), {WIDTH, HEIGHT, 25, 1, MovieCodec::Mjpeg},
               scenes(std::vector(6, true)));
    const std::string bytes = readFile(dir.file("whole.avi"));
    cut("whole.avi", "cut.avi", (bytes.find("movi") + bytes.find("idx1")) / 2);
    result = track("M", "cut.avi");
    ASSERT_EQ(result.status, 0) << result.err;
    ASSERT_EQ(foundRows(output()).size(), 6u);
    EXPECT_TRUE(foundRows(output())[0]);
    EXPECT_NE(result.err.find("could not be decoded"), std::string::npos) << result.err;
}

// A frame with more dark regions than detection's storage holds (specks every
// seventh pixel of a full-HD frame: 42,000 regions) is a row without the
// marker; the run goes on, finds the marker again and counts the busy frame.
// A full-HD frame with about 42,000 dark specks (more regions than the fixed
// label tables of old could take, which ended the whole run) is tracked like
// any other.
TEST_F(LumekoRun, ABusyFrameIsTracked) {
    constexpr int W = 1920, H = 1080;
    CameraParam camera{
        W, H, {{1600, 0, 960, 0}, {0, 1600, 540, 0}, {0, 0, 1, 0}}, {960, 540, 0, 1}};
    unsigned char record[CAMERA_PARAM_RECORD_SIZE];
    arEncodeCameraParam(camera, record);
    writeFile(dir.file("Data/camera_para.dat"), std::string(record, record + sizeof record));
    const Frame scene = scenes({true})[0];
    Frame marker(W * H * 3, 255), specks(W * H * 3, 255);
    for (int y = 1; y < H - 1; y += 7)
        for (int x = 1; x < W - 1; x += 7)
            std::fill_n(&specks[(y * W + x) * 3], 3, 0);
    for (int y = 0; y < HEIGHT; y++) {
        std::copy_n(&scene[y * WIDTH * 3], WIDTH * 3, &marker[y * W * 3]);
        std::copy_n(&scene[y * WIDTH * 3], WIDTH * 3, &specks[y * W * 3]);
    }
    writeMovie(dir.file("busy.avi"), {W, H, 25, 1, MovieCodec::RawBgr24}, {marker, specks, marker});
    const ProcessResult result = track("M", "busy.avi");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(foundRows(output()), (std::vector<bool>{true, true, true}));
    EXPECT_EQ(result.err, "Lumeko.cm2: 3 frames, marker found in 3\n");
}

// With --auto-threshold a dim marker is found by a second pass, and the
// history counts one pass per frame: the lost marker is held for the same two
// frames as at normal exposure, though every noisy frame after it is retried.
TEST_F(LumekoRun, AutoThresholdRetriesWithoutAgeingTheHistoryTwice) {
    std::vector<Frame> normal = scenes({true, false, false, false, false});
    std::vector<Frame> dim = normal;
    std::mt19937 random(7);
    for (size_t i = 0; i < dim.size(); i++)
        for (unsigned char& byte : dim[i])
            byte = static_cast<unsigned char>(byte * 0.3 + (i > 0 ? random() % 24 : 0));
    writeMovie(dir.file("normal.avi"), {WIDTH, HEIGHT, 25, 1, MovieCodec::RawBgr24}, normal);
    writeMovie(dir.file("dim.avi"), {WIDTH, HEIGHT, 25, 1, MovieCodec::RawBgr24}, dim);
    const std::vector<bool> held{true, true, true, false, false};
    ASSERT_EQ(track("M", "normal.avi").status, 0);
    EXPECT_EQ(foundRows(output()), held);
    ASSERT_EQ(track("M", "dim.avi").status, 0);
    EXPECT_EQ(foundRows(output()), std::vector<bool>(5, false));
    const ProcessResult result = run({"--auto-threshold", "marker.pat", "80", "0", "M", "dim.avi"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(foundRows(output()), held);
}

TEST_F(LumekoRun, FailingInputsEndWithStatusOneAndLeaveNoNewFile) {
    writeFile(dir.file("notes.avi"), "a text file, not a movie\n");
    writeStill("whole.jpg", JpegColour::Rgb);
    cut("whole.jpg", "cut.jpg", 150);
    writeStill("print.jpg", JpegColour::Cmyk);
    // Trailing characters after the numbers are accepted: the source's own message.
    const std::tuple<const char*, const char*, const char*, const char*, const char*, bool>
        cases[] = {{"M", "absent.avi", "80abc", "0", "can not AVIFileOpen <absent.avi>\n", true},
                   {"M", "notes.avi", "80", "3x", "can not AVIFile", true},
                   {"I", "absent.jpg", " 1.5e1", "-5", "can not open absent.jpg\n", true},
                   {"I", "print.jpg", "80", "0", "can not track print.jpg", true},
                   {"I", "cut.jpg", "80", "0", "Premature end of JPEG file\n", false}};
    for (auto [kind, input, width, camNo, errorStart, pauses] : cases) {
        SCOPED_TRACE(input);
        const ProcessResult result = track(kind, input, width, camNo);
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(result.err.starts_with(errorStart)) << result.err;
        EXPECT_EQ(result.out.find("--- HIT SPACE KEY ---") != std::string::npos, pauses);
        EXPECT_EQ(result.out.find("SIZE ="), std::string::npos) << "set up before the failure";
        EXPECT_FALSE(fileExists(dir.file("Lumeko.cm2")));
    }
    // A movie longer than the key table is refused and keeps the old file.
    writeFile(dir.file("Lumeko.cm2"), "earlier track\n");
    writeMovie(dir.file("long.avi"), {16, 16, 25, 1, MovieCodec::RawBgr24},
               std::vector(1501, Frame(16 * 16 * 3, 255)));
    const ProcessResult result = track("M", "long.avi");
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.err.starts_with("rec_tbl_idx over\n")) << result.err;
    EXPECT_EQ(output(), "earlier track\n");
    // The tracker's set-up: the pattern is loaded after the camera is printed.
    const ProcessResult noPattern = run({"absent.pat", "80", "0", "I", "whole.jpg"});
    EXPECT_EQ(noPattern.status, 1);
    EXPECT_EQ(noPattern.err,
              "can not load pattern <absent.pat>\nabsent.pat: No such file or directory\n");
    EXPECT_NE(noPattern.out.find("SIZE = 161, 120\n"), std::string::npos);
    EXPECT_NE(noPattern.out.find("\"absent.pat\" not found!!\n"), std::string::npos);
    std::filesystem::remove(dir.file("Data/camera_para.dat"));
    const ProcessResult noCamera = track("I", "whole.jpg");
    EXPECT_EQ(noCamera.status, 1);
    EXPECT_EQ(noCamera.err,
              "can not load camera parameter <./Data/camera_para.dat>\n"
              "./Data/camera_para.dat: No such file or directory\n");
    EXPECT_EQ(output(), "earlier track\n");
}

// After each failure about a file, a line naming it and saying why.
TEST_F(LumekoRun, FailuresAboutFilesSayWhy) {
    writeFile(dir.file("empty.avi"), "");
    writeFile(dir.file("notes.avi"), "a text file, not a movie\n");
    writeFile(dir.file("notes.jpg"), "a text file, not a picture\n");
    std::filesystem::create_directory(dir.file("folder.avi"));
    std::filesystem::create_directory(dir.file("folder.jpg"));
    std::filesystem::create_directory(dir.file("folder.pat"));
    writeStill("in.jpg", JpegColour::Rgb);
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"marker.pat", "80", "0", "M", "folder.avi"},
         "can not AVIFileOpen <folder.avi>\nfolder.avi: Is a folder, not a file\n"},
        {{"marker.pat", "80", "0", "M", "empty.avi"},
         "can not AVIFileOpen <empty.avi>\nempty.avi: Is empty\n"},
        {{"marker.pat", "80", "0", "M", "notes.avi"},
         "can not AVIFileOpen <notes.avi>\nnotes.avi: Not a movie that can be read\n"},
        {{"marker.pat", "80", "0", "I", "absent.jpg"},
         "can not open absent.jpg\nabsent.jpg: No such file or directory\n"},
        {{"marker.pat", "80", "0", "I", "folder.jpg"}, "folder.jpg: Is a folder, not a file\n"},
        {{"marker.pat", "80", "0", "I", "notes.jpg"},
         "notes.jpg: Not a JPEG picture that can be decoded: not a JPEG file, or damaged\n"},
        {{"folder.pat", "80", "0", "I", "in.jpg"},
         "can not load pattern <folder.pat>\nfolder.pat: Is a folder, not a file\n"},
        {{"notes.avi", "80", "0", "I", "in.jpg"},
         "can not load pattern <notes.avi>\nnotes.avi: Not a pattern file (3072 numbers from 0 "
         "to 255: four directions of three 16 x 16 colour planes)\n"},
    };
    for (const auto& [args, errorEnd] : cases) {
        SCOPED_TRACE(args.back());
        const ProcessResult result = run(args);
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(result.err.ends_with(errorEnd)) << result.err;
    }
    const std::string camera = readFile(dir.file("Data/camera_para.dat"));
    writeFile(dir.file("Data/camera_para.dat"), camera.substr(0, 135));
    ProcessResult result = track("I", "in.jpg");
    EXPECT_EQ(result.err,
              "can not load camera parameter <./Data/camera_para.dat>\n"
              "./Data/camera_para.dat: the file ends 135 bytes into the 136-byte record\n");
    writeFile(dir.file("Data/camera_para.dat"), camera);

    // Refused before the camera is even loaded: the output could not be put in place.
    std::filesystem::create_directory(dir.file("Lumeko.cm2"));
    result = track("I", "in.jpg");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "can not open Lumeko.cm2\nLumeko.cm2: Is a folder, not a file\n");
    EXPECT_EQ(result.out, PROMPT);
}

// Frames of another shape than the camera file's: a warning, and the run goes on.
TEST_F(LumekoRun, WarnsOfAnotherAspectRatio) {
    writeMovie(dir.file("wide.avi"), {214, HEIGHT, 25, 1, MovieCodec::RawBgr24},
               scenes({true}, 214));
    ProcessResult result = track("M", "wide.avi");
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.err.starts_with(
        "warning: the frames are 214 x 120 but ./Data/camera_para.dat is for 161 x 120, another "
        "aspect ratio; it is resized by the width alone and the track will be wrong. Make a "
        "camera file for the frames, e.g. lumeko-camera write Data/camera_para.dat --size "
        "214x120 --hfov <degrees>\n"))
        << result.err;
    // Within 1 %: 162 x 120 against 161 x 120 says nothing.
    writeMovie(dir.file("near.avi"), {162, HEIGHT, 25, 1, MovieCodec::RawBgr24},
               scenes({true}, 162));
    result = track("M", "near.avi");
    EXPECT_EQ(result.err, "Lumeko.cm2: 1 frame, marker found in 1\n");
}

// A folder Lumeko may not write in is refused before the first frame, with the
// reason. Root may write anywhere, so as root the program runs as nobody.
TEST_F(LumekoRun, AReadOnlyFolderIsRefusedBeforeTracking) {
    const bool root = geteuid() == 0;
    if (root && access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "running as root without setpriv to drop the privileges";
    writeStill("in.jpg", JpegColour::Rgb);
    std::filesystem::permissions(
        dir.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec |
                        std::filesystem::perms::others_read | std::filesystem::perms::others_exec);
    std::vector<std::string> args{LUMEKO_BINARY, "marker.pat", "80", "0", "I", "in.jpg"};
    if (root)
        args.insert(args.begin(),
                    {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    const ProcessResult result = runProcess(dir.path(), args);
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "can not open Lumeko.cm2\nLumeko.cm2: The working folder can not be "
              "written: Permission denied\n");
    EXPECT_EQ(result.out, PROMPT);
}

}  // namespace
