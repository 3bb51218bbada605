// Edge refinement on dark squares drawn with exact sub-pixel edges: the
// refined sides and corners against the true ones, from plain sides that are
// off by up to a pixel, with and without blur and noise.

#include "marker/edge_refine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr double DARK = 25.0;
constexpr double LIGHT = 225.0;
constexpr int WIDTH = 160;
constexpr int HEIGHT = 120;

struct Scene {
    double angleDegrees;  // turn of the square
    ImagePoint centre;    // sub-pixel centre
    double side;
    double blur;   // Gaussian sigma, pixels
    double noise;  // sigma on every channel
};

void PrintTo(const Scene& s, std::ostream* out) {
    *out << "turn " << s.angleDegrees << " centre " << s.centre.x << "," << s.centre.y << " side "
         << s.side << " blur " << s.blur << " noise " << s.noise;
}

std::vector<ImagePoint> squareCorners(const Scene& s) {
    const double a = s.angleDegrees * M_PI / 180.0, h = s.side / 2.0;
    const double c = std::cos(a), n = std::sin(a);
    std::vector<ImagePoint> corners;
    for (const auto& [x, y] : {std::pair{-h, -h}, {h, -h}, {h, h}, {-h, h}}) {
        corners.push_back({s.centre.x + c * x - n * y, s.centre.y + n * x + c * y});
    }
    return corners;
}

// The line through p and q with a unit normal.
EdgeLine lineThrough(ImagePoint p, ImagePoint q) {
    const double dx = q.x - p.x, dy = q.y - p.y, l = std::hypot(dx, dy);
    EdgeLine line{-dy / l, dx / l, 0.0};
    line.c = -(line.a * p.x + line.b * p.y);
    return line;
}

// The sides and corners of the square with corners `start`, as the plain fit
// hands them to the refinement.
void plainFit(const std::vector<ImagePoint>& start, EdgeLine lines[4], ImagePoint vertices[4]) {
    for (int i = 0; i < 4; ++i) {
        lines[i] = lineThrough(start[i], start[(i + 1) % 4]);
        vertices[i] = start[i];
    }
}

bool inside(const std::vector<ImagePoint>& corners, double x, double y) {
    for (int i = 0; i < 4; ++i) {
        const ImagePoint p = corners[i], q = corners[(i + 1) % 4];
        if ((q.x - p.x) * (y - p.y) - (q.y - p.y) * (x - p.x) < 0.0) {
            return false;
        }
    }
    return true;
}

// Grey frame (blue = green = red) of the square: 16 x 16 samples a pixel,
// then the blur, then the noise, rounded to bytes.
std::vector<unsigned char> drawScene(const Scene& s) {
    const std::vector<ImagePoint> corners = squareCorners(s);
    std::vector<double> grey(WIDTH * HEIGHT);
    constexpr int N = 16;
    for (int y = 0; y < HEIGHT; ++y) {
        for (int x = 0; x < WIDTH; ++x) {
            // Only pixels an edge passes near need the samples.
            double nearest = 1e9;
            for (int i = 0; i < 4; ++i) {
                const EdgeLine l = lineThrough(corners[i], corners[(i + 1) % 4]);
                nearest = std::min(nearest, std::fabs(l.a * x + l.b * y + l.c));
            }
            if (nearest > 1.0) {
                grey[y * WIDTH + x] = inside(corners, x, y) ? DARK : LIGHT;
                continue;
            }
            int covered = 0;
            for (int i = 0; i < N * N; ++i) {
                covered +=
                    inside(corners, x - 0.5 + (i % N + 0.5) / N, y - 0.5 + (i / N + 0.5) / N);
            }
            grey[y * WIDTH + x] = LIGHT + (DARK - LIGHT) * covered / (N * N);
        }
    }
    if (s.blur > 0.0) {
        const int r = static_cast<int>(std::ceil(4.0 * s.blur));
        std::vector<double> kernel(2 * r + 1), pass(grey.size());
        double sum = 0.0;
        for (int k = -r; k <= r; ++k) {
            sum += kernel[k + r] = std::exp(-0.5 * k * k / (s.blur * s.blur));
        }
        for (double& k : kernel) {
            k /= sum;
        }
        for (int dir = 0; dir < 2; ++dir) {
            for (int y = 0; y < HEIGHT; ++y) {
                for (int x = 0; x < WIDTH; ++x) {
                    double v = 0.0;
                    for (int k = -r; k <= r; ++k) {
                        const int sx = std::clamp(dir == 0 ? x + k : x, 0, WIDTH - 1);
                        const int sy = std::clamp(dir == 0 ? y : y + k, 0, HEIGHT - 1);
                        v += kernel[k + r] * grey[sy * WIDTH + sx];
                    }
                    pass[y * WIDTH + x] = v;
                }
            }
            grey.swap(pass);
        }
    }
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, s.noise > 0.0 ? s.noise : 1.0);
    std::vector<unsigned char> pixels(4 * grey.size(), 255);
    for (size_t p = 0; p < grey.size(); ++p) {
        for (int ch = 0; ch < 3; ++ch) {
            const double v = grey[p] + (s.noise > 0.0 ? noise(random) : 0.0);
            pixels[4 * p + ch] = static_cast<unsigned char>(std::clamp(std::lround(v), 0L, 255L));
        }
    }
    return pixels;
}

constexpr double NO_DISTORTION[4] = {WIDTH / 2.0, HEIGHT / 2.0, 0.0, 1.0};

