#include "camera/distortion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

TEST(Distortion, NoDistortionIsTheIdentity) {
    const double factors[4] = {310.0, 250.0, 0.0, 1.0};
    std::mt19937 random(7);
    std::uniform_real_distribution<double> coordinate(-100.0, 800.0);
    for (int i = 0; i < 200; i++) {
        double x = coordinate(random), y = coordinate(random), ox, oy, ix, iy;
        arIdealToObserved(factors, x, y, &ox, &oy);
        arObservedToIdeal(factors, x, y, &ix, &iy);
        EXPECT_NEAR(ox, x, 1e-9);
        EXPECT_NEAR(oy, y, 1e-9);
        EXPECT_NEAR(ix, x, 1e-9);
        EXPECT_NEAR(iy, y, 1e-9);
    }
}

TEST(Distortion, CentreMapsToItself) {
    const double factors[4] = {318.5, 242.25, 45.0, 0.97};
    double x, y;
    EXPECT_EQ(arIdealToObserved(factors, 318.5, 242.25, &x, &y), 0);
    EXPECT_EQ(x, 318.5);
    EXPECT_EQ(y, 242.25);
    EXPECT_EQ(arObservedToIdeal(factors, 318.5, 242.25, &x, &y), 0);
    EXPECT_EQ(x, 318.5);
    EXPECT_EQ(y, 242.25);
}

// Observed -> ideal -> observed returns the point to within what three Newton
// steps reach for realistic lenses across a VGA frame.
TEST(Distortion, RoundTripWithinThreeStepAccuracy) {
    std::mt19937 random(20261206);
    std::uniform_real_distribution<double> coordinate(0.0, 640.0);
    std::uniform_real_distribution<double> coefficient(0.0, 60.0);
    std::uniform_real_distribution<double> scale(0.9, 1.1);
    for (int i = 0; i < 500; i++) {
        const double factors[4] = {coordinate(random) * 0.1 + 290.0,
                                   coordinate(random) * 0.1 + 210.0, coefficient(random),
                                   scale(random)};
        double ox = coordinate(random), oy = coordinate(random) * 0.75, ix, iy, bx, by;
        arObservedToIdeal(factors, ox, oy, &ix, &iy);
        arIdealToObserved(factors, ix, iy, &bx, &by);
        EXPECT_NEAR(bx, ox, 1e-6) << i;
        EXPECT_NEAR(by, oy, 1e-6) << i;
    }
}

// In the corner of a strongly distorted frame three steps leave a residual
// that a loop iterating to convergence would remove.
TEST(Distortion, StopsAfterThreeSteps) {
    const double factors[4] = {320.0, 240.0, 60.0, 1.0};
    double ix, iy, bx, by;
    arObservedToIdeal(factors, 640.0, 480.0, &ix, &iy);
    arIdealToObserved(factors, ix, iy, &bx, &by);
    EXPECT_GT(std::fabs(bx - 640.0), 1e-9);
    EXPECT_LT(std::fabs(bx - 640.0), 1e-6);
    EXPECT_NEAR(ix, 685.942, 1e-3);
}

}  // namespace
