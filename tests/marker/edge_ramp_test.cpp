// The edge across a smeared side lies at the middle of its ramp in linear
// light (a blur gathers light), in the levels when the picture was blurred
// after encoding; a smeared square's corners come out where they are; a
// square whose corners miss its outline is no marker.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "marker/edge_refine.h"
#include "marker/outline_fit.h"

namespace {

constexpr int WIDTH = 160, HEIGHT = 120;
constexpr double INK = 0.02, PAPER = 0.8;  // linear light

// A frame of a dark square (its corners at x0..x1, y0..y1) on paper, each
// pixel the mean over its area of the picture smeared along x by `streak`
// pixels: in light then encoded (sRGB), or in the encoded levels.
std::vector<unsigned char> smearedSquare(double x0, double y0, double x1, double y1, double streak,
                                         bool inLight) {
    std::vector<unsigned char> pixels(WIDTH * HEIGHT * 4, 255);
    constexpr int SAMPLES = 8, MOMENTS = 48;
    const double inkLevel = transferEncode(TransferCurve::Srgb, INK);
    const double paperLevel = transferEncode(TransferCurve::Srgb, PAPER);
    for (int y = 0; y < HEIGHT; y++) {
        for (int x = 0; x < WIDTH; x++) {
            double dark = 0.0;
            for (int i = 0; i < SAMPLES; i++) {
                for (int m = 0; m < MOMENTS; m++) {
                    const double px =
                        x - 0.5 + (i + 0.5) / SAMPLES + streak * ((m + 0.5) / MOMENTS - 0.5);
                    const double py = y - 0.5 + (m % SAMPLES + 0.5) / SAMPLES;
                    dark += px >= x0 && px < x1 && py >= y0 && py < y1 ? 1.0 : 0.0;
                }
            }
            dark /= SAMPLES * MOMENTS;
            const double level =
                inLight ? transferEncode(TransferCurve::Srgb, PAPER + dark * (INK - PAPER))
                        : paperLevel + dark * (inkLevel - paperLevel);
            for (int c = 0; c < 3; c++)
                pixels[4 * (y * WIDTH + x) + c] =
                    static_cast<unsigned char>(std::lround(255 * level));
        }
    }
    return pixels;
}

struct RampCase {
    double streak;
    bool inLight;
    double widthMin, widthMax;
};

class EdgeRamp : public testing::TestWithParam<RampCase> {};

// The right side of the square at x = 100.3, measured from where a threshold
// would put it (at the dark end of a smeared ramp).
TEST_P(EdgeRamp, TheMiddleOfTheRampIsTheEdgeInTheSpaceItWasBlurredIn) {
    const RampCase& c = GetParam();
    std::vector<unsigned char> pixels =
        smearedSquare(40.3, 20.0, 100.3, 100.0, c.streak, c.inLight);
    const FrameImage frame{pixels.data(), WIDTH, HEIGHT};
    LinearLevels light;
    fillLinearLevels(TransferCurve::Srgb, light);
    const double origin = 100.3 - 0.4 * c.streak;
    ::EdgeRamp ramp;
    ASSERT_EQ(arMeasureRamp(frame, light, {origin, 60.0}, {1.0, 0.0}, 30.0, 30.0, &ramp), 0);
    const double truth = 100.3 - origin;
    const double right = c.inLight ? ramp.lightEdge : ramp.levelEdge;
    const double other = c.inLight ? ramp.levelEdge : ramp.lightEdge;
    EXPECT_NEAR(right, truth, 0.1);
    EXPECT_GT(std::fabs(other - truth), 0.04 * c.streak) << "the other space would do as well";
    EXPECT_GE(ramp.width, c.widthMin);
    EXPECT_LE(ramp.width, c.widthMax);
    EXPECT_LT(c.inLight ? ramp.lightSkew : ramp.levelSkew,
              0.5 * (c.inLight ? ramp.levelSkew : ramp.lightSkew));
}

INSTANTIATE_TEST_SUITE_P(Smears, EdgeRamp,
                         testing::Values(RampCase{6.0, true, 4.5, 6.5},
                                         RampCase{14.0, true, 10.5, 13.5},
                                         RampCase{24.0, true, 18.5, 22.5},
                                         RampCase{14.0, false, 10.5, 13.5}));

// A square smeared along x in light: refined, its corners lie within a tenth
// of a pixel of the truth, its sharp sides placed in light too; the plain
// threshold's square is a streak's share too narrow. A sharp square keeps
// the short profile's edges. The ramps' widths: the widest grows with the
// streak, the narrowest (the sides along it) stays a sharp edge's. Under
// noise (levels uniform to 40 either way, four draws) with every pixel of a
// side read (arSetEdgeEveryPixel), the corners stay within 0.14 pixels (11
// here; 18 at 16 points a side).
TEST(EdgeRefine, ASmearedSquaresCornersComeOutWhereTheyAre) {
    const struct {
        double streak;
        bool inLight;
        double tolerance;
        int noise;
    } cases[] = {
        {0.0, false, 0.06, 0}, {10.0, true, 0.1, 0}, {16.0, true, 0.1, 0}, {0.0, false, 0.14, 40}};
    const double x0 = 40.3, y0 = 20.6, x1 = 110.3, y1 = 95.6;
    for (const auto& c : cases) {
        const std::vector<unsigned char> clean = smearedSquare(x0, y0, x1, y1, c.streak, c.inLight);
        for (unsigned draw = 0; draw < (c.noise > 0 ? 4u : 1u); draw++) {
            std::vector<unsigned char> pixels = clean;
            std::mt19937 random(draw);
            for (unsigned char& v : pixels)
                v = static_cast<unsigned char>(std::clamp(
                    v + static_cast<int>(random() % (2 * c.noise + 1)) - c.noise, 0, 255));
            const FrameImage frame{pixels.data(), WIDTH, HEIGHT};
            // The plain square: the sides through the outermost pixels at the
            // threshold, a third of the streak inside the smeared sides.
            const double in = c.streak / 3.0;
            EdgeLine lines[4] = {{0.0, 1.0, -(y0 + 0.5)},
                                 {1.0, 0.0, -(x1 - in - 0.5)},
                                 {0.0, 1.0, -(y1 - 0.5)},
                                 {1.0, 0.0, -(x0 + in + 0.5)}};
            ImagePoint corners[4] = {{x0 + in + 0.5, y0 + 0.5},
                                     {x1 - in - 0.5, y0 + 0.5},
                                     {x1 - in - 0.5, y1 - 0.5},
                                     {x0 + in + 0.5, y1 - 0.5}};
            const double noLens[4] = {WIDTH / 2.0, HEIGHT / 2.0, 0.0, 1.0};
            static EdgeRefineStorage storage;
            arSetEdgeEveryPixel(storage, c.noise > 0);
            const EdgeRefinement refined = arRefineEdges(frame, noLens, storage, lines, corners);
            EXPECT_EQ(refined.status, MarkerStatus::Ok);
            EXPECT_EQ(refined.sides, 4);
            const ImagePoint truth[4] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
            for (int k = 0; k < 4; k++) {
                EXPECT_NEAR(corners[k].x, truth[k].x, c.tolerance) << c.streak << " " << k;
                EXPECT_NEAR(corners[k].y, truth[k].y, c.tolerance) << c.streak << " " << k;
            }
            if (c.noise > 0)
                continue;
            EXPECT_NEAR(refined.rampWidth, 0.8 * c.streak + 1.2, 0.2 * c.streak + 0.5);
            EXPECT_NEAR(refined.narrowestRamp, 1.0, 0.3) << "the sides along the smear stay sharp";
        }
    }
}

// An outline with four sharp corners meets its fitted square at them; one
// whose corners are rounded off (a patch of texture) misses it; one corner
// hidden by an object merged into the border is allowed.
TEST(OutlineFit, ASquaresCornersLieOnItsOutline) {
    const ImagePoint square[4] = {{10, 10}, {60, 10}, {60, 60}, {10, 60}};
    const auto outline = [](double cut, int cutCorners, std::vector<int32_t>& xs,
                            std::vector<int32_t>& ys) {
        xs.clear();
        ys.clear();
        const int cx[4] = {10, 60, 60, 10}, cy[4] = {10, 10, 60, 60};
        for (int j = 0; j < 4; j++) {
            const int nx = cx[(j + 1) % 4], ny = cy[(j + 1) % 4];
            for (int t = 0; t < 50; t++) {
                const int x = cx[j] + (nx - cx[j]) * t / 50, y = cy[j] + (ny - cy[j]) * t / 50;
                // Points within `cut` of a cut corner are left out.
                const bool nearCut =
                    (j < cutCorners && t < cut) || ((j + 1) % 4 < cutCorners && t > 50 - cut);
                if (!nearCut) {
                    xs.push_back(x);
                    ys.push_back(y);
                }
            }
        }
    };
    const double noLens[4] = {0.0, 0.0, 0.0, 1.0};
    std::vector<int32_t> xs, ys;
    outline(0, 0, xs, ys);
    EXPECT_EQ(arCornersOffOutline(noLens, xs.data(), ys.data(), xs.size(), square), 0);
    outline(4, 1, xs, ys);
    EXPECT_EQ(arCornersOffOutline(noLens, xs.data(), ys.data(), xs.size(), square), 1);
    outline(4, 4, xs, ys);
    EXPECT_EQ(arCornersOffOutline(noLens, xs.data(), ys.data(), xs.size(), square), 4);
    outline(2, 4, xs, ys);
    EXPECT_EQ(arCornersOffOutline(noLens, xs.data(), ys.data(), xs.size(), square), 0);
}

}  // namespace
