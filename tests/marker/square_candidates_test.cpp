#include "marker/square_candidates.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "marker/edge_lines.h"
#include "marker/labeling.h"
#include "marker/local_threshold.h"
#include "tests/marker/test_frames.h"

namespace {

using lumeko_test::BLACK;
using lumeko_test::Colour;
using lumeko_test::TestFrame;
using lumeko_test::WHITE;

// Labeling's and candidate detection's storage, sized for each frame.
struct Stages {
    std::unique_ptr<LabelStorage> labels = std::make_unique<LabelStorage>();
    std::unique_ptr<SquareStorage> squares = std::make_unique<SquareStorage>();
    LabelResult result{};

    Stages() { arInitSquareStorage(*squares, 1 << 16); }
    const LabelResult& label(TestFrame& frame, int threshold = 100) {
        EXPECT_EQ(arInitLabeling(*labels, frame.width, frame.height), MarkerStatus::Ok);
        EXPECT_EQ(arLabelImage(*labels, frame.image(), threshold, &result), MarkerStatus::Ok);
        return result;
    }
    std::span<const MarkerCandidate> findSquares(TestFrame& frame, bool robust = false) {
        const int n = arDetectSquares(label(frame), REGION_AREA_MAX, REGION_AREA_MIN,
                                      SQUARE_FIT_FACTOR, *squares, robust);
        return {squares->candidates, static_cast<size_t>(n)};
    }
};

// Area, centroid x and y, box smallest and largest x, smallest and largest y.
std::array<double, 7> stats(const LabelResult& r, int i) {
    const RegionBox& b = r.boxes[i];
    return {1.0 * r.areas[i], r.centroids[i].x, r.centroids[i].y, 1.0 * b.minX,
            1.0 * b.maxX,     1.0 * b.minY,     1.0 * b.maxY};
}

// A frame drawn from text, '#' dark.
TestFrame frameOf(const std::vector<std::string>& rows) {
    TestFrame frame(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()));
    for (size_t y = 0; y < rows.size(); y++) {
        for (size_t x = 0; x < rows[y].size(); x++) {
            if (rows[y][x] == '#')
                frame.set(static_cast<int>(x), static_cast<int>(y), BLACK);
        }
    }
    return frame;
}

// Hand-counted regions: a U whose arms start as two labels and merge at the
// bottom (through up-right and left), a staircase joined only through
// up-left neighbours (whose box must still grow to the right), a lone pixel;
// the frame's border is never labelled (the dark pixel at (0, 3) does not join
// the U). Regions are numbered in the order of their first pixel. Then one row
// crossing the row mask's 32- and 64-pixel steps: dots, a run over x = 64,
// and a pixel is dark when B + G + R <= 3 x threshold, in unequal parts too.
TEST(Labeling, HandCountedRegionsMergesAndRowWords) {
    Stages stages;
    TestFrame shapes = frameOf({"............", ".#...#..#...", ".#...#...#..", "###.##....#.",
                                "..###.......", ".........#..", "...........#"});
    const LabelResult& r = stages.label(shapes);
    ASSERT_EQ(r.labelCount, 3);
    EXPECT_EQ(stats(r, 0), (std::array<double, 7>{11, 3, 30.0 / 11, 1, 5, 1, 4}));
    EXPECT_EQ(stats(r, 1), (std::array<double, 7>{3, 9, 2, 8, 10, 1, 3}));
    EXPECT_EQ(stats(r, 2), (std::array<double, 7>{1, 9, 5, 9, 9, 5, 5}));
    std::string row(140, '.');
    for (int x : {1, 31, 33, 96, 138})
        row[x] = '#';
    row.replace(58, 13, 13, '#');
    TestFrame wide = frameOf({std::string(140, '.'), row, std::string(140, '.')});
    wide.set(100, 1, {100, 100, 100});
    wide.set(104, 1, {100, 100, 101});
    wide.set(108, 1, {0, 45, 255});
    const LabelResult& w = stages.label(wide);
    ASSERT_EQ(w.labelCount, 8);
    const double xs[8] = {1, 31, 33, 64, 96, 100, 108, 138};
    for (int l = 0; l < 8; l++)
        EXPECT_EQ(stats(w, l),
                  (std::array<double, 7>{l == 3 ? 13.0 : 1.0, xs[l], 1, l == 3 ? 58 : xs[l],
                                         l == 3 ? 70 : xs[l], 1, 1}))
            << l;
}