class EdgeRefine : public testing::TestWithParam<Scene> {};

// The plain fit puts the sides up to a pixel inside the dark square; the
// refined sides and corners must land on the true ones.
TEST_P(EdgeRefine, MovesPlainSidesOntoTheTrueEdges) {
    const Scene scene = GetParam();
    std::vector<unsigned char> pixels = drawScene(scene);
    const FrameImage frame{pixels.data(), WIDTH, HEIGHT};
    const std::vector<ImagePoint> truth = squareCorners(scene);
    // Plain sides: the true ones moved inwards by different amounts and
    // turned slightly, intersected into corners as the plain fit does.
    Scene shrunk = scene;
    shrunk.side -= 1.2;
    shrunk.angleDegrees += 0.4;
    const std::vector<ImagePoint> start = squareCorners(shrunk);
    EdgeLine lines[4];
    ImagePoint vertices[4];
    plainFit(start, lines, vertices);
    EdgeRefineStorage storage;
    ASSERT_EQ(arRefineEdges(frame, NO_DISTORTION, storage, lines, vertices), 4);
    for (int i = 0; i < 4; ++i) {
        for (const ImagePoint& end : {truth[i], truth[(i + 1) % 4]}) {
            EXPECT_NEAR(lines[i].a * end.x + lines[i].b * end.y + lines[i].c, 0.0, 0.05)
                << "side " << i;
        }
        EXPECT_NEAR(std::hypot(vertices[i].x - truth[i].x, vertices[i].y - truth[i].y), 0.0, 0.1)
            << "corner " << i;
        // The refined line keeps the plain line's orientation.
        const EdgeLine plain = lineThrough(start[i], start[(i + 1) % 4]);
        EXPECT_GT(lines[i].a * plain.a + lines[i].b * plain.b, 0.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Scenes, EdgeRefine,
                         testing::Values(Scene{0.0, {80.0, 60.0}, 60.0, 0.0, 0.0},
                                         Scene{0.0, {80.3, 59.71}, 61.4, 0.0, 0.0},
                                         Scene{3.1, {80.17, 60.42}, 48.0, 0.0, 0.0},
                                         Scene{27.0, {79.55, 60.05}, 56.0, 0.0, 0.0},
                                         Scene{45.0, {80.25, 60.6}, 50.0, 0.0, 0.0},
                                         Scene{0.0, {80.3, 59.71}, 61.4, 0.6, 0.0},
                                         Scene{11.3, {80.8, 60.1}, 58.0, 0.7, 2.0},
                                         Scene{-33.0, {79.9, 60.35}, 52.0, 0.5, 1.5},
                                         Scene{62.0, {80.45, 59.8}, 40.0, 1.0, 2.0},
                                         // A small square: 30 pixels a side.
                                         Scene{17.0, {80.2, 60.3}, 30.0, 0.6, 2.0}));

// One profile straight across a blurred vertical edge at a sub-pixel position.
TEST(EdgeAcross, FindsTheEdgeAtItsSubPixelPositionAndRefusesFlatProfiles) {
    for (const double edge : {70.0, 70.25, 70.5, 70.8}) {
        Scene scene{0.0, {edge + 40.0, 60.0}, 80.0, 0.6, 0.0};
        std::vector<unsigned char> pixels = drawScene(scene);
        const FrameImage frame{pixels.data(), WIDTH, HEIGHT};
        double offset = 0.0;
        // From inside the square towards the light.
        ASSERT_TRUE(arEdgeAcross(frame, {71.0, 60.0}, {-1.0, 0.0}, &offset)) << edge;
        EXPECT_NEAR(71.0 - offset, edge, 0.02);
        // Inside the dark square, and too near the frame's border.
        EXPECT_FALSE(arEdgeAcross(frame, {100.0, 60.0}, {-1.0, 0.0}, &offset));
        EXPECT_FALSE(arEdgeAcross(frame, {1.0, 60.0}, {-1.0, 0.0}, &offset));
    }
}

// A side with no light beyond it (the square touches a dark area) keeps its
// plain line while the other three are refined.
TEST(EdgeRefineSides, ASideWithoutContrastKeepsItsPlainLine) {
    const Scene scene{0.0, {80.0, 60.0}, 60.0, 0.6, 0.0};
    std::vector<unsigned char> pixels = drawScene(scene);
    for (int y = 0; y < HEIGHT; ++y) {
        for (int x = 0; x < 52; ++x) {  // dark to the left of the square's left side (x = 50)
            for (int ch = 0; ch < 3; ++ch) {
                pixels[4 * (y * WIDTH + x) + ch] = static_cast<unsigned char>(DARK);
            }
        }
    }
    const FrameImage frame{pixels.data(), WIDTH, HEIGHT};
    Scene shrunk = scene;
    shrunk.side -= 1.0;
    const std::vector<ImagePoint> start = squareCorners(shrunk);
    EdgeLine lines[4];
    ImagePoint vertices[4];
    plainFit(start, lines, vertices);
    const EdgeLine left = lines[3];  // from corner 3 (bottom left) to corner 0 (top left)
    EdgeRefineStorage storage;
    EXPECT_EQ(arRefineEdges(frame, NO_DISTORTION, storage, lines, vertices), 3);
    EXPECT_EQ(lines[3].a, left.a);
    EXPECT_EQ(lines[3].c, left.c);
    EXPECT_NEAR(lines[1].a * 110.0 + lines[1].b * 60.0 + lines[1].c, 0.0, 0.05);
}

}  // namespace
