#pragma once

// The truth table lumeko-render writes beside its footage (a header line, then
// 24 columns a frame), and how far a tracked key row lies from it.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "app/key_table.h"
#include "pose/rotation_angles.h"

namespace lumeko_test {

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
