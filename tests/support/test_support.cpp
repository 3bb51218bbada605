#include "tests/support/test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace lumeko_test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lumeko-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

namespace {

// Reads both output pipes until the child closes them, so that neither fills up and blocks.
void pumpPipes(int outFd, int errFd, ProcessResult& result) {
    char buffer[4096];
    while (outFd >= 0 || errFd >= 0) {
        pollfd fds[2];
        int n = 0;
        if (outFd >= 0)
            fds[n++] = {outFd, POLLIN, 0};
        if (errFd >= 0)
            fds[n++] = {errFd, POLLIN, 0};
        if (poll(fds, n, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < n; i++) {
            if (fds[i].revents == 0)
                continue;
            ssize_t k = read(fds[i].fd, buffer, sizeof buffer);
            std::string& sink = fds[i].fd == outFd ? result.out : result.err;
            if (k > 0) {
                sink.append(buffer, static_cast<size_t>(k));
            } else {
                close(fds[i].fd);
                (fds[i].fd == outFd ? outFd : errFd) = -1;
            }
        }
    }
}

}  // namespace

ProcessResult runProcess(const std::string& workDir, const std::vector<std::string>& argv) {
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0)
        throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(open("/dev/null", O_RDONLY), 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
            if (fd > 2)
                close(fd);
        if (chdir(workDir.c_str()) != 0)
            _exit(126);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    ProcessResult result{};
    pumpPipes(outPipe[0], errPipe[0], result);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

void mustRun(const std::string& workDir, const std::vector<std::string>& argv) {
    const ProcessResult result = runProcess(workDir, argv);
    if (result.status != 0)
        throw std::runtime_error(argv[0] + " failed: " + result.err);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool fileExists(const std::string& path) {
    return std::filesystem::exists(path);
}

Rotation axisRotation(int axis, double radians) {
    const int i = (axis + 1) % 3, j = (axis + 2) % 3;
    Rotation r{};
    r[axis][axis] = 1.0;
    r[i][i] = r[j][j] = std::cos(radians);
    r[j][i] = std::sin(radians);
    r[i][j] = -r[j][i];
    return r;
}

Rotation operator*(const Rotation& a, const Rotation& b) {
    Rotation r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                r[i][j] += a[i][k] * b[k][j];
    return r;
}

Rotation quaternionRotation(double w, double x, double y, double z) {
    Rotation r;
    r[0] = {1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)};
    r[1] = {2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)};
    r[2] = {2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)};
    return r;
}

}  // namespace lumeko_test
