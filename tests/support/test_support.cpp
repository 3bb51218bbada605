#include "tests/support/test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

// Reads both output pipes until the child closes them, writing `input` to its
// standard input as the child takes it, so that no pipe fills up and blocks.
void pumpPipes(int inFd, const std::string& input, int outFd, int errFd, ProcessResult& result) {
    size_t written = 0;
    if (inFd >= 0 && input.empty()) {
        close(inFd);
        inFd = -1;
    }
    char buffer[4096];
    while (outFd >= 0 || errFd >= 0) {
        pollfd fds[3];
        int n = 0;
        if (outFd >= 0)
            fds[n++] = {outFd, POLLIN, 0};
        if (errFd >= 0)
            fds[n++] = {errFd, POLLIN, 0};
        if (inFd >= 0)
            fds[n++] = {inFd, POLLOUT, 0};
        if (poll(fds, n, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < n; i++) {
            if (fds[i].revents == 0)
                continue;
            if (fds[i].fd == inFd) {
                ssize_t k = write(inFd, input.data() + written, input.size() - written);
                if (k > 0)
                    written += static_cast<size_t>(k);
                if (k < 0 || written == input.size()) {
                    close(inFd);
                    inFd = -1;
                }
                continue;
            }
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
    if (inFd >= 0)
        close(inFd);
}

}  // namespace

ProcessResult runProcess(const std::string& workDir, const std::vector<std::string>& argv,
                         const char* input) {
    int inPipe[2] = {-1, -1}, outPipe[2], errPipe[2];
    if ((input && pipe(inPipe) != 0) || pipe(outPipe) != 0 || pipe(errPipe) != 0) {
        throw std::runtime_error("pipe failed");
    }
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        int in = input ? inPipe[0] : open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) {
            if (fd > 2)
                close(fd);
        }
        if (chdir(workDir.c_str()) != 0)
            _exit(126);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    if (input)
        close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    ProcessResult result{};
    pumpPipes(input ? inPipe[1] : -1, input ? input : "", outPipe[0], errPipe[0], result);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
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

}  // namespace lumeko_test