// Dark pixels at every odd x and y of a 640 x 480 inside: 319 x 239 labels,
// the bound (no two label-making pixels are 8-neighbours), more than 16 bits
// hold. One label less of capacity fails the pass (the result untouched); so
// does a frame larger than the storage.
TEST(Labeling, TheBusiestFrameFitsAndASmallerCapacityOrAnOversizedFrameFails) {
    TestFrame frame(640, 480);
    for (int i = 0; i < 319 * 239; i++)
        frame.set(1 + 2 * (i % 319), 1 + 2 * (i / 319), BLACK);
    Stages stages;
    const LabelResult r = stages.label(frame);
    ASSERT_EQ(r.labelCount, arLabelBound(640, 480));
    EXPECT_EQ(stats(r, r.labelCount - 1), (std::array<double, 7>{1, 637, 477, 637, 637, 477, 477}));
    Stages tight;
    ASSERT_EQ(arInitLabeling(*tight.labels, 640, 480, 319 * 239 - 1), MarkerStatus::Ok);
    LabelResult untouched{};
    untouched.labelCount = -7;
    EXPECT_EQ(arLabelImage(*tight.labels, frame.image(), 100, &untouched),
              MarkerStatus::CapacityExceeded);
    EXPECT_EQ(untouched.labelCount, -7);
    TestFrame larger(641, 480);
    EXPECT_EQ(arLabelImage(*tight.labels, larger.image(), 100, &untouched), MarkerStatus::BadFrame);
    EXPECT_EQ(arInitLabeling(*tight.labels, 0, 10), MarkerStatus::BadSize);
}

TEST(SquareCandidates, AreaLimitsAreInclusiveAndBoxesMustStayClearOfTheBorder) {
    Stages stages;
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
        for (int i = 0; i < c[4]; i++)
            frame.set(c[0] + 2 + i % (c[2] - 4), c[1] + 2 + i / (c[2] - 4), WHITE);
        EXPECT_EQ(stages.findSquares(frame).size(), c[5]) << c[0] << "," << c[1] << " " << c[4];
    }
}

// Of two candidates whose centres lie close together the smaller goes, of
// equal areas the first found; a triangle and a pentagon are no squares. The
// last quadrilateral is traced from A (the top) and turned to start at B, the
// point farthest from A; the point farthest from B is A again, B's neighbour,
// so the square test takes its second search. Only 30 candidates are kept.
TEST(SquareCandidates, OverlapsShapesWithOtherThanFourCornersAndTheCap) {
    Stages stages;
    TestFrame frame(640, 480);
    frame.fillRect(20, 20, 100, 100, BLACK);  // a square inside a square
    frame.fillRect(40, 40, 60, 60, WHITE);
    frame.fillRect(55, 55, 30, 30, BLACK);
    frame.fillRect(150, 20, 50, 50, BLACK);  // a ring of 2500 - 1600 = 900 around a square of 900
    frame.fillRect(155, 25, 40, 40, WHITE);
    frame.fillRect(160, 30, 30, 30, BLACK);
    frame.fillPolygon({{250, 150}, {400, 230}, {220, 220}}, BLACK);
    frame.fillPolygon({{616, 122}, {583, 223}, {477, 223}, {444, 122}, {530, 60}}, BLACK);
    const ImagePoint a{100, 300}, b{400, 360}, c{330, 400}, d{110, 350}, corners[4] = {b, c, d, a};
    frame.fillPolygon({a, b, c, d}, BLACK);
    const auto s = stages.findSquares(frame);
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0].area, 10000 - 3600);
    EXPECT_EQ(std::pair(s[1].area, s[1].contourX[0]), std::pair(900, 189));  // the inner square
    for (int k = 0; k < 4; k++) {
        const int i = s[2].cornerIndex[k];
        EXPECT_LT(std::hypot(s[2].contourX[i] - corners[k].x, s[2].contourY[i] - corners[k].y), 2);
    }
    TestFrame many(640, 480);
    for (int k = 0; k < 31; k++)
        many.fillRect(20 + 70 * (k % 8), 20 + 60 * (k / 8), 14, 14, BLACK);
    const auto capped = stages.findSquares(many);
    ASSERT_EQ(capped.size(), static_cast<size_t>(MARKER_MAX));
    EXPECT_EQ(capped.back().centre.x, 20 + 70 * 5 + 6.5);  // the 30th square
}

