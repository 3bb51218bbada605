#include "marker/square_candidates.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "marker/contour_trace.h"
#include "marker/edge_lines.h"
#include "marker/labeling.h"
#include "tests/marker/reference_labeling.h"
#include "tests/marker/test_frames.h"

namespace {

using lumeko_test::BLACK;
using lumeko_test::TestFrame;
using lumeko_test::WHITE;

// Labeling's and candidate detection's storage, sized for each frame.
struct Stages {
    std::unique_ptr<LabelStorage> labels = std::make_unique<LabelStorage>();
    std::unique_ptr<SquareStorage> squares = std::make_unique<SquareStorage>();
    LabelResult result{};

    Stages() { arInitSquareStorage(*squares, 1 << 16); }
    const LabelResult& label(TestFrame& frame) {
        EXPECT_EQ(arInitLabeling(*labels, frame.width, frame.height), 0);
        EXPECT_EQ(arLabelImage(*labels, frame.image(), 100, &result), LABEL_OK);
        return result;
    }
    std::span<const MarkerCandidate> findSquares(TestFrame& frame) {
        const int n = arDetectSquares(label(frame), REGION_AREA_MAX, REGION_AREA_MIN,
                                      SQUARE_FIT_FACTOR, *squares);
        return {squares->candidates, static_cast<size_t>(n)};
    }
};

// Area, centroid x and y, box smallest and largest x, smallest and largest y.
std::array<double, 7> stats(const LabelResult& r, int i) {
    const RegionBox& b = r.boxes[i];
    return {1.0 * r.areas[i], r.centroids[i].x, r.centroids[i].y, 1.0 * b.minX,
            1.0 * b.maxX,     1.0 * b.minY,     1.0 * b.maxY};
}

// Corner contacts, merges, statistics and the unlabelled frame border are
// checked against the literal rules below; the threshold here.
TEST(Labeling, SumOfThreeTimesTheThresholdIsDarkAndOneMoreIsNot) {
    Stages stages;
    TestFrame frame(20, 10);
    const LabelResult bright = stages.label(frame);
    EXPECT_EQ(bright.labelCount, 0);
    EXPECT_EQ(std::count(bright.labelImage, bright.labelImage + 200, 0), 200);
    frame.set(5, 5, {100, 100, 100});
    frame.set(10, 5, {100, 100, 101});
    frame.set(15, 5, {0, 45, 255});  // 300 in unequal parts
    const LabelResult r = stages.label(frame);
    ASSERT_EQ(r.labelCount, 2);
    EXPECT_EQ(r.centroids[0].x + r.centroids[1].x, 5 + 15);
}

// The statistics of the reference labeling's regions, from its pixels, and
// the result they make (pointing into `regions`).
struct ReferenceRegions {
    std::vector<int32_t> areas;
    std::vector<ImagePoint> centroids;
    std::vector<RegionBox> boxes;
    LabelResult result{};
};

void gatherReference(const lumeko_test::ReferenceLabels& ref, int w, int h, ReferenceRegions& out) {
    std::vector<std::array<int64_t, 3>> sums(ref.labelCount, {0, 0, 0});
    out.boxes.assign(ref.labelCount, RegionBox{w, 0, h, 0});
    for (int i = 0; i < w * h; i++) {
        if (ref.labelImage[i] > 0) {
            const int l = ref.labelMap[ref.labelImage[i] - 1] - 1, x = i % w, y = i / w;
            sums[l] = {sums[l][0] + 1, sums[l][1] + x, sums[l][2] + y};
            RegionBox& b = out.boxes[l];
            b = {std::min(b.minX, x), std::max(b.maxX, x), std::min(b.minY, y),
                 std::max(b.maxY, y)};
        }
    }
    for (const auto& [area, sumX, sumY] : sums) {
        out.areas.push_back(static_cast<int32_t>(area));
        out.centroids.push_back({1.0 * sumX / area, 1.0 * sumY / area});
    }
    out.result = {ref.labelImage.data(),
                  w,
                  h,
                  ref.labelCount,
                  ref.labelMap.data(),
                  out.areas.data(),
                  out.centroids.data(),
                  out.boxes.data()};
}

// Labels `frame` both ways and compares everything, bit for bit: the label
// image, the map to final labels, and each region's area, centroid and box.
void expectSameAsReference(Stages& stages, TestFrame& frame, int threshold, const char* what) {
    const int w = frame.width, h = frame.height;
    ASSERT_EQ(arInitLabeling(*stages.labels, w, h), 0);
    LabelResult r{};
    ASSERT_EQ(arLabelImage(*stages.labels, frame.image(), threshold, &r), LABEL_OK) << what;
    const auto ref = lumeko_test::referenceLabelImage(frame.image(), threshold, INT32_MAX);
    ASSERT_EQ(r.labelCount, ref.labelCount) << what;
    ASSERT_TRUE(std::equal(ref.labelImage.begin(), ref.labelImage.end(), r.labelImage)) << what;
    ASSERT_TRUE(std::equal(ref.labelMap.begin(), ref.labelMap.end(), r.labelMap)) << what;
    ReferenceRegions regions;
    gatherReference(ref, w, h, regions);
    for (int l = 0; l < ref.labelCount; l++) {
        ASSERT_EQ(stats(r, l), stats(regions.result, l)) << what << " region " << l;
    }
}

// The product merges classes with a smallest-root union-find, gathers
// statistics per provisional label and skips light pixels row by row; the
// rules say to rewrite the table on every merge. Both must give the same
// labels on any frame. Frames of every density, from single dots to nearly
// solid, many touching the border, dark and light one step either side of
// the threshold; widths across several 64-pixel words of the row mask, in
// one storage so that rows of a wider frame stay behind in it.
TEST(Labeling, MatchesTheTableRewriteOnThousandsOfRandomFrames) {
    Stages stages;
    std::mt19937 random(20261206);
    for (int round = 0; round < 3000; round++) {
        const int w = 3 + random() % 140, h = 3 + random() % 40, dark = random() % 96 + 2;
        TestFrame frame(w, h);
        for (int i = 0; i < w * h; i++) {
            const int grey = static_cast<int>(random() % 100) < dark ? 100 : 101;
            frame.set(i % w, i / w, {static_cast<unsigned char>(grey), 100, 100});
        }
        expectSameAsReference(stages, frame, 100, std::to_string(round).c_str());
    }
}

// Drawn frames: markers on a textured, noisy background at thresholds around
// Lumeko's. Labels and statistics as the reference gives them, and so the
// same square candidates.
TEST(Labeling, DrawnNoisyFramesGiveTheReferenceLabelsAndCandidates) {
    Stages stages;
    std::mt19937 random(7);
    int candidates = 0;
    for (int round = 0; round < 24; round++) {
        TestFrame frame(320, 240, lumeko_test::Colour{140, 150, 160});
        for (int i = 0; i < 12; i++) {
            const unsigned char g = static_cast<unsigned char>(90 + random() % 120);
            frame.fillRect(random() % 320, random() % 240, 20 + random() % 100, 10 + random() % 60,
                           {g, static_cast<unsigned char>(g + 10), g});
        }
        frame.drawMarker({80.5 + random() % 160, 60.5 + random() % 120}, 40 + random() % 60,
                         0.1 * (random() % 60), lumeko_test::randomPicture(round));
        frame.addNoise(round, static_cast<int>(random() % 90));
        const int threshold = 70 + static_cast<int>(random() % 60);
        const std::string what = std::to_string(round);
        expectSameAsReference(stages, frame, threshold, what.c_str());

        LabelResult r{};
        ASSERT_EQ(arLabelImage(*stages.labels, frame.image(), threshold, &r), LABEL_OK);
        const int n = arDetectSquares(r, REGION_AREA_MAX, REGION_AREA_MIN, SQUARE_FIT_FACTOR,
                                      *stages.squares);
        const std::vector<MarkerCandidate> product(stages.squares->candidates,
                                                   stages.squares->candidates + n);
        const auto ref = lumeko_test::referenceLabelImage(frame.image(), threshold, INT32_MAX);
        ReferenceRegions regions;
        gatherReference(ref, 320, 240, regions);
        ASSERT_EQ(arDetectSquares(regions.result, REGION_AREA_MAX, REGION_AREA_MIN,
                                  SQUARE_FIT_FACTOR, *stages.squares),
                  n)
            << what;
        for (int i = 0; i < n; i++) {
            const MarkerCandidate &a = product[i], &b = stages.squares->candidates[i];
            EXPECT_EQ(std::tie(a.area, a.centre.x, a.centre.y, a.pointCount),
                      std::tie(b.area, b.centre.x, b.centre.y, b.pointCount))
                << what << " candidate " << i;
            EXPECT_TRUE(std::equal(a.contourX, a.contourX + a.pointCount, b.contourX) &&
                        std::equal(a.contourY, a.contourY + a.pointCount, b.contourY) &&
                        std::equal(a.cornerIndex, a.cornerIndex + 5, b.cornerIndex))
                << what << " candidate " << i;
        }
        candidates += n;
    }
    EXPECT_GE(candidates, 12);  // most of the markers at least
}

// The bound in labeling.h, checked exhaustively on every binary frame with
// an inside of up to 4 x 4 pixels: no frame needs more labels, one needs
// exactly that many.
TEST(Labeling, NoFrameNeedsMoreLabelsThanTheBoundAndSomeNeedExactlyThat) {
    Stages stages;
    for (int w = 1; w <= 6; w++) {
        for (int h = 1; h <= 6; h++) {
            const int inside = std::max(w - 2, 0) * std::max(h - 2, 0);
            const int64_t bound = arLabelBound(w, h);
            ASSERT_EQ(arInitLabeling(*stages.labels, w, h, std::max<int32_t>(bound, 1)), 0);
            int most = 0;
            for (int bits = 0; bits < 1 << inside; bits++) {
                TestFrame frame(w, h);
                for (int i = 0; i < inside; i++) {
                    if (bits >> i & 1) {
                        frame.set(1 + i % (w - 2), 1 + i / (w - 2), BLACK);
                    }
                }
                LabelResult r{};
                ASSERT_EQ(arLabelImage(*stages.labels, frame.image(), 100, &r), LABEL_OK)
                    << w << "x" << h << " " << bits;
                most = std::max(most, *std::max_element(r.labelImage, r.labelImage + w * h));
            }
            EXPECT_EQ(most, bound) << w << "x" << h;
        }
    }
}

// Dark pixels at every odd x and y of a 640 x 480 inside: 319 x 239 labels,
// the bound, and more than 16 bits can hold. One label less of capacity
// fails the pass; so does a frame larger than the storage was sized for.
TEST(Labeling, TheBusiestFrameFitsAndASmallerCapacityOrAnOversizedFrameFails) {
    TestFrame frame(640, 480);
    for (int i = 0; i < 319 * 239; i++) {
        frame.set(1 + 2 * (i % 319), 1 + 2 * (i / 319), BLACK);
    }
    ASSERT_EQ(arLabelBound(640, 480), 319 * 239);
    ASSERT_EQ(arLabelBound(641, 481), 320 * 240);
    Stages stages;
    const LabelResult r = stages.label(frame);
    ASSERT_EQ(r.labelCount, 319 * 239);
    const int last = r.labelImage[477 * 640 + 637];
    EXPECT_EQ(last, 319 * 239);
    EXPECT_EQ(r.labelMap[last - 1], last);
    EXPECT_EQ(stats(r, last - 1), (std::array<double, 7>{1, 637, 477, 637, 637, 477, 477}));

    Stages tight;
    ASSERT_EQ(arInitLabeling(*tight.labels, 640, 480, 319 * 239 - 1), 0);
    LabelResult untouched{};
    untouched.labelCount = -7;
    EXPECT_EQ(arLabelImage(*tight.labels, frame.image(), 100, &untouched), LABEL_CAPACITY_EXCEEDED);
    EXPECT_EQ(untouched.labelCount, -7);
    frame.set(637, 477, lumeko_test::WHITE);  // one dot less fits
    EXPECT_EQ(arLabelImage(*tight.labels, frame.image(), 100, &untouched), LABEL_OK);
    TestFrame larger(641, 480);
    EXPECT_EQ(arLabelImage(*tight.labels, larger.image(), 100, &untouched), LABEL_BAD_FRAME);
    EXPECT_EQ(arInitLabeling(*tight.labels, 0, 10), -1);
    EXPECT_EQ(arInitLabeling(*tight.labels, 10, 10, -1), -1);
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
        for (int i = 0; i < c[4]; i++) {
            frame.set(c[0] + 2 + i % (c[2] - 4), c[1] + 2 + i / (c[2] - 4), WHITE);
        }
        EXPECT_EQ(stages.findSquares(frame).size(), c[5]) << c[0] << "," << c[1] << " " << c[4];
    }
}

