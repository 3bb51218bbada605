#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"

namespace {

const char* const USAGE =
    "Lumeko ver.1.0.0\n"
    "\n"
    "Usage: Lumeko <pattern_file> <pattern_width> <cam_no> <kind> <background_file>\n"
    " cam_no 0:STD_CAMERA, 1:dolly#1, 2:dolly#2 ...\n"
    " kind 'M':movie, 'I':image\n";
const char* const PROMPT = "--- HIT SPACE KEY ---\n";

lumeko_test::ProcessResult runLumeko(const lumeko_test::TempDir& dir,
                                     const std::vector<std::string>& args,
                                     const char* input = nullptr) {
    std::vector<std::string> argv{LUMEKO_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return lumeko_test::runProcess(dir.path(), argv, input);
}

std::vector<std::string> commandLine(const std::string& width, const std::string& camNo,
                                     const std::string& kind) {
    return {"pattern.pat", width, camNo, kind, "missing-input"};
}

void expectRejected(const lumeko_test::ProcessResult& result, const std::string& why) {
    EXPECT_EQ(result.status, 1) << why;
    EXPECT_EQ(result.err, USAGE) << why;
    EXPECT_EQ(result.out, PROMPT) << why;
}

TEST(CommandLine, NoArgumentsPrintsUsageWithoutThePause) {
    lumeko_test::TempDir dir;
    lumeko_test::ProcessResult result = runLumeko(dir, {});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, USAGE);
    EXPECT_EQ(result.out, "");
}

TEST(CommandLine, WrongArgumentCountPausesUntilSpace) {
    lumeko_test::TempDir dir;
    expectRejected(runLumeko(dir, {"a", "80", "0", "M"}, "xy "), "four arguments");
    expectRejected(runLumeko(dir, {"a", "80", "0", "M", "b", "c"}, "xy "), "six arguments");
    expectRejected(runLumeko(dir, {"a"}), "one argument, input at /dev/null");
}

TEST(CommandLine, RejectsWidthsThatAreNoRealSize) {
    lumeko_test::TempDir dir;
    for (const char* width :
         {"abc", "", "nan", "NAN", "inf", "-inf", "infinity", "0", "0.0", "-0", "-80", "1e999"}) {
        expectRejected(runLumeko(dir, commandLine(width, "0", "I")), width);
    }
}

TEST(CommandLine, RejectsCameraNumberThatIsNoNumber) {
    lumeko_test::TempDir dir;
    for (const char* camNo : {"x", "", " ", "-"}) {
        expectRejected(runLumeko(dir, commandLine("80", camNo, "I")), camNo);
    }
}

TEST(CommandLine, KindMustBeExactlyMOrI) {
    lumeko_test::TempDir dir;
    for (const char* kind : {"m", "i", "MOVIE", "Image", "M ", " I", "", "X"}) {
        expectRejected(runLumeko(dir, commandLine("80", "0", kind)), kind);
    }
}

// Accepted command lines reach the frame source, which fails on the missing
// input with its own message and pause; no usage text, no camera-motion file.
TEST(CommandLine, TrailingCharactersAfterNumbersAreAccepted) {
    lumeko_test::TempDir dir;
    for (const char* kind : {"I", "M"}) {
        for (auto [width, camNo] : {std::pair{"80abc", "0"}, {"80", "3x"}, {" 1.5e1", "-5"}}) {
            lumeko_test::ProcessResult result = runLumeko(dir, commandLine(width, camNo, kind));
            std::string why = std::string(kind) + " " + width + " " + camNo;
            EXPECT_EQ(result.status, 1) << why;
            EXPECT_EQ(result.err.find("Usage:"), std::string::npos) << why;
            EXPECT_NE(result.err.find("missing-input"), std::string::npos) << why;
            EXPECT_TRUE(result.out.ends_with(PROMPT)) << why;
        }
    }
    EXPECT_FALSE(lumeko_test::fileExists(dir.file("Lumeko.cm2")));
}

// The program on a pseudo-terminal of its own, for the pause's key reading.
class TerminalRun {
  public:
    explicit TerminalRun(const std::vector<std::string>& args) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            return;
        std::string slaveName = ptsname(master_);
        slave_ = open(slaveName.c_str(), O_RDWR | O_NOCTTY);
        if (slave_ < 0)
            return;
        tcgetattr(slave_, &initial_);
        fcntl(master_, F_SETFL, O_NONBLOCK);
        pid_ = fork();
        if (pid_ == 0) {
            setsid();
            int tty = open(slaveName.c_str(), O_RDWR);
            ioctl(tty, TIOCSCTTY, 0);
            dup2(tty, 0);
            dup2(tty, 1);
            dup2(tty, 2);
            std::vector<char*> argv{const_cast<char*>(LUMEKO_BINARY)};
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~TerminalRun() {
        if (pid_ > 0 && !finished_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (slave_ >= 0)
            close(slave_);
        if (master_ >= 0)
            close(master_);
    }
    bool started() const { return pid_ > 0; }

    // Waits (a few seconds at most) until the program has switched the terminal to single keys.
    bool waitForRawKeys() {
        for (int i = 0; i < 500; i++) {
            termios now{};
            tcgetattr(slave_, &now);
            if ((now.c_lflag & ICANON) == 0)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    void type(const std::string& keys) {
        ssize_t ignored = write(master_, keys.data(), keys.size());
        (void)ignored;
    }
    // Raw wait status of the program, or -1 when it did not end within a few seconds.
    int waitForEnd() {
        for (int i = 0; i < 500; i++) {
            drain();
            int status;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                finished_ = true;
                drain();
                return status;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    bool terminalRestored() const {
        termios now{};
        tcgetattr(slave_, &now);
        return now.c_lflag == initial_.c_lflag && now.c_cc[VMIN] == initial_.c_cc[VMIN] &&
               now.c_cc[VTIME] == initial_.c_cc[VTIME];
    }
    const std::string& output() const { return output_; }

  private:
    void drain() {
        char buffer[512];
        ssize_t n;
        while ((n = read(master_, buffer, sizeof buffer)) > 0)
            output_.append(buffer, n);
    }
    int master_ = -1;
    int slave_ = -1;
    pid_t pid_ = -1;
    bool finished_ = false;
    termios initial_{};
    std::string output_;
};

TEST(PauseOnTerminal, ReadsUnechoedKeysUntilSpaceAndRestoresTheTerminal) {
    TerminalRun run({"a", "80", "0", "M"});
    ASSERT_TRUE(run.started());
    ASSERT_TRUE(run.waitForRawKeys());
    run.type("qz ");
    int status = run.waitForEnd();
    ASSERT_TRUE(WIFEXITED(status)) << run.output();
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(run.output().find("--- HIT SPACE KEY ---"), std::string::npos);
    EXPECT_EQ(run.output().find("qz"), std::string::npos) << "keys must not be echoed";
    EXPECT_TRUE(run.terminalRestored());
}

TEST(PauseOnTerminal, CtrlCRestoresTheTerminalAndStillInterrupts) {
    TerminalRun run({"a", "80", "0", "M"});
    ASSERT_TRUE(run.started());
    ASSERT_TRUE(run.waitForRawKeys());
    run.type("\x03");
    int status = run.waitForEnd();
    ASSERT_TRUE(WIFSIGNALED(status)) << run.output();
    EXPECT_EQ(WTERMSIG(status), SIGINT);
    EXPECT_TRUE(run.terminalRestored());
}

}  // namespace
