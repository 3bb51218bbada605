// The transfer curves: known points of each, decoding undoes encoding, and
// the levels' light is the curve's.

#include <gtest/gtest.h>

#include "image/transfer_curve.h"

namespace {

TEST(TransferCurve, EachCurveEncodesLightAsItsStandardSays) {
    const struct {
        const char* name;
        double light, value;
    } cases[] = {{"srgb", 0.5, 0.735357},   {"srgb", 0.002, 0.02584}, {"srgb", 1.0, 1.0},
                 {"rec709", 0.5, 0.705515}, {"rec709", 0.01, 0.045},  {"linear", 0.3, 0.3}};
    for (const auto& c : cases) {
        TransferCurve curve;
        ASSERT_TRUE(transferCurveNamed(c.name, &curve));
        EXPECT_NEAR(transferEncode(curve, c.light), c.value, 1e-5) << c.name << " " << c.light;
        for (double v = 0.0; v <= 1.0; v += 0.05)
            EXPECT_NEAR(transferEncode(curve, transferDecode(curve, v)), v, 1e-12) << c.name;
        LinearLevels levels;
        fillLinearLevels(curve, levels);
        EXPECT_NEAR(levels.light[128], transferDecode(curve, 128 / 255.0), 1e-7);
    }
    TransferCurve curve;
    EXPECT_FALSE(transferCurveNamed("gamma22", &curve));
    EXPECT_EQ(transferEncode(TransferCurve::Srgb, -0.5), 0.0);
    EXPECT_EQ(transferDecode(TransferCurve::Rec709, 2.0), 1.0);
}

}  // namespace
