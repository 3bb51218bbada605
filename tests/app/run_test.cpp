#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utmp.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "camera/camera_param.h"
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

using Frame = std::vector<unsigned char>;

constexpr int WIDTH = SCENE_WIDTH, HEIGHT = SCENE_HEIGHT;

std::vector<Frame> scenes(const std::vector<bool>& markers, int width = WIDTH) {
    return markerScenes(markers, width);
}

// The keys of one channel of a camera-motion file, in frame order.
std::vector<double> keys(const std::string& file, const std::string& channel) {
    std::istringstream lines(file.substr(file.find("\t\t" + channel + " ")));
    std::vector<double> values;
    for (std::string line; std::getline(lines, line) && line != "\t\t\t}";)
        if (line.starts_with("\t\t\t\tk  "))
            values.push_back(std::stod(line.substr(line.rfind(' '))));
    return values;
}

std::vector<bool> foundRows(const std::string& file) {
    std::vector<bool> found;
    for (double rotateX : keys(file, "rotateX"))
        found.push_back(rotateX != -45.0);  // a row without the marker has rotateX -45
    return found;
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

// Usage text and status 1; the pause (except without arguments) ends at a
// space or at the end of the input.
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
        EXPECT_EQ(result.err, name == std::string("cut.jpg") ? "Premature end of JPEG file\n" : "");
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
        EXPECT_EQ(result.err, "");
        ASSERT_EQ(foundRows(output()), (std::vector<bool>{false, true, true}));
        for (const char* channel : {"rotateZ", "rotateX", "rotateY"}) {
            EXPECT_NEAR(keys(output(), channel)[1], keys(still, channel)[0], 2.0) << channel;
            EXPECT_NEAR(keys(output(), channel)[2], keys(still, channel)[0], 2.0) << channel;
        }
    }
}

// Frame i is row i by its position: with frame 1 damaged, a source counting
// decoded frames would find the marker a row early. Empty and cut movies too.
TEST_F(LumekoRun, MovieFramesBecomeRowsInOrder) {
    writeMovie(dir.file("damaged.avi"), {WIDTH, HEIGHT, 25, 1, MovieCodec::Mjpeg},
               scenes({false, true, false, true, true}));
    damageAviFrame(dir.file("damaged.avi"), 1);
    ProcessResult result = track("M", "damaged.avi");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.out.starts_with("frame rate: 25\n--------")) << result.out;
    EXPECT_EQ(foundRows(output()), (std::vector<bool>{false, false, false, true, true}));
    EXPECT_EQ(result.err,
              "1 frame(s) of <damaged.avi> could not be decoded and count as not found\n");

    writeMovie(dir.file("empty.avi"), {WIDTH, HEIGHT, 25, 1, MovieCodec::RawBgr24}, {});
    ASSERT_EQ(track("M", "empty.avi").status, 0);
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
    // A movie longer than the key table ends at row 1501 and keeps the old file.
    writeFile(dir.file("Lumeko.cm2"), "earlier track\n");
    writeMovie(dir.file("long.avi"), {16, 16, 25, 1, MovieCodec::RawBgr24},
               std::vector(1501, Frame(16 * 16 * 3, 255)));
    const ProcessResult result = track("M", "long.avi");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "rec_tbl_idx over\n");
    EXPECT_EQ(output(), "earlier track\n");
    // The tracker's set-up: the pattern is loaded after the camera is printed.
    const ProcessResult noPattern = run({"absent.pat", "80", "0", "I", "whole.jpg"});
    EXPECT_EQ(noPattern.status, 1);
    EXPECT_EQ(noPattern.err, "can not load pattern <absent.pat>\n");
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

}  // namespace