TEST(SquareCandidates, OverlapsAndShapesWithOtherThanFourCorners) {
    Stages stages;
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
    const auto s = stages.findSquares(frame);
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
    Stages stages;  // (a contour too long to trace: the detector tests)
    TestFrame frame(640, 480);
    for (int k = 0; k < 31; k++) {
        frame.fillRect(20 + 70 * (k % 8), 20 + 60 * (k / 8), 14, 14, BLACK);
    }
    const auto s = stages.findSquares(frame);
    ASSERT_EQ(s.size(), static_cast<size_t>(MARKER_MAX));
    EXPECT_EQ(s.back().centre.x, 20 + 70 * 5 + 6.5);  // the 30th square
    EXPECT_EQ(s.back().centre.y, 20 + 60 * 3 + 6.5);
}

// A 40 x 40 square with a one-pixel spike 4 pixels tall on its top side,
// and white holes that leave `area` pixels. The spike's tip lies 4 pixels
// (squared: 16) off the side's chord; it splits the side when 16 exceeds
// area * 4/3 * 0.01: areas 1199 (15.99) and 1201 (16.01) fall either side.
TEST(SquareCandidates, ASpikeIsACornerJustWhenItPassesTheSplitThreshold) {
    for (const auto& [area, squares] : {std::pair{1201, 1u}, {1199, 0u}}) {
        Stages stages;
        TestFrame frame(640, 480);
        frame.fillRect(100, 100, 40, 40, BLACK);
        frame.fillRect(120, 96, 1, 4, BLACK);
        for (int i = 0; i < 1604 - area; i++) {
            frame.set(104 + i % 32, 104 + i / 32, WHITE);
        }
        const auto s = stages.findSquares(frame);
        ASSERT_EQ(stages.result.areas[0], area);
        EXPECT_EQ(s.size(), squares) << area;
    }
}

