#pragma once

// Footage of the sample marker made with the tools, and the truth table
// lumeko-render writes beside it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tools/compare/truth_table.h"

namespace lumeko_test {

// lumeko-camera writing `file` for frames of `size` 60 degrees wide, then `options`.
inline std::vector<std::string> cameraCommand(const std::string& file, const std::string& size,
                                              const std::vector<std::string>& options = {}) {
    std::vector<std::string> args{
        LUMEKO_TOOLS_DIR "/lumeko-camera", "write", file, "--size", size, "--hfov", "60"};
    args.insert(args.end(), options.begin(), options.end());
    return args;
}

// The lumeko-render that films the tests' footage: the one built beside the
// tests, or the one LUMEKO_FOOTAGE_RENDER names. The sanitizer pass films
// with the optimised build's, which makes the same frames five times faster;
// the renderer's own tests always run the one built beside them.
inline std::string footageRenderer() {
    const char* named = std::getenv("LUMEKO_FOOTAGE_RENDER");
    return named != nullptr && *named != '\0' ? named : LUMEKO_TOOLS_DIR "/lumeko-render";
}

// lumeko-render of the sample marker, 80 units wide, through `camera`, then `options`.
inline std::vector<std::string> renderCommand(const std::string& camera,
                                              const std::vector<std::string>& options) {
    std::vector<std::string> args{footageRenderer(),
                                  "--camera",
                                  camera,
                                  "--picture",
                                  LUMEKO_SOURCE_DIR "/Data/sample_marker_picture.ppm",
                                  "--marker-width",
                                  "80"};
    args.insert(args.end(), options.begin(), options.end());
    return args;
}

// The truth table beside footage; fails the test when it cannot be read.
inline std::vector<TruthRow> readTruthTable(const std::string& path) {
    std::vector<TruthRow> rows;
    std::string error;
    EXPECT_EQ(::readTruthTable(path, rows, error), 0) << error;
    return rows;
}

}  // namespace lumeko_test
