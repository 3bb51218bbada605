#pragma once

#include <array>
#include <string>
#include <vector>

namespace lumeko_test {

// Whether the tests run under AddressSanitizer, which reserves more address
// space than any memory limit a test sets allows.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool UNDER_ADDRESS_SANITIZER = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool UNDER_ADDRESS_SANITIZER = true;
#else
inline constexpr bool UNDER_ADDRESS_SANITIZER = false;
#endif
#else
inline constexpr bool UNDER_ADDRESS_SANITIZER = false;
#endif

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes out of scope.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// What a finished child process left behind.
struct ProcessResult {
    int status;  // exit status, or 128 + signal number
    std::string out;
    std::string err;
};

// Runs `argv` (argv[0] the program's path) in `workDir` with standard input
// from /dev/null and collects its output.
ProcessResult runProcess(const std::string& workDir, const std::vector<std::string>& argv);
// The same, throwing (and so failing the test) when the program fails.
ProcessResult mustRun(const std::string& workDir, const std::vector<std::string>& argv);

// The words of `line`, split at white space (a command line without quoting).
std::vector<std::string> words(const std::string& line);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

// A table top of our own for the renderer's --table: `count` overlapping
// rectangles (2 to 1 + `sideMax` pixels a side) on a plain ground, 512 x 512,
// from a fixed-seed generator; each rectangle's grey shade is offset per
// colour channel (red, green, blue) by `tint`.
struct TableLook {
    int count;
    unsigned sideMax;
    unsigned char ground[3];
    int tint[3];
};
void writeTablePicture(const std::string& path, const TableLook& look);
bool fileExists(const std::string& path);

// Rotation matrices: by `radians` about axis 0 (x), 1 (y) or 2 (z), right-handed;
// the product a b; and that of a unit quaternion (w, x, y, z).
struct Rotation : std::array<std::array<double, 3>, 3> {};
Rotation axisRotation(int axis, double radians);
Rotation operator*(const Rotation& a, const Rotation& b);
Rotation quaternionRotation(double w, double x, double y, double z);

}  // namespace lumeko_test
