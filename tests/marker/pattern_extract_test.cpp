#include "marker/pattern_extract.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "tests/marker/test_frames.h"

namespace {

// Sampling one sample at a time straight into the pattern's sums, through
// the homography `h`.
int referenceExtract(const FrameImage& frame, const double h[3][3], int nx, int ny,
                     PatternImage* pattern) {
    const int cx = nx / PATTERN_SIZE, cy = ny / PATTERN_SIZE;
    int sums[PATTERN_VALUES] = {};
    for (int j = 0; j < ny; j++) {
        const double y = 102.5 + 5.0 * (j + 0.5) / ny;
        for (int i = 0; i < nx; i++) {
            const double x = 102.5 + 5.0 * (i + 0.5) / nx;
            const double d = h[2][0] * x + h[2][1] * y + 1.0;
            if (d == 0.0)
                return -1;
            const double ix = (h[0][0] * x + h[0][1] * y + h[0][2]) / d;
            const double iy = (h[1][0] * x + h[1][1] * y + h[1][2]) / d;
            if (!(ix > -1.0 && ix < frame.width && iy > -1.0 && iy < frame.height))
                continue;
            const unsigned char* p =
                frame.pixels + 4 * (static_cast<size_t>(iy) * frame.width + static_cast<int>(ix));
            int* cell = &sums[((j / cy) * PATTERN_SIZE + i / cx) * 3];
            cell[0] += p[0], cell[1] += p[1], cell[2] += p[2];
        }
    }
    for (int k = 0; k < PATTERN_VALUES; k++)
        pattern->values[k] = static_cast<unsigned char>(static_cast<unsigned>(sums[k]) / (cx * cy));
    return 0;
}

}  // namespace

// Random quadrilaterals from a few pixels to larger than the frame, some
// reaching outside it: the pattern equals the one-sample-at-a-time sums for
// every sample count (16, 32 and 64 a side).
TEST(PatternExtract, EqualsSamplingOneSampleAtATime) {
    lumeko_test::TestFrame frame(200, 150);
    frame.addNoise(3, 120);
    std::mt19937 random(11);
    int counts[65] = {};
    for (int round = 0; round < 400; round++) {
        const double size = 4.0 + random() % 260, cx = random() % 200, cy = random() % 150;
        int32_t xs[4], ys[4];
        for (int c = 0; c < 4; c++) {
            const double angle = 1.5708 * c + 0.01 * (random() % 100);
            xs[c] = static_cast<int32_t>(cx +
                                         size * std::cos(angle) * (0.7 + 0.003 * (random() % 100)));
            ys[c] = static_cast<int32_t>(cy +
                                         size * std::sin(angle) * (0.7 + 0.003 * (random() % 100)));
        }
        const int32_t corners[5] = {0, 1, 2, 3, 0};
        PatternImage fast{}, slow{};
        const int status = arExtractPattern(frame.image(), xs, ys, corners, &fast);
        double h[3][3];
        ASSERT_EQ(arPatternHomography(xs, ys, corners, h), status) << round;
        if (status != 0)
            continue;
        const auto side = [&](int a, int b) {
            const double dx = xs[a] - xs[b], dy = ys[a] - ys[b];
            return static_cast<int>(dx * dx + dy * dy);
        };
        const int nx = arPatternSampleCount(std::max(side(0, 1), side(2, 3)));
        const int ny = arPatternSampleCount(std::max(side(1, 2), side(3, 0)));
        counts[nx]++;
        ASSERT_EQ(referenceExtract(frame.image(), h, nx, ny, &slow), 0) << round;
        ASSERT_EQ(std::memcmp(fast.values, slow.values, PATTERN_VALUES), 0) << round;
    }
    EXPECT_GT(counts[16], 0);
    EXPECT_GT(counts[32], 0);
    EXPECT_GT(counts[64], 0);
}
