#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "marker/edge_lines.h"
#include "marker/labeling.h"
#include "marker/pattern.h"
#include "marker/pattern_extract.h"
#include "marker/pattern_match.h"
#include "marker/square_candidates.h"
#include "tests/marker/test_frames.h"
#include "tests/support/test_support.h"

// Direction convention, as confirmed by MarkerTurnedOnTheScreen below.
//
// Block 0 of a pattern file is the picture as printed, upright, top row
// first; block d is it turned d x 90 degrees counter-clockwise. A marker
// matches direction d when its corner vertices[(4 - d) % 4] (the first
// "marker-ordered" corner, the one pose estimation puts at (-w/2, +w/2)) is
// the top-left corner of the upright picture. The sampled pattern image is
// read from vertices[0], rows towards vertices[3] and columns towards
// vertices[1].
//
// For an axis-aligned square the contour starts at its bottom-right corner
// (the point farthest from the top-left pixel where tracing starts) and runs
// clockwise, so vertices 0..3 are bottom-right, bottom-left, top-left,
// top-right. A marker drawn upright then matches direction 2; turned 90
// degrees counter-clockwise on the screen, direction 3; turned 180, 0;
// turned 270, 1.

namespace {

using lumeko_test::Picture;
using lumeko_test::TestFrame;

class Patterns : public testing::Test {
  protected:
    void SetUp() override { lumeko_test::useUndistortedCamera(640, 480); }

    int load(const std::string& text) {
        const std::string path = dir.file("pattern" + std::to_string(files++) + ".txt");
        lumeko_test::writeFile(path, text);
        return arLoadPattern(path.c_str());
    }

    lumeko_test::TempDir dir;
    int files = 0;
};

PatternImage imageOf(const Picture& picture) {
    PatternImage image{};
    for (int r = 0; r < 16; r++) {
        for (int c = 0; c < 16; c++) {
            const lumeko_test::Colour& cell = picture.cells[r][c];
            image.values[(r * 16 + c) * 3 + 0] = cell.b;
            image.values[(r * 16 + c) * 3 + 1] = cell.g;
            image.values[(r * 16 + c) * 3 + 2] = cell.r;
        }
    }
    return image;
}

TEST_F(Patterns, LoadErrorsAreReportedAndLeaveTheSlotFree) {
    const std::string good = lumeko_test::patternFileText(lumeko_test::randomPicture(11));
    const std::string missing = dir.file("missing.pat");
    testing::internal::CaptureStdout();
    EXPECT_EQ(arLoadPattern(missing.c_str()), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\"" + missing + "\" not found!!\n");

    const int first = load(good);
    ASSERT_GE(first, 0);
    const std::string shortFile = good.substr(0, good.rfind(' '));  // 3071 values
    std::string badToken = good;
    badToken.replace(badToken.find(' ', 4000) + 1, 1, "x");
    for (const std::string& text : {shortFile, badToken}) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(load(text), -1);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Pattern Data read error!!\n");
    }
    const int second = load(good);
    EXPECT_EQ(second, first + 1);
    // Each slot keeps its own copy.
    const PatternSet& set = arPatternSet();
    EXPECT_EQ(set.templateNorms[first][2], set.templateNorms[second][2]);
    EXPECT_EQ(set.templates[first][3][700], set.templates[second][3][700]);
}

TEST_F(Patterns, TemplatesAreInvertedMeanRemovedAndAUniformBlockGetsTheNormFloor) {
    const Picture picture = lumeko_test::randomPicture(12);
    std::string text = lumeko_test::patternFileText(picture);
    // Replace direction block 0 by 768 values of 77.
    std::string flat;
    for (int i = 0; i < 768; i++) {
        flat += "77 ";
    }
    size_t cut = 0;
    for (int i = 0; i < 768; i++) {
        cut = text.find_first_of(" \n", cut) + 1;
    }
    const int slot = load(flat + text.substr(cut));
    ASSERT_GE(slot, 0);
    const PatternSet& set = arPatternSet();
    EXPECT_EQ(set.templateNorms[slot][0], PATTERN_NORM_FLOOR);
    for (int k = 0; k < PATTERN_VALUES; k++) {
        ASSERT_EQ(set.templates[slot][0][k], 0);
    }
    // Block 1: 255 - v with its own integer mean removed.
    const Picture turned = lumeko_test::turnPicture(picture, 1);
    int total = 0;
    for (const auto& row : turned.cells) {
        for (const auto& cell : row) {
            total += (255 - cell.b) + (255 - cell.g) + (255 - cell.r);
        }
    }
    const int mean = total / 768;
    EXPECT_EQ(set.templates[slot][1][(2 * 16 + 5) * 3 + 1], 255 - turned.cells[2][5].g - mean);
    double squares = 0;
    for (int k = 0; k < PATTERN_VALUES; k++) {
        squares += static_cast<double>(set.templates[slot][1][k]) * set.templates[slot][1][k];
    }
    EXPECT_DOUBLE_EQ(set.templateNorms[slot][1], std::sqrt(squares));
}

