#include "tests/support/test_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace lumeko_test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lumeko-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

// The child's output goes to files, read once it has ended: no pipe can fill
// up and block it. Everything the child needs is made before the fork.
ProcessResult runProcess(const std::string& workDir, const std::vector<std::string>& argv) {
    TempDir capture;
    const std::string outPath = capture.file("out"), errPath = capture.file("err");
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
            dup2(err, 2) < 0 || chdir(workDir.c_str()) != 0)
            _exit(126);
        for (int fd : {in, out, err})
            if (fd > 2)
                close(fd);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), readFile(outPath),
            readFile(errPath)};
}

ProcessResult mustRun(const std::string& workDir, const std::vector<std::string>& argv) {
    ProcessResult result = runProcess(workDir, argv);
    if (result.status != 0)
        throw std::runtime_error(argv[0] + " failed: " + result.err);
    return result;
}

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    return {std::istream_iterator<std::string>(in), {}};
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

void writeTablePicture(const std::string& path, const TableLook& look) {
    std::string pixels(512 * 512 * 3, '\0');
    for (size_t i = 0; i < pixels.size(); i++)
        pixels[i] = static_cast<char>(look.ground[i % 3]);
    unsigned seed = 7;
    const auto next = [&](unsigned range) {
        return ((seed = seed * 1103515245u + 12345u) >> 8 & 0xffffu) % range;
    };
    for (int n = 0; n < look.count; n++) {
        const unsigned x0 = next(512), y0 = next(512), w = 2 + next(look.sideMax),
                       h = 2 + next(look.sideMax);
        const int shade = 60 + static_cast<int>(next(170));
        for (unsigned y = y0; y < y0 + h; y++)
            for (unsigned x = x0; x < x0 + w; x++)
                for (int c = 0; c < 3; c++)
                    pixels[((y % 512) * 512 + x % 512) * 3 + c] =
                        static_cast<char>(shade + look.tint[c]);
    }
    writeFile(path, "P6 512 512 255\n" + pixels);
}

}  // namespace lumeko_test
