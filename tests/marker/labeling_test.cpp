#include "marker/labeling.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/marker/reference_labeling.h"
#include "tests/marker/test_frames.h"

namespace {

using lumeko_test::BLACK;
using lumeko_test::Colour;
using lumeko_test::TestFrame;

LabelResult labelOrFail(TestFrame& frame, int threshold = 100) {
    arInitLabeling(frame.width, frame.height);
    LabelResult result{};
    EXPECT_NE(arLabelImage(frame.image(), threshold, &result), nullptr);
    return result;
}

int finalLabelAt(const LabelResult& r, int x, int y) {
    const int p = r.labelImage[y * r.width + x];
    return p > 0 ? r.labelMap[p - 1] : 0;
}

TEST(Labeling, AllBrightFrameHasNoRegionsAndAZeroLabelImage) {
    TestFrame frame(40, 30);
    const LabelResult r = labelOrFail(frame);
    EXPECT_EQ(r.labelCount, 0);
    for (int i = 0; i < 40 * 30; i++) {
        ASSERT_EQ(r.labelImage[i], 0);
    }
}

TEST(Labeling, SumOfThreeTimesTheThresholdIsDarkAndOneMoreIsNot) {
    TestFrame frame(20, 10);
    frame.set(5, 5, Colour{100, 100, 100});   // 300
    frame.set(10, 5, Colour{100, 100, 101});  // 301
    frame.set(15, 5, Colour{0, 45, 255});     // 300 in unequal parts
    const LabelResult r = labelOrFail(frame);
    EXPECT_EQ(r.labelCount, 2);
    EXPECT_GT(finalLabelAt(r, 5, 5), 0);
    EXPECT_EQ(finalLabelAt(r, 10, 5), 0);
    EXPECT_GT(finalLabelAt(r, 15, 5), 0);
}

TEST(Labeling, PixelsTouchingOnlyAtACornerFormOneRegion) {
    TestFrame frame(20, 20);
    frame.set(5, 5, BLACK);
    frame.set(6, 6, BLACK);   // down-right of the first
    frame.set(5, 7, BLACK);   // down-left of the second
    frame.set(10, 5, BLACK);  // apart
    const LabelResult r = labelOrFail(frame);
    ASSERT_EQ(r.labelCount, 2);
    EXPECT_EQ(r.areas[0], 3);
    EXPECT_EQ(r.areas[1], 1);
    EXPECT_EQ(r.boxes[0].maxY, 7);
}

TEST(Labeling, UShapeMergedInALowerRowIsOneRegionWithCombinedStatistics) {
    TestFrame frame(30, 30);
    frame.fillRect(5, 5, 3, 10, BLACK);   // left arm, x 5..7, y 5..14
    frame.fillRect(15, 3, 3, 12, BLACK);  // right arm, taller, x 15..17, y 3..14
    frame.fillRect(5, 15, 13, 2, BLACK);  // bottom joining them, y 15..16
    const LabelResult r = labelOrFail(frame);
    ASSERT_EQ(r.labelCount, 1);
    const int area = 30 + 36 + 26;
    EXPECT_EQ(r.areas[0], area);
    double sx = 0, sy = 0;
    for (int y = 0; y < 30; y++) {
        for (int x = 0; x < 30; x++) {
            if (frame.at(x, y).b == 0) {
                sx += x;
                sy += y;
            }
        }
    }
    EXPECT_DOUBLE_EQ(r.centroids[0].x, sx / area);
    EXPECT_DOUBLE_EQ(r.centroids[0].y, sy / area);
    EXPECT_EQ(r.boxes[0].minX, 5);
    EXPECT_EQ(r.boxes[0].maxX, 17);
    EXPECT_EQ(r.boxes[0].minY, 3);
    EXPECT_EQ(r.boxes[0].maxY, 16);
    // The right arm started first (row 3) and keeps label 1 for the whole U.
    EXPECT_EQ(finalLabelAt(r, 5, 5), 1);
}

TEST(Labeling, RegionTouchingTheFrameEdgeLosesTheBorderPixels) {
    TestFrame frame(30, 20);
    frame.fillRect(0, 0, 30, 4, BLACK);    // along the top, reaching left and right edges
    frame.fillRect(10, 10, 5, 10, BLACK);  // down to the bottom edge
    const LabelResult r = labelOrFail(frame);
    ASSERT_EQ(r.labelCount, 2);
    EXPECT_EQ(r.areas[0], 28 * 3);
    EXPECT_EQ(r.boxes[0].minX, 1);
    EXPECT_EQ(r.boxes[0].maxX, 28);
    EXPECT_EQ(r.boxes[0].minY, 1);
    EXPECT_EQ(r.areas[1], 5 * 9);
    EXPECT_EQ(r.boxes[1].maxY, 18);
    for (int x = 0; x < 30; x++) {
        EXPECT_EQ(r.labelImage[x], 0);
        EXPECT_EQ(r.labelImage[19 * 30 + x], 0);
    }
}

// The product merges classes with a smallest-root union-find; the rules say
// to rewrite the table. Both must give the same labels on any frame.
TEST(Labeling, MatchesTheTableRewriteOnRandomFrames) {
    std::mt19937 random(20261206);
    for (int round = 0; round < 40; round++) {
        const int w = 3 + static_cast<int>(random() % 90);
        const int h = 3 + static_cast<int>(random() % 70);
        const int darkPercent = static_cast<int>(random() % 90) + 5;
        TestFrame frame(w, h);
        for (int y = 0; y < h; y++) {
            for (int x = 0; x < w; x++) {
                if (static_cast<int>(random() % 100) < darkPercent) {
                    frame.set(x, y, BLACK);
                }
            }
        }
        const LabelResult r = labelOrFail(frame);
        const lumeko_test::ReferenceLabels ref =
            lumeko_test::referenceLabelImage(frame.image(), 100, LABEL_MAX);
        ASSERT_FALSE(ref.failed);
        ASSERT_EQ(r.labelCount, ref.labelCount) << "round " << round;
        for (int i = 0; i < w * h; i++) {
            ASSERT_EQ(r.labelImage[i], ref.labelImage[i]) << "round " << round;
        }
        for (size_t p = 0; p < ref.labelMap.size(); p++) {
            ASSERT_EQ(r.labelMap[p], ref.labelMap[p]);
        }
        for (int l = 0; l < ref.labelCount; l++) {
            ASSERT_EQ(r.areas[l], ref.areas[l]);
            ASSERT_EQ(r.centroids[l].x, ref.centroidX[l]);
            ASSERT_EQ(r.centroids[l].y, ref.centroidY[l]);
            ASSERT_EQ(r.boxes[l].minX, ref.minX[l]);
            ASSERT_EQ(r.boxes[l].maxX, ref.maxX[l]);
            ASSERT_EQ(r.boxes[l].minY, ref.minY[l]);
            ASSERT_EQ(r.boxes[l].maxY, ref.maxY[l]);
        }
    }
}

// Isolated dark pixels on every other row and column, 512 to a row; the
// extra pixel count in the last row decides whether LABEL_MAX is exceeded.
TestFrame dotFrame(int rows, int extraDots) {
    TestFrame frame(1026, 2 * rows + 4);
    for (int row = 0; row < rows; row++) {
        for (int x = 1; x < 1025; x += 2) {
            frame.set(x, 2 * row + 1, BLACK);
        }
    }
    for (int i = 0; i < extraDots; i++) {
        frame.set(1 + 2 * i, 2 * rows + 1, BLACK);
    }
    return frame;
}

TEST(Labeling, ProvisionalLabel32768IsAcceptedAndReadsBackPositive) {
    TestFrame frame = dotFrame(64, 0);  // exactly 32,768 labels
    const LabelResult r = labelOrFail(frame);
    ASSERT_EQ(r.labelCount, LABEL_MAX);
    const int last = r.labelImage[(2 * 63 + 1) * frame.width + 1023];
    EXPECT_EQ(last, LABEL_MAX);
    EXPECT_EQ(r.labelMap[last - 1], LABEL_MAX);
    EXPECT_EQ(r.areas[LABEL_MAX - 1], 1);
    EXPECT_EQ(r.boxes[LABEL_MAX - 1].minX, 1023);
}

TEST(Labeling, OneLabelMoreThanLabelMaxFailsThePass) {
    TestFrame frame = dotFrame(64, 1);
    arInitLabeling(frame.width, frame.height);
    LabelResult r{};
    r.labelCount = -7;
    EXPECT_EQ(arLabelImage(frame.image(), 100, &r), nullptr);
    EXPECT_EQ(r.labelCount, -7);  // outputs untouched
}

TEST(Labeling, FullHdFrameIsLabelledAndFramesLargerThanTheStorageAreRefused) {
    TestFrame frame(1920, 1080);
    frame.fillRect(1800, 1000, 50, 40, BLACK);
    const LabelResult r = labelOrFail(frame);
    ASSERT_EQ(r.labelCount, 1);
    EXPECT_EQ(r.areas[0], 2000);
    EXPECT_EQ(r.boxes[0].maxX, 1849);
    EXPECT_EQ(r.boxes[0].maxY, 1039);

    TestFrame larger(2000, 1100);  // more cells than any frame these tests size for
    LabelResult refused{};
    EXPECT_EQ(arLabelImage(larger.image(), 100, &refused), nullptr);
    EXPECT_EQ(arInitLabeling(0, 10), -1);
}

}  // namespace
