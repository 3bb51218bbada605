#include "tools/render/scene_render.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "camera/distortion.h"

namespace {

// Printed ink and paper are never perfectly black or white.
constexpr double INK = 25.0;
constexpr double PAPER = 235.0;
constexpr double SKY[3] = {175.0, 195.0, 215.0};
constexpr double TABLE[3] = {190.0, 172.0, 150.0};

struct Colour {
    double r, g, b;
};

// 3x3 inverse by cofactors; false when the matrix is singular.
bool invert3(const double a[3][3], double out[3][3]) {
    const double c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
    const double c01 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
    const double c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
    const double det = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
    if (det == 0.0 || !std::isfinite(det)) {
        return false;
    }
    const double inv = 1.0 / det;
    out[0][0] = c00 * inv;
    out[1][0] = c01 * inv;
    out[2][0] = c02 * inv;
    out[0][1] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) * inv;
    out[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) * inv;
    out[2][1] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) * inv;
    out[0][2] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) * inv;
    out[1][2] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) * inv;
    out[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) * inv;
    return true;
}

double latticeValue(int64_t ix, int64_t iy) {
    uint64_t h = static_cast<uint64_t>(ix) * 0x9E3779B97F4A7C15ull ^
                 static_cast<uint64_t>(iy) * 0xC2B2AE3D27D4EB4Full;
    h ^= h >> 31;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 29;
    return static_cast<double>(h >> 11) * (1.0 / 9007199254740992.0);
}

// Smoothly interpolated lattice noise in [0, 1).
double valueNoise(double x, double y) {
    const double fx = std::floor(x), fy = std::floor(y);
    const int64_t ix = static_cast<int64_t>(fx), iy = static_cast<int64_t>(fy);
    double tx = x - fx, ty = y - fy;
    tx = tx * tx * (3.0 - 2.0 * tx);
    ty = ty * ty * (3.0 - 2.0 * ty);
    const double top =
        latticeValue(ix, iy) + tx * (latticeValue(ix + 1, iy) - latticeValue(ix, iy));
    const double bottom =
        latticeValue(ix, iy + 1) + tx * (latticeValue(ix + 1, iy + 1) - latticeValue(ix, iy + 1));
    return top + ty * (bottom - top);
}

// A light table top with blotches and a grain along x; never dark enough to
// look like ink.
Colour tableColour(double x, double y, double width) {
    const double blotch = valueNoise(x / (0.4 * width), y / (0.4 * width));
    const double grain = valueNoise(x / (0.6 * width), y / (0.05 * width));
    const double shade = 0.82 + 0.18 * (0.6 * blotch + 0.4 * grain);
    return {TABLE[0] * shade, TABLE[1] * shade, TABLE[2] * shade};
}

// The table's texture has no sharp edges, so one sample of it per pixel is
// enough; the first sample of a pixel that hits the table sets it.
struct TableSample {
    bool taken = false;
    Colour colour{0.0, 0.0, 0.0};
};

Colour planeColour(const Scene& scene, double x, double y, TableSample& table) {
    const double half = 0.5 * scene.markerWidth;
    const double ax = std::fabs(x), ay = std::fabs(y);
    if (ax < half && ay < half) {
        const double quarter = 0.5 * half;
        if (ax < quarter && ay < quarter) {
            const RgbImage& pic = scene.picture;
            int col = static_cast<int>((x + quarter) / (2.0 * quarter) * pic.width);
            int row = static_cast<int>((quarter - y) / (2.0 * quarter) * pic.height);
            col = std::clamp(col, 0, pic.width - 1);
            row = std::clamp(row, 0, pic.height - 1);
            const unsigned char* p = &pic.rgb[(static_cast<size_t>(row) * pic.width + col) * 3];
            const double k = (PAPER - INK) / 255.0;
            return {INK + k * p[0], INK + k * p[1], INK + k * p[2]};
        }
        return {INK, INK, INK};
    }
    const double paper = half + scene.paperMargin;
    if (ax < paper && ay < paper) {
        return {PAPER, PAPER, PAPER};
    }
    if (!table.taken) {
        table.colour = tableColour(x, y, scene.markerWidth);
        table.taken = true;
    }
    return table.colour;
}

// Maps ideal image points to the marker plane: the inverse of the plane's
// homography, plus the camera-depth row to reject points behind the camera.
struct PlaneMapping {
    double imageToPlane[3][3];
    double depth[3];  // camera z of plane point (x, y): depth . (x, y, 1)
    bool valid;
};

PlaneMapping planeMapping(const CameraParam& camera, const CameraPose& pose) {
    const double(&P)[3][4] = camera.mat;
    const double(&M)[3][4] = pose.m;
    double H[3][3];
    for (int i = 0; i < 3; ++i) {
        for (int col = 0; col < 3; ++col) {
            const int poseCol = col == 2 ? 3 : col;
            double sum = 0.0;
            for (int k = 0; k < 3; ++k) {
                sum += P[i][k] * M[k][poseCol];
            }
            H[i][col] = sum + (col == 2 ? P[i][3] : 0.0);
        }
    }
    PlaneMapping mapping;
    mapping.valid = invert3(H, mapping.imageToPlane);
    mapping.depth[0] = M[2][0];
    mapping.depth[1] = M[2][1];
    mapping.depth[2] = M[2][3];
    return mapping;
}