// A 40 x 40 square with a one-pixel spike 4 pixels tall on its top side, and
// white holes that leave `area` pixels: the spike's tip lies 4 pixels
// (squared: 16) off the side's chord and splits the side when 16 exceeds
// area * 4/3 * 0.01: areas 1199 (15.99) and 1201 (16.01) fall either side.
TEST(SquareCandidates, ASpikeSplitsASideJustPastTheThreshold) {
    for (const auto& [area, squares] : {std::pair{1201, 1u}, {1199, 0u}}) {
        Stages stages;
        TestFrame frame(640, 480);
        frame.fillRect(100, 100, 40, 40, BLACK);
        frame.fillRect(120, 96, 1, 4, BLACK);
        for (int i = 0; i < 1604 - area; i++)
            frame.set(104 + i % 32, 104 + i / 32, WHITE);
        const auto s = stages.findSquares(frame);
        ASSERT_EQ(stages.result.areas[0], area);
        EXPECT_EQ(s.size(), squares) << area;
    }
}

// With robust sides, a triangle whose base bends outward at its middle and
// whose right side has a dent 30 % along it: five corners, so never a plain
// square. The dent turns against the outline and goes first; the base's bend
// stays a corner only when it turns the outline by ROBUST_TURN_MIN or more
// (a sine of 0.53 at 32 degrees, not 0.31 at 18).
TEST(SquareCandidates, RobustSidesKeepOnlyCornersThatTurnEnough) {
    for (const auto& [turnDegrees, squares] : {std::pair{32.0, 1u}, {18.0, 0u}}) {
        const double bend = 300.0 * std::tan(turnDegrees * M_PI / 360.0);
        TestFrame frame(640, 480);
        frame.fillPolygon({{20, 300}, {320, 300 + bend}, {620, 300}, {508, 273}, {320, 100}},
                          BLACK);
        Stages stages;
        EXPECT_EQ(stages.findSquares(frame).size(), 0u) << turnDegrees;
        EXPECT_EQ(stages.findSquares(frame, true).size(), squares) << turnDegrees;
    }
}

// With robust sides, a 200 px square turned 0.2 radians with discs over
// its left side (centred on it, at a share of the way along it, with a
// radius as a share of its side), dark (merged into the square) or white
// (cutting into it): found, its corners fitted to the sides without the
// discs, where the side runs along its chord from each end for a tenth of
// it or more, for 40 % of it in all, and strays to one side only, inwards
// by no more than a border's width.
TEST(SquareCandidates, RobustSidesTakeASideInterruptedInItsMiddle) {
    struct Disc {
        double along, radius;
        Colour colour;
        double out = 0;  // its centre beyond the side, as a share of the side
    };
    const struct {
        const char* name;
        std::vector<Disc> discs;
        bool found;
    } cases[] = {
        {"dark over 44 %", {{0.5, 0.22, BLACK}}, true},
        // Standing out near a corner, the disc turns the outline more than
        // that corner does.
        {"dark, standing out near a corner", {{0.72, 0.15, BLACK, 0.12}}, true},
        {"white over 44 %", {{0.5, 0.22, WHITE}}, true},
        {"dark over 56 %", {{0.5, 0.28, BLACK}}, true},
        {"dark over 66 %", {{0.5, 0.33, BLACK}}, false},
        {"white cutting deeper than a border", {{0.5, 0.28, WHITE, -0.05}}, false},
        {"white from 3 % to 43 %", {{0.23, 0.2, WHITE}}, false},
        {"dark then white", {{0.35, 0.13, BLACK}, {0.65, 0.13, WHITE}}, false},
    };
    const CameraParam camera = lumeko_test::undistortedCamera(640, 480);
    auto edges = std::make_unique<EdgeLineStorage>();
    ImagePoint corners[4];
    for (int k = 0; k < 4; k++) {
        const double a = 0.2 + M_PI / 4 + k * M_PI / 2;
        corners[k] = {320 + 100 * M_SQRT2 * std::cos(a), 240 + 100 * M_SQRT2 * std::sin(a)};
    }
    for (const auto& c : cases) {
        TestFrame frame(640, 480);
        frame.fillPolygon({corners[0], corners[1], corners[2], corners[3]}, BLACK);
        for (const Disc& d : c.discs) {
            const ImagePoint at{corners[1].x + d.along * (corners[2].x - corners[1].x) +
                                    d.out * (corners[1].x - corners[0].x),
                                corners[1].y + d.along * (corners[2].y - corners[1].y) +
                                    d.out * (corners[1].y - corners[0].y)};
            std::vector<ImagePoint> rim;
            for (int k = 0; k < 72; k++)
                rim.push_back({at.x + 200 * d.radius * std::cos(k * M_PI / 36),
                               at.y + 200 * d.radius * std::sin(k * M_PI / 36)});
            frame.fillPolygon(rim, d.colour);
        }
        Stages stages;
        const auto s = stages.findSquares(frame, true);
        ASSERT_EQ(s.size(), c.found ? 1u : 0u) << c.name;
        if (!c.found)
            continue;
        const auto offBy = [&](ImagePoint p) {
            double nearest = INFINITY;
            for (const ImagePoint& q : corners)
                nearest = std::min(nearest, std::hypot(p.x - q.x, p.y - q.y));
            return nearest;
        };
        EdgeLine lines[4];
        ImagePoint fitted[4];
        ASSERT_EQ(arFitEdgeLines(camera.distFactor, *edges, s[0], lines, fitted, true),
                  MarkerStatus::Ok);
        for (int k = 0; k < 4; k++) {
            const int i = s[0].cornerIndex[k];
            // The outline's corners place the pattern; the sides' lines, the pose.
            EXPECT_LT(offBy({1.0 * s[0].contourX[i], 1.0 * s[0].contourY[i]}), 5) << c.name;
            EXPECT_LT(offBy(fitted[k]), 1) << c.name;
        }
    }
}

