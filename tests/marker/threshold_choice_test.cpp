#include "marker/threshold_choice.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(OtsuLevel, SplitsTwoClassesInTheMiddleOfTheGapBetweenThem) {
    long long histogram[766] = {};
    EXPECT_EQ(otsuLevel(histogram), -1);
    histogram[300] = 50;
    EXPECT_EQ(otsuLevel(histogram), -1);  // one level: nothing to split
    histogram[100] = 10;
    EXPECT_EQ(otsuLevel(histogram), 199);  // levels 100..299 all split alike
    histogram[90] = 10;
    histogram[110] = 10;
    histogram[700] = 5;
    const int level = otsuLevel(histogram);
    EXPECT_GE(level, 110);
    EXPECT_LT(level, 300);
}

// Ink at grey 40 (sum 120) in the left third, paper at 80 (sum 240): dark when
// B + G + R <= 3 x threshold, so the threshold lies between the two.
TEST(ChooseThreshold, SeparatesInkFromPaperInTheBoxOnly) {
    constexpr int W = 60, H = 20;
    std::vector<unsigned char> pixels(W * H * 4, 255);
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++)
            for (int c = 0; c < 3; c++)
                pixels[(y * W + x) * 4 + c] = x < 20 ? 40 : (x < 40 ? 80 : 250);
    const FrameImage frame{pixels.data(), W, H};
    const int inkAndPaper = chooseThreshold(frame, {-5, -5, 40, 40});
    EXPECT_GE(inkAndPaper, 40);
    EXPECT_LT(inkAndPaper, 80);
    EXPECT_EQ(chooseThreshold(frame, {20, 0, 40, H}), -1);    // paper alone
    EXPECT_EQ(chooseThreshold(frame, {W, 0, W + 9, H}), -1);  // outside the frame
    const int paperAndWhite = chooseThreshold(frame, {20, 0, W, H});
    EXPECT_GE(paperAndWhite, 80);
    EXPECT_LT(paperAndWhite, 250);
}

}  // namespace