// Takes observed image point (ox, oy) back through the distortion and the
// projection to the plane; false when it looks past the plane or the plane
// lies behind the camera there.
bool observedToPlane(const CameraParam& camera, const PlaneMapping& mapping, double ox, double oy,
                     double& x, double& y) {
    const double* d = camera.distFactor;
    double ix = 0.0, iy = 0.0;
    if (d[2] == 0.0) {
        // No radial term: the mapping is the scale about the centre alone.
        ix = (ox - d[0]) / d[3] + d[0];
        iy = (oy - d[1]) / d[3] + d[1];
    } else {
        arObservedToIdeal(d, ox, oy, &ix, &iy);
    }
    const double(&h)[3][3] = mapping.imageToPlane;
    const double w = h[2][0] * ix + h[2][1] * iy + h[2][2];
    if (w == 0.0) {
        return false;
    }
    x = (h[0][0] * ix + h[0][1] * iy + h[0][2]) / w;
    y = (h[1][0] * ix + h[1][1] * iy + h[1][2]) / w;
    const double depth = mapping.depth[0] * x + mapping.depth[1] * y + mapping.depth[2];
    return depth > 0.0 && std::isfinite(x) && std::isfinite(y);
}

Colour sampleColour(const Scene& scene, const CameraParam& camera, const PlaneMapping& mapping,
                    double ox, double oy, TableSample& table) {
    double x = 0.0, y = 0.0;
    if (observedToPlane(camera, mapping, ox, oy, x, y)) {
        return planeColour(scene, x, y, table);
    }
    return {SKY[0], SKY[1], SKY[2]};
}

// What a ray sees of the chessboard scene: a black square, white (squares and
// paper alike), the table, or the sky.
enum BoardSurface : unsigned char { BOARD_INK, BOARD_PAPER, BOARD_TABLE, BOARD_SKY };
constexpr double BOARD_GREY[4] = {INK, PAPER, 120.0, SKY[1]};

BoardSurface boardSurface(const Chessboard& board, const CameraParam& camera,
                          const PlaneMapping& mapping, double ox, double oy) {
    double x = 0.0, y = 0.0;
    if (!observedToPlane(camera, mapping, ox, oy, x, y)) {
        return BOARD_SKY;
    }
    // Distances from the board's top-left outer corner, in squares.
    const double left = -0.5 * (board.columns + 1) * board.square;
    const double top = 0.5 * (board.rows + 1) * board.square;
    const double sx = (x - left) / board.square, sy = (top - y) / board.square;
    if (sx >= 0.0 && sy >= 0.0 && sx < board.columns + 1 && sy < board.rows + 1) {
        const long cell = static_cast<long>(sx) + static_cast<long>(sy);
        return cell % 2 == 0 ? BOARD_INK : BOARD_PAPER;
    }
    const double mx = board.margin / board.square;
    if (sx >= -mx && sy >= -mx && sx < board.columns + 1 + mx && sy < board.rows + 1 + mx) {
        return BOARD_PAPER;
    }
    return BOARD_TABLE;
}

unsigned char toByte(double v) {
    return static_cast<unsigned char>(std::clamp(std::lround(v), 0L, 255L));
}

// Sizes `frame` for the camera; false (the frame all sky) when the camera lies
// in the plane and sees it edge-on.
bool prepareFrame(const PlaneMapping& mapping, int width, int height, RgbImage& frame) {
    if (!mapping.valid) {
        frame = makeRgbImage(width, height, toByte(SKY[0]), toByte(SKY[1]), toByte(SKY[2]));
        return false;
    }
    if (frame.width != width || frame.height != height) {
        frame = makeRgbImage(width, height, 0, 0, 0);
    }
    return true;
}

}  // namespace

void renderFrame(const Scene& scene, const CameraParam& camera, const CameraPose& pose,
                 int supersample, RgbImage& frame) {
    const int width = camera.xsize, height = camera.ysize;
    const PlaneMapping mapping = planeMapping(camera, pose);
    if (!prepareFrame(mapping, width, height, frame)) {
        return;
    }
    const int n = std::max(1, supersample);
    const double step = 1.0 / n, first = 0.5 * step - 0.5, share = 1.0 / (n * n);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            Colour sum{0.0, 0.0, 0.0};
            TableSample table;
            for (int j = 0; j < n; ++j) {
                for (int i = 0; i < n; ++i) {
                    Colour c = sampleColour(scene, camera, mapping, x + first + i * step,
                                            y + first + j * step, table);
                    sum.r += c.r;
                    sum.g += c.g;
                    sum.b += c.b;
                }
            }
            unsigned char* p = &frame.rgb[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = toByte(sum.r * share);
            p[1] = toByte(sum.g * share);
            p[2] = toByte(sum.b * share);
        }
    }
}

