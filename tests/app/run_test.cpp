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

#include "tests/support/media_fixtures.h"
#include "tests/support/test_support.h"

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

// A folder Lumeko may not write in is refused before the first frame, with the
// reason. Root may write anywhere, so as root the program runs as nobody.
TEST(LumekoRun, AReadOnlyFolderIsRefusedBeforeTracking) {
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
