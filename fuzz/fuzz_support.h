#pragma once

// Helpers shared by the fuzz targets: a scratch file for functions that read
// files by name, a reader of the input's bytes, and the contract check that
// stops the fuzzer with a message when a promise is broken.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include "math/matrix.h"

namespace fuzz {

// Stops the run (libFuzzer records the input) when `ok` is false.
inline void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "contract broken: %s\n", what);
        std::abort();
    }
}

// A file of this process's own in the temporary folder, rewritten per input.
// Every value of a 3x4 pose is a number.
inline bool finitePose(const Pose& pose) {
    for (const auto& row : pose.m) {
        for (double v : row) {
            if (!std::isfinite(v))
                return false;
        }
    }
    return true;
}

inline const std::string& scratchPath(const char* name) {
    static std::string path;
    if (path.empty()) {
        const char* dir = std::getenv("TMPDIR");
        path = std::string(dir != nullptr ? dir : "/tmp") + "/lumeko-fuzz-" +
               std::to_string(static_cast<long>(getpid())) + "-" + name;
    }
    return path;
}

inline void writeScratch(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    require(file != nullptr, "the scratch file can be written");
    if (size > 0)
        std::fwrite(data, 1, size, file);
    std::fclose(file);
}

// Takes values off the front of the input; zeros once it runs out.
class Bytes {
  public:
    Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }
    uint32_t u32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; i++)
            v = (v << 8) | byte();
        return v;
    }
    double raw() {  // any bit pattern: NaN, infinities, subnormals
        uint64_t bits = (uint64_t{u32()} << 32) | u32();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    // A value in [low, high] from two bytes.
    double between(double low, double high) {
        const double unit = ((byte() << 8) | byte()) / 65535.0;
        return low + (high - low) * unit;
    }
    size_t left() const { return size_ - position_; }
    const uint8_t* rest() const { return data_ + position_; }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

}  // namespace fuzz