void blurImage(RgbImage& image, double sigma) {
    if (!(sigma > 0.0)) {
        return;
    }
    const int radius = std::max(1, static_cast<int>(std::ceil(3.0 * sigma)));
    std::vector<double> kernel(2 * radius + 1);
    double total = 0.0;
    for (int k = -radius; k <= radius; ++k) {
        kernel[k + radius] = std::exp(-0.5 * k * k / (sigma * sigma));
        total += kernel[k + radius];
    }
    for (double& k : kernel) {
        k /= total;
    }
    const int w = image.width, h = image.height;
    const size_t rowValues = static_cast<size_t>(w) * 3;
    // Horizontal pass into `rows`, then each output row gathers the kernel's
    // rows of it; edges repeat the border pixel.
    std::vector<float> rows(image.rgb.size());
    for (int y = 0; y < h; ++y) {
        const unsigned char* src = &image.rgb[y * rowValues];
        float* dst = &rows[y * rowValues];
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < 3; ++c) {
                double sum = 0.0;
                for (int k = -radius; k <= radius; ++k) {
                    sum += kernel[k + radius] * src[std::clamp(x + k, 0, w - 1) * 3 + c];
                }
                dst[x * 3 + c] = static_cast<float>(sum);
            }
        }
    }
    std::vector<double> sum(rowValues);
    for (int y = 0; y < h; ++y) {
        std::fill(sum.begin(), sum.end(), 0.0);
        for (int k = -radius; k <= radius; ++k) {
            const float* src = &rows[std::clamp(y + k, 0, h - 1) * rowValues];
            const double weight = kernel[k + radius];
            for (size_t i = 0; i < rowValues; ++i) {
                sum[i] += weight * src[i];
            }
        }
        unsigned char* dst = &image.rgb[y * rowValues];
        for (size_t i = 0; i < rowValues; ++i) {
            dst[i] = toByte(sum[i]);
        }
    }
}

void applyExposure(RgbImage& image, double gain, double black) {
    if (gain == 1.0 && black == 0.0) {
        return;
    }
    const double scale = (255.0 - black) * gain / 255.0;
    for (unsigned char& v : image.rgb) {
        v = toByte(black + scale * v);
    }
}

void addNoise(RgbImage& image, double sigma, unsigned seed) {
    if (!(sigma > 0.0)) {
        return;
    }
    // The sum of four uniform bytes of one draw is close to Gaussian (its
    // mean is 510, its standard deviation sqrt(4 * (256^2 - 1) / 12)), and the
    // same on every platform, unlike std::normal_distribution.
    const double scale = sigma / std::sqrt(4.0 * (256.0 * 256.0 - 1.0) / 12.0);
    std::mt19937 generator(seed);
    for (unsigned char& v : image.rgb) {
        const uint32_t r = generator();
        const int sum =
            static_cast<int>((r & 255u) + ((r >> 8) & 255u) + ((r >> 16) & 255u) + (r >> 24));
        v = toByte(v + (sum - 510) * scale);
    }
}

void renderChessboard(const Chessboard& board, const CameraParam& camera, const CameraPose& pose,
                      int supersample, RgbImage& frame) {
    const int width = camera.xsize, height = camera.ysize;
    const PlaneMapping mapping = planeMapping(camera, pose);
    if (!prepareFrame(mapping, width, height, frame)) {
        return;
    }
    // What the corners of the pixels see, one row of corners ahead.
    const size_t across = static_cast<size_t>(width) + 1;
    std::vector<BoardSurface> above(across), below(across);
    const auto cornerRow = [&](int y, std::vector<BoardSurface>& row) {
        for (int x = 0; x <= width; ++x) {
            row[x] = boardSurface(board, camera, mapping, x - 0.5, y - 0.5);
        }
    };
    const int n = std::max(1, supersample);
    const double step = 1.0 / n, first = 0.5 * step - 0.5, share = 1.0 / (n * n);
    cornerRow(0, above);
    for (int y = 0; y < height; ++y) {
        cornerRow(y + 1, below);
        for (int x = 0; x < width; ++x) {
            const BoardSurface s = above[x];
            double grey = BOARD_GREY[s];
            if (above[x + 1] != s || below[x] != s || below[x + 1] != s) {
                grey = 0.0;
                for (int j = 0; j < n; ++j) {
                    for (int i = 0; i < n; ++i) {
                        grey += BOARD_GREY[boardSurface(
                            board, camera, mapping, x + first + i * step, y + first + j * step)];
                    }
                }
                grey *= share;
            }
            unsigned char* p = &frame.rgb[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = p[1] = p[2] = toByte(grey);
        }
        above.swap(below);
    }
}
