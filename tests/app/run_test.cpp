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
#include <map>

#include "camera/camera_param.h"
#include "tests/support/found_rows.h"
#include "tests/support/media_fixtures.h"
#include "tests/support/test_support.h"
#include "tools/common/image_io.h"

namespace {

using namespace lumeko_test;
namespace fs = std::filesystem;

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
int runOnTerminal(int master, int slave, const char* keys, std::string& output, bool& restored) {
    termios before{}, now{};
    tcgetattr(slave, &before);
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
    return status;
}

TEST(PauseOnTerminal, ReadsUnechoedKeysUntilSpaceAndRestoresTheTerminalEvenOnCtrlC) {
    for (const char* keys : {"qz ", "\x03"}) {
        int master, slave;
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            GTEST_SKIP() << "no pseudo-terminal can be opened here (" << std::strerror(errno)
                         << "; is /dev/pts mounted?)";
        std::string output;
        bool restored = false;
        const int status = runOnTerminal(master, slave, keys, output, restored);
        close(slave);
        close(master);
        EXPECT_TRUE(restored) << keys;
        if (keys[0] == '\x03') {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << output;
            continue;
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << output;
        EXPECT_NE(output.find("--- HIT SPACE KEY ---"), std::string::npos);
        EXPECT_EQ(output.find("qz"), std::string::npos) << "keys must not be echoed";
    }
}

// A wrong command line with standard input an open pipe that never sends
// anything: the prompt is printed and the program ends at once.
TEST(PauseWithoutTerminal, ASilentOpenPipeDoesNotHoldTheProgram) {
    int input[2], out[2];
    ASSERT_TRUE(pipe(input) == 0 && pipe(out) == 0);
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
    std::string output(64, '\0');
    output.resize(std::max<ssize_t>(read(out[0], output.data(), output.size()), 0));
    close(out[0]);
    close(input[1]);
    ASSERT_NE(status, -1) << "still waiting after ten seconds";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    EXPECT_EQ(output, "--- HIT SPACE KEY ---\n");
}

constexpr int HEIGHT = SCENE_HEIGHT;

// The real program in a fresh directory with its own camera and pattern files.
class LumekoRun : public ::testing::Test {
  protected:
    void SetUp() override { writeSceneFiles(dir.path()); }
    ProcessResult track(const char* kind, const std::string& input) {
        return runProcess(dir.path(), {LUMEKO_BINARY, "marker.pat", "80", "0", kind, input});
    }
    std::string output() { return readFile(dir.file("Lumeko.cm2")); }
    TempDir dir;
};

// Newcomers' mistakes and what they meet, through the programs: what the
// error stream begins with, the status, and an earlier Lumeko.cm2 kept by
// every failure (where the run succeeds, a track of `rows` rows). Lumeko's
// refused command lines and files: the golden runs.
TEST_F(LumekoRun, NewcomerMistakesSayWhatIsWrongAndKeepTheEarlierTrack) {
    writeMarkerStill(dir.file("in.jpg"), JpegColour::Rgb);
    RgbImage still;
    std::string error;
    ASSERT_TRUE(readPicture(dir.file("in.jpg"), still).ok());
    ASSERT_EQ(writeImage(dir.file("in.png"), still, 0, error), 0);
    writeMovie(dir.file("214.avi"), {214, HEIGHT, 25, 1, MovieCodec::RawBgr24},
               markerScenes({true}, 214));
    ASSERT_EQ(track("I", "in.jpg").status, 0);
    std::filesystem::rename(dir.file("Lumeko.cm2"), dir.file("track.cm2"));
    const struct {
        std::string command;  // the program, then its arguments, at spaces
        int status;
        std::string err;
        int rows = -1;  // -1: the earlier Lumeko.cm2 stays
    } cases[] = {
        {"Lumeko marker.pat 80 0 I in.png", 0, "Lumeko.cm2: 1 frame, marker found in 1\n", 1},
        {"lumeko-export track.cm2 out.glb --camera absent.dat", 1,
         "lumeko-export: cannot load the camera parameter file absent.dat: No such file or "
         "directory\n"},
        {"lumeko-plot absent.cm2 p.png", 1, "lumeko-plot: absent.cm2: cannot open"},
        {"lumeko-plot track.cm2", 1, "lumeko-plot: give one Lumeko.cm2 and one OUTPUT\nUsage:"},
        {"lumeko-plot track.cm2 p.png --size 10x10", 1,
         "lumeko-plot: bad value for --size: 10x10\n"},
        {"lumeko-plot track.cm2 p.gif", 1,
         "lumeko-plot: p.gif: the output must end in .png, .svg or .pdf\n"},
        {"lumeko-render --output x.avi --bogus", 1,
         "lumeko-render: unknown option --bogus\nUsage:"},
        {"lumeko-overlay 214.avi marker.pat o.avi --width 80", 1,
         "lumeko-overlay: marker.pat: not a camera-motion file: line 1"},
        {"lumeko-overlay 214.avi track.cm2 o.avi", 1,
         "lumeko-overlay: give the marker width with --width\n"},
        {"lumeko-overlay marker.pat track.cm2 o.avi --width 80", 1,
         "lumeko-overlay: marker.pat: not a movie FFmpeg can decode\n"},
        {"lumeko-overlay 214.avi track.cm2 o.gif --width 80", 1,
         "lumeko-overlay: o.gif: the output must end in .mp4, .mkv, .mov or .avi"},
        // The last: without the Data folder.
        {"lumeko-overlay in.jpg track.cm2 out.png --width 80", 1,
         "lumeko-overlay: cannot load the camera parameter file Data/camera_para.dat: No such "
         "file or directory\n  it is read from the Data folder of the folder you run in: copy "
         "the Data folder that comes with Lumeko here (from its source folder, or "
         "share/lumeko/Data where it is installed, e.g. cp -r /usr/share/lumeko/Data .), or "
         "name another file with --camera FILE\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        writeFile(dir.file("Lumeko.cm2"), "an earlier track\n");
        if (&c == std::end(cases) - 1)
            std::filesystem::remove_all(dir.file("Data"));
        std::vector<std::string> argv = words(c.command);
        argv[0] = argv[0] == "Lumeko" ? LUMEKO_BINARY : LUMEKO_TOOLS_DIR "/" + argv[0];
        const ProcessResult result = runProcess(dir.path(), argv);
        EXPECT_EQ(result.status, c.status);
        EXPECT_TRUE(result.err.starts_with(c.err)) << result.err;
        if (c.rows < 0)
            EXPECT_EQ(output(), "an earlier track\n");
        else
            EXPECT_EQ(foundRows(output()).size(), static_cast<size_t>(c.rows));
    }
    for (const std::string tool :
         {"lumeko-camera", "lumeko-pattern", "lumeko-render", "lumeko-compare", "lumeko-detect",
          "lumeko-overlay", "lumeko-plot", "lumeko-export"})
        EXPECT_EQ(runProcess(dir.path(), {LUMEKO_TOOLS_DIR "/" + tool, "--version"}).out,
                  tool + " 1.0.0\n");
}

// Every file in `folder` and below with its bytes.
std::map<std::string, std::string> filesIn(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && !entry.is_symlink())
            files[entry.path().string()] = readFile(entry.path().string());
    return files;
}

// No output over an input: an output named like one of the inputs (the
// footage, a picture of the sequence, the pattern, the camera file), by
// another spelling or a link, and a report named like Lumeko.cm2 or its
// plate file, are refused before anything is read or written: the line
// naming both, the pause, status 1, every file as it was and none added.
TEST_F(LumekoRun, AnOutputNamedLikeAnInputIsRefusedBeforeAnything) {
    writeMarkerStill(dir.file("in.jpg"), JpegColour::Rgb);
    writeMovie(dir.file("shot.avi"), {SCENE_WIDTH, HEIGHT, 25, 1, MovieCodec::Mjpeg},
               markerScenes({true, true}));
    fs::create_symlink("shot.avi", dir.file("link.avi"));
    fs::create_directory(dir.file("seq"));
    for (const char* picture : {"seq/p.1.jpg", "seq/p.2.jpg"})
        writeMarkerStill(dir.file(picture), JpegColour::Rgb);
    writeFile(dir.file("Lumeko.cm2"), "an earlier track\n");
    const std::string input = " is the same file as the input ";
    const std::string output = ": choose another name for the output\n";
    const std::string report = ": choose another name for the report\n";
    const std::pair<std::string, std::string> cases[] = {
        {"--report shot.avi marker.pat 80 0 M shot.avi", "shot.avi" + input + "shot.avi" + output},
        {"--report ./seq/../shot.avi marker.pat 80 0 M link.avi",
         "./seq/../shot.avi" + input + "link.avi" + output},
        {"--report link.avi marker.pat 80 0 M shot.avi", "link.avi" + input + "shot.avi" + output},
        {"--report seq/p.2.jpg marker.pat 80 0 M seq/p.%d.jpg",
         "seq/p.2.jpg" + input + "seq/p.2.jpg" + output},
        {"--report marker.pat marker.pat 80 0 I in.jpg",
         "marker.pat" + input + "marker.pat" + output},
        {"--report Data/camera_para.dat marker.pat 80 0 I in.jpg",
         "Data/camera_para.dat" + input + "./Data/camera_para.dat" + output},
        {"marker.pat 80 0 I Lumeko.cm2", "Lumeko.cm2" + input + "Lumeko.cm2" + output},
        {"--report ./Lumeko.cm2 marker.pat 80 0 I in.jpg",
         "./Lumeko.cm2 is the same file as the output Lumeko.cm2" + report},
        {"--report Lumeko.cm2.plate marker.pat 80 0 M seq/p.%d.jpg",
         "Lumeko.cm2.plate is the same file as the output Lumeko.cm2.plate" + report},
    };
    const std::map<std::string, std::string> before = filesIn(dir.path());
    for (const auto& [command, message] : cases) {
        SCOPED_TRACE(command);
        const ProcessResult result = runProcess(dir.path(), words(LUMEKO_BINARY " " + command));
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, message);
        EXPECT_EQ(result.out, "--- HIT SPACE KEY ---\n");
        EXPECT_TRUE(filesIn(dir.path()) == before);
    }
}

// A frame OpenCV cannot take (960 x 2 pixels, which the bridge reduces to a
// picture less than a row high) ends the run with OpenCV's words and status 1,
// or is tracked: never an abort, never a run that does not end.
TEST_F(LumekoRun, AFrameOpenCvCannotTakeEndsTheRunWithAStatus) {
    writeMovie(dir.file("flat.avi"), {960, 2, 25, 1, MovieCodec::RawBgr24},
               std::vector<std::vector<unsigned char>>(3, std::vector<unsigned char>(960 * 2 * 3)));
    writeFile(dir.file("Lumeko.cm2"), "an earlier track\n");
    const ProcessResult result = runProcess(
        dir.path(),
        {"/bin/sh", "-c", "exec timeout 60 " LUMEKO_BINARY " --bridge marker.pat 80 0 M flat.avi"});
    ASSERT_TRUE(result.status == 0 || result.status == 1) << result.status;
    if (result.status == 1) {
        EXPECT_NE(result.err.find("\ncan not track <flat.avi>: OpenCV"), std::string::npos)
            << result.err;
        EXPECT_EQ(output(), "an earlier track\n");
    }
}

// A folder Lumeko may not write in is refused before the first frame, with the
// reason. Root may write anywhere, so as root the program runs as nobody.
TEST(ReadOnlyFolder, IsRefusedBeforeTracking) {
    const bool root = geteuid() == 0;
    if (root && access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "running as root without setpriv to drop the privileges";
    TempDir dir;
    writeSceneFiles(dir.path());
    writeMarkerStill(dir.file("in.jpg"), JpegColour::Rgb);
    using fs::perms;
    fs::permissions(dir.path(), perms::owner_read | perms::owner_exec | perms::others_read |
                                    perms::others_exec);
    std::vector<std::string> args{LUMEKO_BINARY, "marker.pat", "80", "0", "I", "in.jpg"};
    if (root)
        args.insert(args.begin(),
                    {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    const ProcessResult result = runProcess(dir.path(), args);
    fs::permissions(dir.path(), perms::owner_all);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "can not open Lumeko.cm2\nLumeko.cm2: The working folder can not be "
              "written: Permission denied\n");
    EXPECT_EQ(result.out, "--- HIT SPACE KEY ---\n");
}

}  // namespace