// A kite symmetric about x = 300: apex (300, 100), widest row y = 110 (the
// two wing tips, 1700 squared from the apex, the farthest points), bottom
// (300, 130). Traced clockwise from the apex, the right wing comes first and
// the contour starts there.
TEST(SquareCandidates, OfTwoFarthestPointsTheContourStartsAtTheFirstInTraceOrder) {
    Stages stages;
    TestFrame frame(640, 480);
    for (int y = 100; y <= 130; y++) {
        const int half = y <= 110 ? 4 * (y - 100) : 2 * (130 - y);
        frame.fillRect(300 - half, y, 2 * half + 1, 1, BLACK);
    }
    const auto s = stages.findSquares(frame);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(std::pair(s[0].contourX[0], s[0].contourY[0]), std::pair(340, 110));
}

// A 30 x 10 pixel rectangle traced clockwise from its top-left corner: sides
// of 30, 10, 30 and 10 points, corners included. The fit of a side of n
// points drops int(0.05 n + 0.5) at each end, an exact 2 and 1 here. The
// dropped points (the corners among them) are pushed 3 pixels inwards, the
// first and last kept ones 1 pixel outwards, so each fitted side lies 2 / m
// outside the true one (m points kept) only when exactly the right points
// are used.
TEST(EdgeLines, EachSideIsFittedToExactlyItsTrimmedMiddle) {
    const int corners[5][2] = {{100, 100}, {129, 100}, {129, 109}, {100, 109}, {100, 100}};
    const int outward[4][2] = {{0, -1}, {1, 0}, {0, 1}, {-1, 0}};
    auto fit = [&](const int counts[4], ImagePoint vertices[4]) {
        std::vector<int32_t> xy[2];
        int32_t cornerIndex[5] = {0};
        for (int s = 0; s < 4; s++) {
            const int n = counts[s], trim = (n + 10) / 20;  // int(0.05 n + 0.5)
            for (int k = s == 0 ? 0 : 1; k < n; k++) {
                const int corner = k == 0 ? s : k == n - 1 ? (s + 1) % 4 : -1;
                for (int axis = 0; axis < 2; axis++) {
                    const double t = static_cast<double>(k) / (n - 1);
                    int v = static_cast<int>(
                        std::lround(corners[s][axis] * (1 - t) + corners[s + 1][axis] * t));
                    if (corner >= 0) {
                        v -= 3 * (outward[(corner + 3) % 4][axis] + outward[corner][axis]);
                    } else if (k < trim || k > n - 1 - trim) {
                        v -= 3 * outward[s][axis];
                    } else if (k == trim || k == n - 1 - trim) {
                        v += outward[s][axis];
                    }
                    xy[axis].push_back(v);
                }
            }
            cornerIndex[s + 1] = static_cast<int32_t>(xy[0].size()) - 1;
        }
        const auto storage = std::make_unique<EdgeLineStorage>();
        EdgeLine lines[4];
        return arFitEdgeLines(lumeko_test::undistortedCamera(640, 480).distFactor, *storage,
                              xy[0].data(), xy[1].data(), cornerIndex, lines, vertices);
    };
    const int counts[4] = {30, 10, 30, 10};
    ImagePoint vertices[4];
    ASSERT_EQ(fit(counts, vertices), 0);
    const double shift[4] = {2.0 / 26, 2.0 / 8, 2.0 / 26, 2.0 / 8};  // 2 / points kept
    for (int j = 0; j < 4; j++) {  // corner j, where side j - 1 meets side j
        const int before = (j + 3) % 4;
        const double shiftBefore = shift[before], shiftAfter = shift[j];
        EXPECT_NEAR(vertices[j].x,
                    corners[j][0] + shiftBefore * outward[before][0] + shiftAfter * outward[j][0],
                    1e-9)
            << j;
        EXPECT_NEAR(vertices[j].y,
                    corners[j][1] + shiftBefore * outward[before][1] + shiftAfter * outward[j][1],
                    1e-9)
            << j;
    }
    const int tooFew[4] = {30, 10, 2, 10};  // two points, both dropped
    EXPECT_EQ(fit(tooFew, vertices), -1);
}

}  // namespace