TEST_F(Patterns, EachBlockOfTheFileMatchesItsOwnDirection) {
    const Picture picture = lumeko_test::randomPicture(13);
    const int slot = load(lumeko_test::patternFileText(picture));
    ASSERT_GE(slot, 0);
    for (int d = 0; d < 4; d++) {
        int id = -9, direction = -9;
        double confidence = 0;
        EXPECT_EQ(arMatchPattern(imageOf(lumeko_test::turnPicture(picture, d)), &id, &direction,
                                 &confidence),
                  0);
        EXPECT_EQ(id, slot);
        EXPECT_EQ(direction, d);
        EXPECT_NEAR(confidence, 1.0, 1e-12);
    }
}

TEST_F(Patterns, UniformPatternImageHasConfidenceMinusOne) {
    PatternImage image{};
    for (unsigned char& v : image.values) {
        v = 40;
    }
    int id = -9, direction = -9;
    double confidence = 0;
    EXPECT_EQ(arMatchPattern(image, &id, &direction, &confidence), -1);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(direction, 0);
    EXPECT_EQ(confidence, -1.0);
}

TEST(PatternSampling, SidesUpTo32PixelsGet16SamplesUpTo64Get32AboveThat64) {
    EXPECT_EQ(arPatternSampleCount(20 * 20), 16);
    EXPECT_EQ(arPatternSampleCount(32 * 32), 16);
    EXPECT_EQ(arPatternSampleCount(33 * 33), 32);
    EXPECT_EQ(arPatternSampleCount(50 * 50), 32);
    EXPECT_EQ(arPatternSampleCount(64 * 64), 32);
    EXPECT_EQ(arPatternSampleCount(65 * 65), 64);
    EXPECT_EQ(arPatternSampleCount(200 * 200), 64);
    EXPECT_EQ(arPatternSampleCount(2000 * 2000), 64);
}

// A candidate whose interior alternates black and white pixel columns: one
// sample per cell reads a single column, more samples average them.
TEST_F(Patterns, SamplesPerCellFollowTheCandidateSize) {
    TestFrame frame(640, 480);
    for (int x = 0; x < 640; x += 2) {
        frame.fillRect(x, 0, 1, 480, lumeko_test::BLACK);
    }
    const struct {
        int width;
        bool averaged;
    } cases[] = {{20, false}, {50, true}, {200, true}};
    for (const auto& c : cases) {
        const int32_t xs[5] = {100, 100 + c.width, 100 + c.width, 100, 100};
        const int32_t ys[5] = {100, 100, 100 + c.width, 100 + c.width, 100};
        const int32_t corners[5] = {0, 1, 2, 3, 4};
        PatternImage image;
        ASSERT_EQ(arExtractPattern(frame.image(), xs, ys, corners, &image), 0);
        int mixed = 0;
        for (unsigned char v : image.values) {
            mixed += v != 0 && v != 255;
        }
        EXPECT_EQ(mixed > 0, c.averaged) << c.width;
    }
}

TEST_F(Patterns, SamplesOutsideTheFrameAddNothing) {
    TestFrame frame(640, 480, lumeko_test::Colour{9, 9, 9});
    const int32_t xs[5] = {-300, -100, -100, -300, -300};
    const int32_t ys[5] = {100, 100, 300, 300, 100};
    const int32_t corners[5] = {0, 1, 2, 3, 4};
    PatternImage image;
    ASSERT_EQ(arExtractPattern(frame.image(), xs, ys, corners, &image), 0);
    for (unsigned char v : image.values) {
        ASSERT_EQ(v, 0);
    }
}

