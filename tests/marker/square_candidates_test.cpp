#include "marker/square_candidates.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "marker/contour_trace.h"
#include "marker/labeling.h"
#include "tests/marker/test_frames.h"

namespace {

using lumeko_test::BLACK;
using lumeko_test::TestFrame;
using lumeko_test::WHITE;

struct Squares {
    const MarkerCandidate* list;
    int count;
};

Squares findSquares(TestFrame& frame) {
    arInitLabeling(frame.width, frame.height);
    static LabelResult labels;
    EXPECT_NE(arLabelImage(frame.image(), 100, &labels), nullptr);
    Squares s{};
    s.list = arDetectSquares(labels, REGION_AREA_MAX, REGION_AREA_MIN, SQUARE_FIT_FACTOR, &s.count);
    return s;
}

ImagePoint corner(const MarkerCandidate& c, int k) {
    const int i = c.cornerIndex[k];
    return ImagePoint{static_cast<double>(c.contourX[i]), static_cast<double>(c.contourY[i])};
}

double distance(ImagePoint p, ImagePoint q) {
    return std::hypot(p.x - q.x, p.y - q.y);
}

// A rectangle whose interior has `holes` white pixels: same outline, less area.
void rectangleWithHoles(TestFrame& frame, int x0, int y0, int w, int h, int holes) {
    frame.fillRect(x0, y0, w, h, BLACK);
    for (int i = 0; i < holes; i++) {
        frame.set(x0 + 2 + i % (w - 4), y0 + 2 + i / (w - 4), WHITE);
    }
}

TEST(SquareCandidates, AreaLimitsAreInclusive) {
    struct Case {
        int w, h, holes;
        bool candidate;
    } cases[] = {
        {8, 10, 10, true},       // 70
        {8, 10, 11, false},      // 69
        {401, 250, 250, true},   // 100,000
        {401, 250, 249, false},  // 100,001
    };
    for (const Case& c : cases) {
        TestFrame frame(640, 480);
        rectangleWithHoles(frame, 100, 100, c.w, c.h, c.holes);
        const Squares s = findSquares(frame);
        EXPECT_EQ(s.count, c.candidate ? 1 : 0) << c.w << "x" << c.h << " - " << c.holes;
    }
}

TEST(SquareCandidates, RectangleContourIsClosedClockwiseAndStartsAtACorner) {
    TestFrame frame(100, 80);
    frame.fillRect(20, 10, 30, 20, BLACK);
    const Squares s = findSquares(frame);
    ASSERT_EQ(s.count, 1);
    const MarkerCandidate& c = s.list[0];
    EXPECT_EQ(c.pointCount, 2 * 29 + 2 * 19 + 1);
    EXPECT_EQ(c.contourX[0], c.contourX[c.pointCount - 1]);
    EXPECT_EQ(c.contourY[0], c.contourY[c.pointCount - 1]);
    for (int i = 1; i < c.pointCount; i++) {
        ASSERT_LE(std::abs(c.contourX[i] - c.contourX[i - 1]), 1);
        ASSERT_LE(std::abs(c.contourY[i] - c.contourY[i - 1]), 1);
    }
    // The tracer starts at the top-left pixel; the contour is turned to the
    // pixel farthest from it, the bottom-right one, then runs clockwise.
    EXPECT_EQ(distance(corner(c, 0), {49, 29}), 0.0);
    EXPECT_EQ(distance(corner(c, 1), {20, 29}), 0.0);
    EXPECT_EQ(distance(corner(c, 2), {20, 10}), 0.0);
    EXPECT_EQ(distance(corner(c, 3), {49, 10}), 0.0);
    EXPECT_EQ(c.cornerIndex[4], c.pointCount - 1);
    EXPECT_EQ(c.area, 600);
    EXPECT_DOUBLE_EQ(c.centre.x, 34.5);
}

TEST(SquareCandidates, RegionsWhoseBoxReachesTheLabelledBorderAreNeverCandidates) {
    const int w = 200, h = 150;
    // x0, y0 of a 30 x 30 square: touching each border side, then one pixel in.
    const int touching[4][2] = {{1, 60}, {w - 31, 60}, {80, 1}, {80, h - 31}};
    for (const auto& p : touching) {
        TestFrame frame(w, h);
        frame.fillRect(p[0], p[1], 30, 30, BLACK);
        EXPECT_EQ(findSquares(frame).count, 0) << p[0] << "," << p[1];
        TestFrame inside(w, h);
        const int x0 = p[0] == 1 ? 2 : p[0] == w - 31 ? w - 32 : p[0];
        const int y0 = p[1] == 1 ? 2 : p[1] == h - 31 ? h - 32 : p[1];
        inside.fillRect(x0, y0, 30, 30, BLACK);
        EXPECT_EQ(findSquares(inside).count, 1) << x0 << "," << y0;
    }
}

TEST(SquareCandidates, SquareInsideASquareIsRemovedByTheOverlapRule) {
    TestFrame frame(300, 300);
    frame.fillRect(100, 100, 100, 100, BLACK);
    frame.fillRect(120, 120, 60, 60, WHITE);
    frame.fillRect(135, 135, 30, 30, BLACK);
    const Squares s = findSquares(frame);
    ASSERT_EQ(s.count, 1);
    EXPECT_EQ(s.list[0].area, 10000 - 3600);
}

TEST(SquareCandidates, OfTwoOverlappingCandidatesWithEqualAreasTheFirstFoundGoes) {
    TestFrame frame(300, 300);
    frame.fillRect(100, 100, 50, 50, BLACK);  // ring of 2500 - 1600 = 900
    frame.fillRect(105, 105, 40, 40, WHITE);
    frame.fillRect(110, 110, 30, 30, BLACK);  // square of 900 inside, same centre
    const Squares s = findSquares(frame);
    ASSERT_EQ(s.count, 1);
    EXPECT_EQ(s.list[0].area, 900);
    EXPECT_EQ(s.list[0].contourX[0], 139);  // the inner square's bottom-right pixel
}

TEST(SquareCandidates, TrianglesAndPentagonsAreRejectedQuadrilateralsAccepted) {
    const std::vector<ImagePoint> triangle{{100, 60}, {250, 230}, {40, 200}};
    std::vector<ImagePoint> pentagon;
    for (int k = 0; k < 5; k++) {
        const double a = 2 * M_PI * k / 5 + 0.3;
        pentagon.push_back({150 + 90 * std::cos(a), 150 + 90 * std::sin(a)});
    }
    const std::vector<ImagePoint> quad{{60, 80}, {230, 50}, {250, 220}, {80, 240}};
    const struct {
        const std::vector<ImagePoint>* shape;
        int expected;
    } cases[] = {{&triangle, 0}, {&pentagon, 0}, {&quad, 1}};
    for (const auto& c : cases) {
        TestFrame frame(320, 300);
        frame.fillPolygon(*c.shape, BLACK);
        EXPECT_EQ(findSquares(frame).count, c.expected) << c.shape->size() << " corners";
    }
}

TEST(SquareCandidates, ContourWhoseFarthestPointIsANeighbouringCornerIsAccepted) {
    // Traced from A (the top), turned to start at B, the point farthest from
    // A; the point farthest from B is then A again, B's neighbour, so the
    // square test has to take its second search.
    const ImagePoint a{100, 100}, b{400, 160}, c{330, 200}, d{110, 150};
    TestFrame frame(500, 300);
    frame.fillPolygon({a, b, c, d}, BLACK);
    const Squares s = findSquares(frame);
    ASSERT_EQ(s.count, 1);
    const MarkerCandidate& m = s.list[0];
    EXPECT_LT(distance(corner(m, 0), b), 2.0);
    EXPECT_LT(distance(corner(m, 1), c), 2.0);
    EXPECT_LT(distance(corner(m, 2), d), 2.0);
    EXPECT_LT(distance(corner(m, 3), a), 2.0);
}

TEST(SquareCandidates, TheThirtyFirstSquareLookingRegionIsNeverTraced) {
    // A comb whose outline is far longer than a contour may be: tracing it
    // prints a diagnostic.
    auto drawComb = [](TestFrame& frame) {
        frame.fillRect(100, 380, 300, 2, BLACK);
        for (int k = 0; k < 150; k++) {
            frame.fillRect(100 + 2 * k, 382, 1, 40, BLACK);
        }
    };
    TestFrame combOnly(640, 480);
    drawComb(combOnly);
    testing::internal::CaptureStdout();
    EXPECT_EQ(findSquares(combOnly).count, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "??? 3\n");

    TestFrame frame(640, 480);
    for (int k = 0; k < 31; k++) {
        frame.fillRect(20 + 70 * (k % 8), 20 + 60 * (k / 8), 14, 14, BLACK);
    }
    drawComb(frame);
    testing::internal::CaptureStdout();
    const Squares s = findSquares(frame);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    ASSERT_EQ(s.count, MARKER_MAX);
    EXPECT_EQ(s.list[MARKER_MAX - 1].centre.x, 20 + 70 * 5 + 6.5);  // the 30th square
    EXPECT_EQ(s.list[MARKER_MAX - 1].centre.y, 20 + 60 * 3 + 6.5);
}

TEST(FindVertices, SplitsOnlyAboveTheThresholdInContourOrderAndLimitsTheList) {
    const int32_t bentX[] = {0, 10, 20};
    const int32_t bentY[] = {0, 4, 0};  // middle point 4 pixels off the chord
    int corners[CORNER_SPLIT_MAX];
    int count = 0;
    EXPECT_EQ(arFindVertices(bentX, bentY, 0, 2, 16.0, corners, &count), 0);
    EXPECT_EQ(count, 0);  // squared distance 16 is not above 16
    EXPECT_EQ(arFindVertices(bentX, bentY, 0, 2, 15.9, corners, &count), 0);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(corners[0], 1);

    // Points on a half circle: every inner point is a corner.
    for (int e : {7, 8}) {
        std::vector<int32_t> xs, ys;
        for (int i = 0; i <= e; i++) {
            xs.push_back(static_cast<int32_t>(std::lround(100 * std::cos(M_PI * i / e))));
            ys.push_back(static_cast<int32_t>(std::lround(100 * std::sin(M_PI * i / e))));
        }
        count = 0;
        const int status = arFindVertices(xs.data(), ys.data(), 0, e, 1.0, corners, &count);
        if (e == 7) {
            ASSERT_EQ(status, 0);
            ASSERT_EQ(count, CORNER_SPLIT_MAX);
            for (int k = 0; k < count; k++) {
                EXPECT_EQ(corners[k], k + 1);
            }
        } else {
            EXPECT_EQ(status, -1);  // a seventh corner
        }
    }
}

}  // namespace
