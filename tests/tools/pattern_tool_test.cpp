#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <sstream>
#include <vector>

#include "marker/pattern.h"
#include "tests/support/test_support.h"
#include "tools/common/image_io.h"
#include "tools/pattern/marker_picture.h"

namespace {

const std::string PATTERN_TOOL = std::string(LUMEKO_TOOLS_DIR) + "/lumeko-pattern";

RgbImage randomPicture(unsigned seed) {
    std::mt19937 generator(seed);
    RgbImage picture = makeRgbImage(16, 16, 0, 0, 0);
    for (unsigned char& v : picture.rgb) {
        v = static_cast<unsigned char>(generator() % 256);
    }
    return picture;
}

std::vector<int> parseIntegers(const std::string& text) {
    std::istringstream in(text);
    std::vector<int> values;
    int v = 0;
    while (in >> v) {
        values.push_back(v);
    }
    return values;
}

// Where cell (r, c) of direction block d comes from in the upright picture,
// for a picture turned d quarter turns counter-clockwise.
void sourceCell(int d, int r, int c, int& sr, int& sc) {
    const int rows[4] = {r, c, 15 - r, 15 - c};
    const int cols[4] = {c, 15 - r, 15 - c, r};
    sr = rows[d];
    sc = cols[d];
}

TEST(PatternTool, DirectionBlocksAreThePictureTurnedCounterClockwise) {
    for (unsigned seed = 1; seed <= 3; ++seed) {
        const RgbImage picture = randomPicture(seed);
        const std::vector<int> values = parseIntegers(formatPatternFile(picture));
        ASSERT_EQ(values.size(), 3072u);
        size_t k = 0;
        for (int d = 0; d < 4; ++d) {
            for (int plane = 0; plane < 3; ++plane) {
                for (int r = 0; r < 16; ++r) {
                    for (int c = 0; c < 16; ++c, ++k) {
                        int sr = 0, sc = 0;
                        sourceCell(d, r, c, sr, sc);
                        // planes run blue, green, red; the picture holds red, green, blue
                        const int expected = picture.rgb[(sr * 16 + sc) * 3 + (2 - plane)];
                        ASSERT_EQ(values[k], expected)
                            << "d " << d << " plane " << plane << " cell " << r << "," << c;
                    }
                }
            }
        }
    }
}

TEST(PatternTool, FindsThePictureInsideAPrintedMarker) {
    const RgbImage picture = randomPicture(7);
    // 8 pixels a cell: the cells come back exactly.
    const RgbImage print = composePrintableMarker(picture, wholePicture(picture), 256, 40);
    ASSERT_EQ(print.width, 336);
    PictureRect inner;
    std::string error;
    ASSERT_EQ(findInnerPicture(print, inner, error), 0) << error;
    EXPECT_DOUBLE_EQ(inner.x0, 40 + 64);
    EXPECT_DOUBLE_EQ(inner.x1, 40 + 192);
    EXPECT_EQ(averageDown(print, inner, 16, 16).rgb, picture.rgb);

    // Sizes that do not divide into cells still come back close.
    const RgbImage odd = composePrintableMarker(picture, wholePicture(picture), 203, 17);
    ASSERT_EQ(findInnerPicture(odd, inner, error), 0) << error;
    const RgbImage cells = averageDown(odd, inner, 16, 16);
    int worst = 0;
    for (size_t i = 0; i < cells.rgb.size(); ++i) {
        worst = std::max(worst, std::abs(cells.rgb[i] - picture.rgb[i]));
    }
    EXPECT_LE(worst, 40);  // a cell shares at most a sliver with its neighbours
}

TEST(PatternTool, RejectsPicturesWithoutABlackBorderedSquare) {
    std::string error;
    PictureRect inner;
    EXPECT_EQ(findInnerPicture(makeRgbImage(64, 64, 255, 255, 255), inner, error), -1);
    RgbImage wide = makeRgbImage(100, 60, 255, 255, 255);
    for (int y = 10; y < 50; ++y) {
        for (int x = 10; x < 90; ++x) {
            wide.rgb[(y * 100 + x) * 3] = wide.rgb[(y * 100 + x) * 3 + 1] =
                wide.rgb[(y * 100 + x) * 3 + 2] = 0;
        }
    }
    EXPECT_EQ(findInnerPicture(wide, inner, error), -1);
    EXPECT_NE(error.find("not square"), std::string::npos);
}

TEST(PatternTool, CommandLineFromPrintedMarkerMatchesThePictureAndLoads) {
    lumeko_test::TempDir dir;
    std::string error;
    ASSERT_EQ(writeImage(dir.file("picture.ppm"), randomPicture(11), 95, error), 0) << error;
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), PATTERN_TOOL);
        return lumeko_test::runProcess(dir.path(), args);
    };
    auto fromPicture = run({"picture.ppm", "--inner", "--pattern", "inner.pattern", "--print",
                            "print.jpg", "--print-size", "320"});
    ASSERT_EQ(fromPicture.status, 0) << fromPicture.err;
    auto fromPrint = run({"print.jpg", "--pattern", "whole.pattern"});
    ASSERT_EQ(fromPrint.status, 0) << fromPrint.err;

    const std::vector<int> a = parseIntegers(lumeko_test::readFile(dir.file("inner.pattern")));
    const std::vector<int> b = parseIntegers(lumeko_test::readFile(dir.file("whole.pattern")));
    ASSERT_EQ(a.size(), 3072u);
    ASSERT_EQ(b.size(), 3072u);
    double meanError = 0.0;
    for (size_t i = 0; i < a.size(); ++i) {
        meanError += std::abs(a[i] - b[i]) / 3072.0;
    }
    EXPECT_LT(meanError, 4.0);  // JPEG loss, averaged over a cell

    EXPECT_GE(arLoadPattern(dir.file("whole.pattern").c_str()), 0);
    EXPECT_EQ(run({"picture.ppm", "--inner"}).status, 1);  // nothing to write
    EXPECT_EQ(run({"missing.jpg", "--pattern", "x.pattern"}).status, 1);
    EXPECT_EQ(run({"picture.ppm", "--pattern", "x.pattern"}).status, 1);  // no border in it
}

}  // namespace
