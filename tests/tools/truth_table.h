#pragma once

// Footage of the sample marker made with the tools, and the truth table
// lumeko-render writes beside it (a header line, then 24 columns a frame).

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

#include "tests/support/test_support.h"

namespace lumeko_test {

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

}  // namespace lumeko_test
