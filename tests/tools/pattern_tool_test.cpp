#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

#include "marker/pattern.h"
#include "tests/support/test_support.h"
#include "tools/common/marker_picture.h"

namespace {

RgbImage randomPicture(unsigned seed) {
    std::mt19937 generator(seed);
    RgbImage picture = makeRgbImage(16, 16, 0, 0, 0);
    std::generate(picture.rgb.begin(), picture.rgb.end(), [&] { return generator() % 256; });
    return picture;
}

TEST(PatternTool, DirectionBlocksAreThePictureTurnedCounterClockwise) {
    const RgbImage picture = randomPicture(1);
    std::istringstream text(formatPatternFile(picture));
    const std::vector<int> values{std::istream_iterator<int>(text), {}};
    ASSERT_EQ(values.size(), 3072u);
    for (int k = 0; k < 3072; ++k) {
        // Block d, plane (blue, green, red), row r, column c: from the cell turned there.
        const int d = k / 768, plane = k / 256 % 3, r = k / 16 % 16, c = k % 16;
        const int rows[4] = {r, c, 15 - r, 15 - c}, cols[4] = {c, 15 - r, 15 - c, r};
        ASSERT_EQ(values[k], picture.rgb[(rows[d] * 16 + cols[d]) * 3 + 2 - plane]) << k;
    }
}

TEST(PatternTool, PrintedMarkerGivesThePatternOfItsPictureAndLoads) {
    lumeko_test::TempDir dir;
    std::string error;
    ASSERT_EQ(writeImage(dir.file("picture.ppm"), randomPicture(11), 95, error), 0) << error;
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), std::string(LUMEKO_TOOLS_DIR) + "/lumeko-pattern");
        return lumeko_test::runProcess(dir.path(), args).status;
    };
    // A lossless print, 10 pixels a cell: the picture is found exactly.
    ASSERT_EQ(run({"picture.ppm", "--inner", "--pattern", "inner.pattern", "--print", "print.ppm",
                   "--print-size", "320"}),
              0);
    ASSERT_EQ(run({"print.ppm", "--pattern", "whole.pattern"}), 0);
    EXPECT_EQ(lumeko_test::readFile(dir.file("whole.pattern")),
              lumeko_test::readFile(dir.file("inner.pattern")));
    PatternSet set{};
    EXPECT_TRUE(arLoadPatternFile(set, dir.file("whole.pattern").c_str()).ok());
    EXPECT_EQ(run({"picture.ppm", "--inner"}), 1);                 // nothing to write
    EXPECT_EQ(run({"picture.ppm", "--pattern", "x.pattern"}), 1);  // no black border in it
}

}  // namespace
