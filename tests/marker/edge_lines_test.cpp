#include "marker/edge_lines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "camera/camera_param.h"
#include "camera/distortion.h"
#include "tests/marker/test_frames.h"

namespace {

struct Contour {
    std::vector<int32_t> x, y;
    int32_t corners[5];
};

// The total-least-squares line through points first..last, worked out in
// closed form: the direction of largest spread is at angle
// atan2(2 Sxy, Sxx - Syy) / 2.
EdgeLine expectedLine(const Contour& c, int first, int last) {
    const int n = last - first + 1;
    double mx = 0, my = 0;
    for (int i = first; i <= last; i++) {
        mx += c.x[i];
        my += c.y[i];
    }
    mx /= n;
    my /= n;
    double sxx = 0, syy = 0, sxy = 0;
    for (int i = first; i <= last; i++) {
        sxx += (c.x[i] - mx) * (c.x[i] - mx);
        syy += (c.y[i] - my) * (c.y[i] - my);
        sxy += (c.x[i] - mx) * (c.y[i] - my);
    }
    const double angle = 0.5 * std::atan2(2 * sxy, sxx - syy);
    EdgeLine line{std::sin(angle), -std::cos(angle), 0.0};
    line.c = -(line.a * mx + line.b * my);
    return line;
}

void expectSameLine(const EdgeLine& got, const EdgeLine& want, const char* what) {
    const double sign = got.a * want.a + got.b * want.b < 0 ? -1.0 : 1.0;
    EXPECT_NEAR(got.a, sign * want.a, 1e-9) << what;
    EXPECT_NEAR(got.b, sign * want.b, 1e-9) << what;
    EXPECT_NEAR(got.c, sign * want.c, 1e-7) << what;
    EXPECT_NEAR(got.a * got.a + got.b * got.b, 1.0, 1e-12) << what;
}

// Four sides of the given point counts around a rough rectangle, each point
// jittered by up to one pixel.
Contour jaggedContour(const int counts[4], unsigned seed) {
    const double cornerX[5] = {100, 300, 310, 90, 100};
    const double cornerY[5] = {100, 110, 260, 250, 100};
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> jitter(-1, 1);
    Contour c;
    c.corners[0] = 0;
    for (int side = 0; side < 4; side++) {
        const int n = counts[side];
        for (int k = side == 0 ? 0 : 1; k < n; k++) {
            const double t = static_cast<double>(k) / (n - 1);
            c.x.push_back(static_cast<int32_t>(std::lround(
                              cornerX[side] + t * (cornerX[side + 1] - cornerX[side]))) +
                          jitter(random));
            c.y.push_back(static_cast<int32_t>(std::lround(
                              cornerY[side] + t * (cornerY[side + 1] - cornerY[side]))) +
                          jitter(random));
        }
        c.corners[side + 1] = static_cast<int32_t>(c.x.size()) - 1;
    }
    return c;
}

class EdgeLines : public testing::Test {
  protected:
    void SetUp() override { lumeko_test::useUndistortedCamera(640, 480); }
};

TEST_F(EdgeLines, EachSideIsFittedToItsTrimmedMiddleStretch) {
    const int counts[4] = {100, 20, 3, 20};
    for (unsigned seed = 1; seed <= 20; seed++) {
        const Contour c = jaggedContour(counts, seed);
        EdgeLine lines[4];
        ImagePoint vertices[4];
        ASSERT_EQ(arFitEdgeLines(c.x.data(), c.y.data(), static_cast<int>(c.x.size()), c.corners,
                                 lines, vertices),
                  0);
        // 100 points: trim 5.5, st+5 .. st+93; 20 points: trim 1.5, st+1 ..
        // st+17; 3 points: trim 0.65, st and st+1.
        const int st[4] = {c.corners[0], c.corners[1], c.corners[2], c.corners[3]};
        expectSameLine(lines[0], expectedLine(c, st[0] + 5, st[0] + 93), "100 points");
        expectSameLine(lines[1], expectedLine(c, st[1] + 1, st[1] + 17), "20 points");
        expectSameLine(lines[2], expectedLine(c, st[2], st[2] + 1), "3 points");
        expectSameLine(lines[3], expectedLine(c, st[3] + 1, st[3] + 17), "20 points");
        for (int j = 0; j < 4; j++) {
            const EdgeLine& p = lines[(j + 3) % 4];
            const EdgeLine& q = lines[j];
            EXPECT_NEAR(p.a * vertices[j].x + p.b * vertices[j].y + p.c, 0.0, 1e-9);
            EXPECT_NEAR(q.a * vertices[j].x + q.b * vertices[j].y + q.c, 0.0, 1e-9);
        }
    }
}

TEST_F(EdgeLines, SideOfTwoPointsFails) {
    const int counts[4] = {100, 20, 2, 20};
    const Contour c = jaggedContour(counts, 7);
    EdgeLine lines[4];
    ImagePoint vertices[4];
    EXPECT_EQ(arFitEdgeLines(c.x.data(), c.y.data(), static_cast<int>(c.x.size()), c.corners, lines,
                             vertices),
              -1);
}

// The contour of a square 10 pixels wide, clockwise from its top-left corner.
Contour squareContour(int x0, int y0) {
    Contour c;
    const int dx[4] = {1, 0, -1, 0};
    const int dy[4] = {0, 1, 0, -1};
    int x = x0, y = y0;
    for (int side = 0; side < 4; side++) {
        c.corners[side] = side * 10;
        for (int k = 0; k < 10; k++) {
            c.x.push_back(x);
            c.y.push_back(y);
            x += dx[side];
            y += dy[side];
        }
    }
    c.x.push_back(x0);
    c.y.push_back(y0);
    c.corners[4] = 40;
    return c;
}

TEST_F(EdgeLines, AxisAlignedSquareGivesItsCornersExactly) {
    const Contour c = squareContour(200, 150);
    EdgeLine lines[4];
    ImagePoint vertices[4];
    ASSERT_EQ(arFitEdgeLines(c.x.data(), c.y.data(), 41, c.corners, lines, vertices), 0);
    const ImagePoint want[4] = {{200, 150}, {210, 150}, {210, 160}, {200, 160}};
    for (int j = 0; j < 4; j++) {
        EXPECT_NEAR(vertices[j].x, want[j].x, 1e-9) << j;
        EXPECT_NEAR(vertices[j].y, want[j].y, 1e-9) << j;
        EXPECT_NEAR(lines[j].a * lines[j].a + lines[j].b * lines[j].b, 1.0, 1e-12);
    }
}

TEST_F(EdgeLines, ContourPointsAreUndistortedBeforeTheFit) {
    CameraParam param = arCurrentCameraParam();
    param.distFactor[2] = 100.0;  // corners of the square below move in by ~7 pixels
    arSetCameraParam(param);
    // A square 300 wide in ideal coordinates, its outline distorted into the
    // frame and rounded to pixels.
    const double ideal[5][2] = {{170, 90}, {470, 90}, {470, 390}, {170, 390}, {170, 90}};
    Contour c;
    for (int side = 0; side < 4; side++) {
        c.corners[side] = side * 300;
        for (int k = 0; k < 300; k++) {
            const double t = k / 300.0;
            double ox, oy;
            arIdealToObserved(param.distFactor,
                              ideal[side][0] + t * (ideal[side + 1][0] - ideal[side][0]),
                              ideal[side][1] + t * (ideal[side + 1][1] - ideal[side][1]), &ox, &oy);
            c.x.push_back(static_cast<int32_t>(std::lround(ox)));
            c.y.push_back(static_cast<int32_t>(std::lround(oy)));
        }
    }
    c.x.push_back(c.x[0]);
    c.y.push_back(c.y[0]);
    c.corners[4] = 1200;
    EdgeLine lines[4];
    ImagePoint vertices[4];
    ASSERT_EQ(arFitEdgeLines(c.x.data(), c.y.data(), 1201, c.corners, lines, vertices), 0);
    for (int j = 0; j < 4; j++) {
        EXPECT_NEAR(vertices[j].x, ideal[j][0], 0.6) << j;
        EXPECT_NEAR(vertices[j].y, ideal[j][1], 0.6) << j;
    }
}

}  // namespace
