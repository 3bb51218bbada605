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
#include <functional>
#include <random>

#include "camera/camera_param.h"
#include "tests/support/found_rows.h"
#include "tests/support/media_fixtures.h"
#include "tests/support/test_support.h"

namespace {

using namespace lumeko_test;

// Waits up to `ticks` x 10 ms for `pid` to end, calling `tick` after each
// wait, and kills it when it is still running then. Wait status, or -1.
int waitOrKill(pid_t pid, int ticks, const std::function<void()>& tick) {
    int status = -1;
    for (int i = 0; i < ticks && status == -1; i++) {
        usleep(10000);
        if (waitpid(pid, &status, WNOHANG) != pid)
            status = -1;
        tick();
    }
    if (status == -1) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    return status;
}

// Runs the program (wrong argument count) on a pseudo-terminal of its own,
// typing `keys` once it has switched to single keys. Wait status, or -1.
int runOnTerminal(const char* keys, std::string& output, bool& restored) {
    int master, slave;
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
    const int status = waitOrKill(pid, typed ? 500 : 0, [&] {
        char buffer[512];
        for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;)
            output.append(buffer, n);
    });
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
    const int status = waitOrKill(pid, 1000, [] {});
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

// The real program in a fresh directory with its own camera and pattern files.
const CameraParam SCENE_CAMERA = sceneCamera();

class LumekoRun : public ::testing::Test {
  protected:
    void SetUp() override { writeSceneFiles(dir.path()); }
    ProcessResult run(std::vector<std::string> args) {
        args.insert(args.begin(), LUMEKO_BINARY);
        return runProcess(dir.path(), args);
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

// What newcomers get wrong, through the programs: the message says what is
// wrong (with the usage text and the pause for Lumeko's command line), the
// status is 1 and an earlier Lumeko.cm2 stays; what now works (a PNG still,
// a range clipped to the movie, --version on every tool) ends with status 0.
TEST_F(LumekoRun, NewcomerMistakesSayWhatIsWrongAndKeepTheEarlierTrack) {
    writeStill("in.jpg", JpegColour::Rgb);
    writeMarkerPng(dir.file("in.png"));
    writeMovie(dir.file("six.avi"), {WIDTH, HEIGHT, 25, 1, MovieCodec::RawBgr24},
               markerScenes(std::vector(6, true)));
    const std::string usage = USAGE;
    ASSERT_EQ(track("I", "in.jpg").status, 0);
    std::filesystem::rename(dir.file("Lumeko.cm2"), dir.file("track.cm2"));
    struct Case {
        std::string program;  // a tool's name, or "" for Lumeko
        std::vector<std::string> args;
        int status;
        std::string says;  // on the error stream (standard output for --version)
        int rows = -1;     // rows of the new Lumeko.cm2; -1: the earlier one stays
    };
    const std::string width =
        "pattern_width must be the marker's printed width, a finite number "
        "above 0; got ";
    const Case cases[] = {
        {"",
         {"marker.pat", "80", "0", "M", "six.avi", "--refine"},
         1,
         "--refine: options go before the five arguments\n" + usage},
        {"", {"six.avi", "marker.pat", "80", "0", "M"}, 1, width + "\"marker.pat\"\n" + usage},
        {"", {"marker.pat", "0", "80", "M", "six.avi"}, 1, width + "\"0\"\n" + usage},
        {"", {"marker.pat", "-0", "0", "I", "in.jpg"}, 1, width + "\"-0\"\n" + usage},
        {"",
         {"marker.pat", "80", "-", "I", "in.jpg"},
         1,
         "cam_no must be a whole number (0 for STD_CAMERA); got \"-\"\n" + usage},
        {"",
         {"marker.pat", "80", "0", " I", "in.jpg"},
         1,
         "kind must be M (movie) or I (image); got \" I\"\n" + usage},
        {"", {"marker.pat", "80", "0", "M"}, 1, usage},
        {"",
         {"marker.pat", "80", "0", "I", "in.png"},
         0,
         "Lumeko.cm2: 1 frame, marker found in 1\n",
         1},
        // The range's edges: starting after the last frame, ending on it and past it.
        {"",
         {"--range", "6:9", "marker.pat", "80", "0", "M", "six.avi"},
         1,
         "--range 6:9 starts after the end of <six.avi>: it has 6 frames, 0 to 5\n"},
        {"",
         {"--range", "5:5", "marker.pat", "80", "0", "M", "six.avi"},
         0,
         "Lumeko.cm2: 1 frame, marker found in 1\n",
         1},
        {"",
         {"--range", "4:400", "marker.pat", "80", "0", "M", "six.avi"},
         0,
         "warning: --range 4:400 goes past the end of <six.avi>: tracked frames 4 to 5\n"
         "Lumeko.cm2: 2 frames, marker found in 2\n",
         2},
        {"lumeko-export",
         {"track.cm2", "out.glb", "--camera", "absent.dat"},
         1,
         "lumeko-export: cannot load the camera parameter file absent.dat: No such file or "
         "directory\n"},
        // The last: it takes the Data folder away.
        {"lumeko-overlay",
         {"in.jpg", "track.cm2", "out.png", "--width", "80"},
         1,
         "Data/camera_para.dat: No such file or directory\n  it is read from the Data folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program + " " + c.args.back());
        writeFile(dir.file("Lumeko.cm2"), "an earlier track\n");
        if (c.program == "lumeko-overlay")
            std::filesystem::remove_all(dir.file("Data"));
        std::vector<std::string> argv = c.args;
        argv.insert(argv.begin(),
                    c.program.empty() ? LUMEKO_BINARY : LUMEKO_TOOLS_DIR "/" + c.program);
        const ProcessResult result = runProcess(dir.path(), argv);
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
        if (c.rows < 0)
            EXPECT_EQ(output(), "an earlier track\n");
        else
            EXPECT_EQ(foundRows(output()).size(), static_cast<size_t>(c.rows));
    }
    for (const char* tool : {"lumeko-camera", "lumeko-pattern", "lumeko-render", "lumeko-detect",
                             "lumeko-overlay", "lumeko-plot", "lumeko-export"}) {
        const ProcessResult result =
            runProcess(dir.path(), {LUMEKO_TOOLS_DIR "/" + std::string(tool), "--version"});
        EXPECT_EQ(result.status, 0) << tool;
        EXPECT_EQ(result.out, std::string(tool) + " 1.0.0\n");
    }
}

// --help and --version answer on standard output and never pause; a bad option
// is refused as a wrong command line, named on the line before the usage text.
TEST_F(LumekoRun, OptionsBeforeThePositionals) {
    for (const char* option : {"--help", "--version"}) {
        SCOPED_TRACE(option);
        const ProcessResult result = run({option});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.out.find(PROMPT), std::string::npos);
        EXPECT_TRUE(result.out.starts_with(option == std::string("--help")
                                               ? "Lumeko ver.1.0.0\n\nUsage: Lumeko [options] "
                                               : "Lumeko 1.0.0\n"))
            << result.out;
    }
    const ProcessResult help = run({"--help", "marker.pat", "80", "0", "I", "absent.jpg"});
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"\n  --auto-threshold\n", "\n  --large-markers\n", "\n  --refine\n",
                               "\n  --help\n", "\n  --version\n"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;

    ProcessResult result = run({"--bogus", "marker.pat", "80", "0", "I", "in.jpg"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, std::string("unknown option --bogus\n") + USAGE);
    EXPECT_EQ(result.out, PROMPT);
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

// A movie cut off in the middle: the frames after the cut do not decode and
// still count as rows.
TEST_F(LumekoRun, ACutMovieKeepsItsRows) {
    writeMovie(dir.file("whole.avi"), {WIDTH, HEIGHT, 25, 1, MovieCodec::Mjpeg},
               markerScenes(std::vector(6, true)));
    const std::string bytes = readFile(dir.file("whole.avi"));
    cut("whole.avi", "cut.avi", (bytes.find("movi") + bytes.find("idx1")) / 2);
    const ProcessResult result = track("M", "cut.avi");
    ASSERT_EQ(result.status, 0) << result.err;
    ASSERT_EQ(foundRows(output()).size(), 6u);
    EXPECT_TRUE(foundRows(output())[0]);
    EXPECT_NE(result.err.find("could not be decoded"), std::string::npos) << result.err;
}

// With --auto-threshold a dim marker is found by a second pass, and the
// history counts one pass per frame: the lost marker is held for the same two
// frames as at normal exposure, though every noisy frame after it is retried.
TEST_F(LumekoRun, AutoThresholdRetriesWithoutAgeingTheHistoryTwice) {
    std::vector<Frame> normal = markerScenes({true, false, false, false, false});
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

// After each failure about a file, a line naming it and saying why (the
// golden runs hold missing, empty and unreadable files).
TEST_F(LumekoRun, FailuresAboutFoldersSayWhy) {
    for (const char* folder : {"folder.avi", "folder.jpg", "folder.pat"})
        std::filesystem::create_directory(dir.file(folder));
    writeStill("in.jpg", JpegColour::Rgb);
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"marker.pat", "80", "0", "M", "folder.avi"},
         "can not AVIFileOpen <folder.avi>\nfolder.avi: Is a folder, not a file\n"},
        {{"marker.pat", "80", "0", "I", "folder.jpg"}, "folder.jpg: Is a folder, not a file\n"},
        {{"folder.pat", "80", "0", "I", "in.jpg"},
         "can not load pattern <folder.pat>\nfolder.pat: Is a folder, not a file\n"},
        // Refused before the camera is even loaded: the output could not be put in place.
        {{"marker.pat", "80", "0", "I", "in.jpg"},
         "can not open Lumeko.cm2\nLumeko.cm2: Is a folder, not a file\n"},
    };
    for (const auto& [args, errorEnd] : cases) {
        SCOPED_TRACE(args.back());
        if (errorEnd == cases[3].second)  // the folder in the way of the output
            std::filesystem::create_directory(dir.file("Lumeko.cm2"));
        const ProcessResult result = run(args);
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(result.err.ends_with(errorEnd)) << result.err;
        EXPECT_EQ(result.out.find("SIZE =") != std::string::npos, args[0] == "folder.pat")
            << result.out;
    }
}

// A camera file that cannot describe a camera is refused before anything is
// tracked: the message, a line with the reason, the pause, status 1 and no
// Lumeko.cm2. The checks' other reasons are the camera tests', a short record
// a golden run; resizing to the frames is the run's own.
TEST_F(LumekoRun, ImplausibleCameraRecordsAreRefusedWithTheirReason) {
    writeStill("still.jpg", JpegColour::Rgb);
    CameraParam zeroScale = SCENE_CAMERA, half = SCENE_CAMERA;
    zeroScale.distFactor[3] = 0;
    half.xsize = 80;  // half the frame's width: resizing doubles a focal length of 1e308
    half.mat[0][0] = 1e308;
    half.mat[0][2] = half.distFactor[0] = 40;
    const std::pair<CameraParam, std::string> cases[] = {
        {zeroScale, "the distortion scale 0 is not positive"},
        {half, "resized to the 161 x 120 frame, its values or its lens map are no longer finite"},
    };
    for (const auto& [camera, reason] : cases) {
        SCOPED_TRACE(reason);
        writeFile(dir.file("Data/camera_para.dat"), cameraFileBytes(camera));
        const ProcessResult result = track("I", "still.jpg");
        EXPECT_EQ(result.status, 1);
        // A camera file of another shape is first warned about; the refusal follows.
        const std::string err = result.err.substr(result.err.find("can not load"));
        EXPECT_EQ(err,
                  "can not load camera parameter <./Data/camera_para.dat>\n"
                  "./Data/camera_para.dat: " +
                      reason + "\n");
        EXPECT_EQ(result.out, PROMPT);
        EXPECT_FALSE(fileExists(dir.file("Lumeko.cm2")));
    }
}

// Frames of another shape than the camera file's: a warning, and the run goes on.
TEST_F(LumekoRun, WarnsOfAnotherAspectRatio) {
    writeMovie(dir.file("wide.avi"), {214, HEIGHT, 25, 1, MovieCodec::RawBgr24},
               markerScenes({true}, 214));
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
               markerScenes({true}, 162));
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
