#include "marker/square_candidates.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <span>
#include <vector>

#include "marker/edge_lines.h"
#include "marker/labeling.h"
#include "tests/marker/reference_labeling.h"
#include "tests/marker/test_frames.h"

namespace {

using lumeko_test::BLACK;
using lumeko_test::TestFrame;
using lumeko_test::WHITE;

LabelResult label(TestFrame& frame) {
    arInitLabeling(frame.width, frame.height);
    static LabelResult result;
    EXPECT_NE(arLabelImage(frame.image(), 100, &result), nullptr);
    return result;
}

std::span<const MarkerCandidate> findSquares(TestFrame& frame) {
    int n = 0;
    const MarkerCandidate* list =
        arDetectSquares(label(frame), REGION_AREA_MAX, REGION_AREA_MIN, SQUARE_FIT_FACTOR, &n);
    return {list, static_cast<size_t>(n)};
}

// Area, centroid x and y, box smallest and largest x, smallest and largest y.
std::array<double, 7> stats(const LabelResult& r, int i) {
    const RegionBox& b = r.boxes[i];
    return {1.0 * r.areas[i], r.centroids[i].x, r.centroids[i].y, 1.0 * b.minX,
            1.0 * b.maxX,     1.0 * b.minY,     1.0 * b.maxY};
}

// Corner contacts, merges, statistics and the unlabelled frame border are
// checked against the literal rules below; the threshold here.
TEST(Labeling, SumOfThreeTimesTheThresholdIsDarkAndOneMoreIsNot) {
    TestFrame frame(20, 10);
    const LabelResult bright = label(frame);
    EXPECT_EQ(bright.labelCount, 0);
    EXPECT_EQ(std::count(bright.labelImage, bright.labelImage + 200, 0), 200);
    frame.set(5, 5, {100, 100, 100});
    frame.set(10, 5, {100, 100, 101});
    frame.set(15, 5, {0, 45, 255});  // 300 in unequal parts
    const LabelResult r = label(frame);
    ASSERT_EQ(r.labelCount, 2);
    EXPECT_EQ(r.centroids[0].x + r.centroids[1].x, 5 + 15);
}

// The product merges classes with a smallest-root union-find; the rules say
// to rewrite the table. Both must give the same labels on any frame, and the
// statistics must be those of the final regions.
TEST(Labeling, MatchesTheTableRewriteOnRandomFrames) {
    std::mt19937 random(20261206);
    for (int round = 0; round < 40; round++) {
        const int w = 3 + random() % 90, h = 3 + random() % 70, dark = random() % 90 + 5;
        TestFrame frame(w, h);
        for (int i = 0; i < w * h; i++) {
            if (static_cast<int>(random() % 100) < dark) {
                frame.set(i % w, i / w, BLACK);  // often touching the frame's edge
            }
        }
        const LabelResult r = label(frame);
        const auto ref = lumeko_test::referenceLabelImage(frame.image(), 100, LABEL_MAX);
        ASSERT_EQ(r.labelCount, ref.labelCount) << round;
        ASSERT_TRUE(std::equal(ref.labelMap.begin(), ref.labelMap.end(), r.labelMap)) << round;
        std::vector<std::array<double, 7>> want(ref.labelCount, {0, 0, 0, 1.0 * w, 0, 1.0 * h, 0});
        for (int i = 0; i < w * h; i++) {
            ASSERT_EQ(r.labelImage[i], ref.labelImage[i]) << round;
            if (ref.labelImage[i] > 0) {
                auto& s = want[ref.labelMap[ref.labelImage[i] - 1] - 1];
                const double x = i % w, y = i / w;
                s = {s[0] + 1,          s[1] + x,          s[2] + y,         std::min(s[3], x),
                     std::max(s[4], x), std::min(s[5], y), std::max(s[6], y)};
            }
        }
        for (int l = 0; l < ref.labelCount; l++) {
            want[l][1] /= want[l][0], want[l][2] /= want[l][0];
            ASSERT_EQ(stats(r, l), want[l]) << round;
        }
    }
}

// 512 isolated dark pixels on every other row: 64 rows need exactly
// LABEL_MAX provisional labels, one pixel more fails the pass, and so does a
// frame larger than the storage was sized for.
TEST(Labeling, Label32768ReadsBackPositiveAndOneMoreOrAnOversizedFrameFails) {
    TestFrame frame(1026, 132);
    for (int i = 0; i < 64 * 512; i++) {
        frame.set(1 + 2 * (i % 512), 1 + 2 * (i / 512), BLACK);
    }
    const LabelResult r = label(frame);
    ASSERT_EQ(r.labelCount, LABEL_MAX);
    const int last = r.labelImage[127 * 1026 + 1023];
    EXPECT_EQ(last, LABEL_MAX);
    EXPECT_EQ(r.labelMap[last - 1], LABEL_MAX);
    EXPECT_EQ(stats(r, LABEL_MAX - 1), (std::array<double, 7>{1, 1023, 127, 1023, 1023, 127, 127}));
    frame.set(1, 129, BLACK);
    LabelResult untouched{};
    untouched.labelCount = -7;
    EXPECT_EQ(arLabelImage(frame.image(), 100, &untouched), nullptr);
    EXPECT_EQ(untouched.labelCount, -7);
    arInitLabeling(1920, 1080);
    TestFrame larger(2000, 1100);
    EXPECT_EQ(arLabelImage(larger.image(), 100, &untouched), nullptr);
    EXPECT_EQ(arInitLabeling(0, 10), -1);
}

TEST(SquareCandidates, AreaLimitsAreInclusiveAndBoxesMustStayClearOfTheBorder) {
    // x0, y0, w, h, white holes inside (same outline, less area), candidates.
    const int cases[12][6] = {
        {100, 100, 8, 10, 10, 1},     {100, 100, 8, 10, 11, 0},      // areas 70 and 69
        {100, 100, 401, 250, 250, 1}, {100, 100, 401, 250, 249, 0},  // 100,000 and 100,001
        {1, 200, 30, 30, 0, 0},       {2, 200, 30, 30, 0, 1},    // box reaching x = 1, one pixel in
        {609, 200, 30, 30, 0, 0},     {608, 200, 30, 30, 0, 1},  // x = W - 2
        {300, 1, 30, 30, 0, 0},       {300, 2, 30, 30, 0, 1},
        {300, 449, 30, 30, 0, 0},     {300, 448, 30, 30, 0, 1},  // y = H - 2
    };
    for (const auto& c : cases) {
        TestFrame frame(640, 480);
        frame.fillRect(c[0], c[1], c[2], c[3], BLACK);
        for (int i = 0; i < c[4]; i++) {
            frame.set(c[0] + 2 + i % (c[2] - 4), c[1] + 2 + i / (c[2] - 4), WHITE);
        }
        EXPECT_EQ(findSquares(frame).size(), c[5]) << c[0] << "," << c[1] << " " << c[4];
    }
}

TEST(SquareCandidates, OverlapsAndShapesWithOtherThanFourCorners) {
    TestFrame frame(640, 480);
    frame.fillRect(20, 20, 100, 100, BLACK);  // a square inside a square: the smaller goes
    frame.fillRect(40, 40, 60, 60, WHITE);
    frame.fillRect(55, 55, 30, 30, BLACK);
    frame.fillRect(150, 20, 50, 50, BLACK);  // a ring of 2500 - 1600 = 900 around a square of
    frame.fillRect(155, 25, 40, 40, WHITE);  // 900: of equal areas the first found goes
    frame.fillRect(160, 30, 30, 30, BLACK);
    frame.fillPolygon({{250, 150}, {400, 230}, {220, 220}}, BLACK);
    frame.fillPolygon({{616, 122}, {583, 223}, {477, 223}, {444, 122}, {530, 60}}, BLACK);
    // Traced from A (the top), turned to start at B, the point farthest from
    // A; the point farthest from B is A again, B's neighbour, so the square
    // test has to take its second search.
    const ImagePoint a{100, 300}, b{400, 360}, c{330, 400}, d{110, 350}, corners[4] = {b, c, d, a};
    frame.fillPolygon({a, b, c, d}, BLACK);
    const auto s = findSquares(frame);
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0].area, 10000 - 3600);
    EXPECT_EQ(std::pair(s[1].area, s[1].contourX[0]), std::pair(900, 189));  // the inner square
    for (int k = 0; k < 4; k++) {
        const int i = s[2].cornerIndex[k];
        EXPECT_LT(std::hypot(s[2].contourX[i] - corners[k].x, s[2].contourY[i] - corners[k].y), 2)
            << k;
    }
}