TEST_F(Patterns, CornersWithoutAHomographyGiveNoIdentity) {
    TestFrame frame(640, 480);
    const int32_t xs[5] = {100, 150, 200, 250, 100};
    const int32_t ys[5] = {100, 100, 100, 100, 100};  // all on one line: singular system
    const int32_t corners[5] = {0, 1, 2, 3, 4};
    int id = 5, direction = 5;
    double confidence = 5;
    EXPECT_EQ(arPatternCode(frame.image(), xs, ys, corners, &id, &direction, &confidence), 0);
    EXPECT_EQ(id, -1);
    EXPECT_EQ(direction, -1);
    EXPECT_EQ(confidence, 0.0);
}

struct Identified {
    MarkerInfo marker;
    bool found;
};

// Runs labeling, candidates, edge fit and pattern code on the largest candidate.
Identified identifyLargest(TestFrame& frame) {
    static LabelResult labels;
    EXPECT_NE(arLabelImage(frame.image(), 100, &labels), nullptr);
    int count = 0;
    const MarkerCandidate* list =
        arDetectSquares(labels, REGION_AREA_MAX, REGION_AREA_MIN, SQUARE_FIT_FACTOR, &count);
    Identified result{};
    const MarkerCandidate* best = nullptr;
    for (int i = 0; i < count; i++) {
        if (best == nullptr || list[i].area > best->area) {
            best = &list[i];
        }
    }
    if (best == nullptr ||
        arFitEdgeLines(best->contourX, best->contourY, best->pointCount, best->cornerIndex,
                       result.marker.edgeLines, result.marker.vertices) < 0) {
        return result;
    }
    arPatternCode(frame.image(), best->contourX, best->contourY, best->cornerIndex,
                  &result.marker.id, &result.marker.direction, &result.marker.confidence);
    result.found = true;
    return result;
}

TEST_F(Patterns, MarkerTurnedOnTheScreenMatchesTheDirectionOfItsTopLeftCorner) {
    const Picture picture = lumeko_test::randomPicture(14);
    const int slot = load(lumeko_test::patternFileText(picture));
    ASSERT_GE(slot, 0);
    const ImagePoint centre{320.5, 240.5};
    const double side = 128;
    const struct {
        double degrees;
        int direction;  // -1: not fixed by the drawing
    } cases[] = {{0, 2}, {90, 3}, {180, 0}, {270, 1}, {20, -1}, {135, -1}, {250, -1}};
    for (const auto& c : cases) {
        TestFrame frame(640, 480);
        const double angle = c.degrees * M_PI / 180;
        frame.drawMarker(centre, side, angle, picture);
        const Identified got = identifyLargest(frame);
        ASSERT_TRUE(got.found) << c.degrees;
        EXPECT_EQ(got.marker.id, slot) << c.degrees;
        EXPECT_GT(got.marker.confidence, 0.9) << c.degrees;
        if (c.direction >= 0) {
            EXPECT_EQ(got.marker.direction, c.direction) << c.degrees;
        }
        ASSERT_GE(got.marker.direction, 0);
        const ImagePoint topLeft = lumeko_test::markerPoint(centre, side, angle, -0.5, -0.5);
        const ImagePoint& first = got.marker.vertices[(4 - got.marker.direction) % 4];
        EXPECT_LT(std::hypot(first.x - topLeft.x, first.y - topLeft.y), 1.5) << c.degrees;
    }
}

TEST_F(Patterns, MarkerWithAUniformInteriorHasConfidenceMinusOne) {
    TestFrame frame(640, 480);
    std::vector<ImagePoint> outer, inner;
    for (double u : {-0.5, 0.5}) {
        for (double v : {-0.5, 0.5}) {
            const double uu = v < 0 ? u : -u;  // around the square
            outer.push_back(lumeko_test::markerPoint({300, 200}, 100, 0.3, uu, v));
            inner.push_back(lumeko_test::markerPoint({300, 200}, 60, 0.3, uu, v));
        }
    }
    frame.fillPolygon(outer, lumeko_test::BLACK);
    frame.fillPolygon(inner, lumeko_test::WHITE);
    const Identified got = identifyLargest(frame);
    ASSERT_TRUE(got.found);
    EXPECT_EQ(got.marker.id, 0);
    EXPECT_EQ(got.marker.direction, 0);
    EXPECT_EQ(got.marker.confidence, -1.0);
}

}  // namespace