// Squares with a dented side (robust only) fill the list in label order
// before a plain square below them is reached, unless plain squares come
// first: the plain one must be kept.
TEST(SquareCandidates, DentedSquaresNeverCrowdOutAPlainOne) {
    TestFrame frame(640, 480);
    for (int k = 0; k < MARKER_MAX + 1; k++) {
        const int x = 20 + 70 * (k % 8), y = 20 + 60 * (k / 8);
        frame.fillRect(x, y, 40, 40, BLACK);
        frame.fillRect(x + 17, y, 6, 6, WHITE);
    }
    frame.fillRect(300, 400, 40, 40, BLACK);
    Stages stages;
    ASSERT_EQ(stages.findSquares(frame).size(), 1u);
    const auto s = stages.findSquares(frame, true);
    ASSERT_EQ(s.size(), static_cast<size_t>(MARKER_MAX));
    EXPECT_EQ(s[0].centre.y, 419.5);
    EXPECT_LT(s[1].centre.y, 60);  // then the dented squares of the first row
}

// Local limits on a grey frame (600 = 3 x 200) of 16 x 10 tiles of 4 pixels
// with one black tile at (8, 5): a window that holds it (clipped to the frame)
// takes the limit near its least, 10/16 of the way to the mean; one that does
// not, 13/16 of the mean less 9. Narrow windows reach 2 tiles each way, wide 6.
TEST(LocalThreshold, LimitsFollowTheWindowsMeanAndLeast) {
    TestFrame frame(64, 40, {200, 200, 200});
    frame.fillRect(32, 20, 4, 4, BLACK);
    LocalThresholdStorage storage;
    ASSERT_EQ(arInitLocalThreshold(storage, 64, 40), MarkerStatus::Ok);
    ASSERT_EQ(std::pair(storage.tilesX, storage.tilesY), std::pair(16, 10));
    // window, tile x, y, its limit: 576 * 10 / 16 = 360 of 25 tiles, 592 * 10 / 16 = 370
    // of 8 x 10, 600 * 13 / 16 - 9 = 478 without the black tile.
    constexpr int N = LOCAL_WINDOW_NARROW, W = LOCAL_WINDOW_WIDE;
    const int cases[][4] = {{N, 6, 5, 360},  {N, 10, 5, 360}, {N, 8, 3, 360}, {N, 8, 7, 360},
                            {N, 5, 5, 478},  {N, 11, 5, 478}, {N, 8, 2, 478}, {N, 0, 0, 478},
                            {W, 14, 5, 370}, {W, 15, 5, 478}};
    for (const auto& [window, x, y, limit] : cases) {
        arTileLevels(storage, frame.image());
        arLocalThresholds(storage, window);
        EXPECT_EQ(storage.tileLimits[y * 16 + x], limit) << window << ": " << x << "," << y;
    }
}

}  // namespace