TEST(SquareCandidates, TheThirtyFirstSquareLookingRegionIsNeverTraced) {
    // A comb whose outline is longer than a contour may be: tracing it prints
    // a diagnostic.
    TestFrame frame(640, 480);
    frame.fillRect(100, 380, 300, 2, BLACK);
    for (int k = 0; k < 150; k++) {
        frame.fillRect(100 + 2 * k, 382, 1, 40, BLACK);
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(findSquares(frame).size(), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "??? 3\n");
    for (int k = 0; k < 31; k++) {
        frame.fillRect(20 + 70 * (k % 8), 20 + 60 * (k / 8), 14, 14, BLACK);
    }
    testing::internal::CaptureStdout();
    const auto s = findSquares(frame);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    ASSERT_EQ(s.size(), static_cast<size_t>(MARKER_MAX));
    EXPECT_EQ(s.back().centre.x, 20 + 70 * 5 + 6.5);  // the 30th square
    EXPECT_EQ(s.back().centre.y, 20 + 60 * 3 + 6.5);
}

const double CORNERS[5][2] = {{100, 100}, {300, 100}, {300, 260}, {100, 260}, {100, 100}};

// Fits the edges of the rectangle above, traced clockwise with counts[s]
// points on side s. The points the fit must leave out at each end (0.05 n +
// 0.5 of them: 5.5 of 100, 1.5 of 20, 0.65 of 3) are pushed 3 pixels inwards,
// so only the right stretches give the exact sides.
int fitRectangle(const int counts[4], ImagePoint vertices[4]) {
    const int from[4] = {5, 1, 0, 1}, to[4] = {93, 17, 1, 17};
    const double inwards[4][2] = {{0, 3}, {-3, 0}, {0, -3}, {3, 0}};
    std::vector<int32_t> xy[2];
    int32_t starts[5] = {0};
    for (int s = 0; s < 4; s++) {
        for (int k = s == 0 ? 0 : 1; k < counts[s]; k++) {
            const double t = static_cast<double>(k) / (counts[s] - 1);
            const bool out = k > 0 && k < counts[s] - 1 && (k < from[s] || k > to[s]);
            for (int axis = 0; axis < 2; axis++) {
                const double v = CORNERS[s][axis] * (1 - t) + CORNERS[s + 1][axis] * t;
                xy[axis].push_back(std::lround(v + (out ? inwards[s][axis] : 0)));
            }
        }
        starts[s + 1] = static_cast<int32_t>(xy[0].size()) - 1;
    }
    lumeko_test::useUndistortedCamera(640, 480);
    EdgeLine lines[4];
    return arFitEdgeLines(xy[0].data(), xy[1].data(), static_cast<int>(xy[0].size()), starts, lines,
                          vertices);
}

TEST(EdgeLines, SidesAreFittedToTheirTrimmedMiddleOnlyAndTwoPointsAreTooFew) {
    const int counts[4] = {100, 20, 3, 20}, tooFew[4] = {100, 20, 2, 20};
    ImagePoint vertices[4];
    ASSERT_EQ(fitRectangle(counts, vertices), 0);
    for (int j = 0; j < 4; j++) {  // corner j, where side j - 1 meets side j
        EXPECT_NEAR(vertices[j].x, CORNERS[j][0], 1e-9) << j;
        EXPECT_NEAR(vertices[j].y, CORNERS[j][1], 1e-9) << j;
    }
    EXPECT_EQ(fitRectangle(tooFew, vertices), -1);
}

}  // namespace
