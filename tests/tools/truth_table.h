#pragma once

// Footage of the sample marker made with the tools, the truth table
// lumeko-render writes beside it (a header line, then 24 columns a frame), and
// how far a tracked key row lies from it.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "pose/rotation_angles.h"
#include "tests/support/test_support.h"
#include "track/key_table.h"

namespace lumeko_test {

// Runs `args` in `dir`; throws (failing the test) when the program fails.
inline void mustRun(const std::string& dir, const std::vector<std::string>& args) {
    const ProcessResult result = runProcess(dir, args);
    if (result.status != 0)
        throw std::runtime_error(args[0] + ": " + result.err);
}

// lumeko-camera writing `file` for frames of `size` 60 degrees wide, then `options`.
inline std::vector<std::string> cameraCommand(const std::string& file, const std::string& size,
                                              const std::vector<std::string>& options = {}) {
    std::vector<std::string> args{
        LUMEKO_TOOLS_DIR "/lumeko-camera", "write", file, "--size", size, "--hfov", "60"};
    args.insert(args.end(), options.begin(), options.end());
    return args;
}

// lumeko-render of the sample marker, 80 units wide, through `camera`, then `options`.
inline std::vector<std::string> renderCommand(const std::string& camera,
                                              const std::vector<std::string>& options) {
    std::vector<std::string> args{LUMEKO_TOOLS_DIR "/lumeko-render",
                                  "--camera",
                                  camera,
                                  "--picture",
                                  LUMEKO_SOURCE_DIR "/Data/sample_marker_picture.ppm",
                                  "--marker-width",
                                  "80"};
    args.insert(args.end(), options.begin(), options.end());
    return args;
}

using Keys = std::array<double, 6>;  // translate X, Y, Z, rotate Y, X, Z

struct TruthRow {
    int visible;
    double minSide, area;  // of the marker in the picture, pixels
    double pose[3][4];     // marker-to-camera
    Keys keys;             // before smoothing
};

inline std::vector<TruthRow> readTruthTable(const std::string& path) {
    std::vector<TruthRow> rows;
    std::ifstream in(path);
    std::string line;
    for (std::getline(in, line); std::getline(in, line);) {
        std::replace(line.begin(), line.end(), ',', ' ');
        std::istringstream cells(line);
        const std::vector<double> f{std::istream_iterator<double>(cells), {}};
        EXPECT_EQ(f.size(), 24u) << line;
        if (f.size() != 24u)
            break;
        TruthRow& row = rows.emplace_back(TruthRow{static_cast<int>(f[1]), f[2], f[3], {}, {}});
        for (int i = 0; i < 12; ++i)
            row.pose[i / 4][i % 4] = f[6 + i];
        std::copy(f.begin() + 18, f.end(), row.keys.begin());
    }
    return rows;
}

inline Keys keysOf(const KeyRow& r) {
    return {r.translateX, r.translateY, r.translateZ, r.rotateY, r.rotateX, r.rotateZ};
}

// The position error as a fraction of the true distance.
inline double positionError(const Keys& truth, const Keys& got) {
    return std::hypot(got[0] - truth[0], got[1] - truth[1], got[2] - truth[2]) /
           std::hypot(truth[0], truth[1], truth[2]);
}

// Angle in degrees between two camera orientations given by their key angles
// (a = rotateY + 90, b = 90 - rotateX, c = a - rotateZ - 90): whole rotations,
// as single angles are ill-conditioned near a straight-down view.
inline double orientationError(const Keys& x, const Keys& y) {
    double R[2][3][3], trace = 0.0;
    for (int n = 0; n < 2; ++n) {
        const Keys& k = n == 0 ? x : y;
        const double d = M_PI / 180.0, a = (k[3] + 90.0) * d;
        arAnglesToRotation(a, (90.0 - k[4]) * d, a - (k[5] + 90.0) * d, R[n]);
    }
    for (int i = 0; i < 9; ++i)
        trace += R[0][i / 3][i % 3] * R[1][i / 3][i % 3];
    return std::acos(std::clamp((trace - 1.0) / 2.0, -1.0, 1.0)) * 180.0 / M_PI;
}

// Detection keeps reporting a lost marker for two more frames.
inline bool heldAfterLoss(const std::vector<TruthRow>& rows, size_t i) {
    return (i >= 1 && rows[i - 1].visible) || (i >= 2 && rows[i - 2].visible);
}

}  // namespace lumeko_test
