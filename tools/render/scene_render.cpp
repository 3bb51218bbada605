#include "tools/render/scene_render.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "camera/distortion.h"
#include "pose/pose_projection.h"

namespace {

// Printed ink and paper are never perfectly black or white.
constexpr double INK = 25.0;
constexpr double PAPER = 235.0;
constexpr double SKY[3] = {175.0, 195.0, 215.0};
constexpr double TABLE[3] = {190.0, 172.0, 150.0};
// Rendering uses at most this many threads.
constexpr int RENDER_THREADS = 8;

struct Colour {
    double r, g, b;
};

double latticeValue(int64_t ix, int64_t iy) {
    uint64_t h = static_cast<uint64_t>(ix) * 0x9E3779B97F4A7C15ull ^
                 static_cast<uint64_t>(iy) * 0xC2B2AE3D27D4EB4Full;
    h ^= h >> 31;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 29;
    return static_cast<double>(h >> 11) * (1.0 / 9007199254740992.0);
}

// The lattice values at the corners of the cell last looked up: neighbouring
// samples mostly fall in the same cell, and hashing its corners again cost
// a sixth of a render.
struct NoiseCell {
    int64_t ix = INT64_MIN, iy = INT64_MIN;
    double v00 = 0.0, v10 = 0.0, v01 = 0.0, v11 = 0.0;
};

// Smoothly interpolated lattice noise in [0, 1).
double valueNoise(double x, double y, NoiseCell& cell) {
    const double fx = std::floor(x), fy = std::floor(y);
    const int64_t ix = static_cast<int64_t>(fx), iy = static_cast<int64_t>(fy);
    if (ix != cell.ix || iy != cell.iy) {
        cell = {ix,
                iy,
                latticeValue(ix, iy),
                latticeValue(ix + 1, iy),
                latticeValue(ix, iy + 1),
                latticeValue(ix + 1, iy + 1)};
    }
    double tx = x - fx, ty = y - fy;
    tx = tx * tx * (3.0 - 2.0 * tx);
    ty = ty * ty * (3.0 - 2.0 * ty);
    const double top = cell.v00 + tx * (cell.v10 - cell.v00);
    const double bottom = cell.v01 + tx * (cell.v11 - cell.v01);
    return top + ty * (bottom - top);
}

// The cells a run of samples over the table last looked up, one per texture.
struct TableNoise {
    NoiseCell blotch, grain;
};

// A light table top with blotches and a grain along x; never dark enough to
// look like ink.
Colour tableColour(double x, double y, double width, TableNoise& noise) {
    const double blotch = valueNoise(x / (0.4 * width), y / (0.4 * width), noise.blotch);
    const double grain = valueNoise(x / (0.6 * width), y / (0.05 * width), noise.grain);
    const double shade = 0.82 + 0.18 * (0.6 * blotch + 0.4 * grain);
    return {TABLE[0] * shade, TABLE[1] * shade, TABLE[2] * shade};
}

// The table's texture has no sharp edges, or a picture on it is filtered to
// the pixel's footprint, so one sample of it per pixel is enough; the first
// sample of a pixel that hits the table sets it.
struct TableSample {
    bool taken = false;
    Colour colour{0.0, 0.0, 0.0};
    TableNoise* noise = nullptr;  // the cells the band's samples last looked up
};

// Maps ideal image points to the marker plane: the inverse of the plane's
// homography, plus the pose to reject points behind the camera; and the rays
// in marker coordinates, for what stands on the plane.
struct PlaneMapping {
    double imageToPlane[3][3];
    CameraPose pose;
    bool valid;
    double eye[3];            // the camera's centre
    double imageToRay[3][3];  // the direction of the ray through ideal point (x, y, 1)
};

PlaneMapping planeMapping(const CameraParam& camera, const CameraPose& pose) {
    const double(&P)[3][4] = camera.mat;
    double H[3][3];
    arPlaneHomography(P, pose, H);
    PlaneMapping mapping;
    mapping.valid = arInvert3x3(H, mapping.imageToPlane) == MathStatus::Ok;
    mapping.pose = pose;
    // The projection is A X + b for camera point X: the rays leave the centre
    // -A^-1 b along A^-1 (x, y, 1); the rotation's transpose takes them to
    // marker coordinates.
    const double A[3][3] = {
        {P[0][0], P[0][1], P[0][2]}, {P[1][0], P[1][1], P[1][2]}, {P[2][0], P[2][1], P[2][2]}};
    double Ainv[3][3] = {};
    arInvert3x3(A, Ainv);
    double t[3];
    arPoseTranslation(pose, t);
    double fromOrigin[3];  // the centre less the marker's origin, in camera coordinates
    for (int j = 0; j < 3; ++j) {
        fromOrigin[j] =
            -(Ainv[j][0] * P[0][3] + Ainv[j][1] * P[1][3] + Ainv[j][2] * P[2][3]) - t[j];
    }
    arPoseRotateBack(pose, fromOrigin, mapping.eye);
    for (int k = 0; k < 3; ++k) {
        const double through[3] = {Ainv[0][k], Ainv[1][k], Ainv[2][k]};
        double ray[3];
        arPoseRotateBack(pose, through, ray);
        for (int i = 0; i < 3; ++i) {
            mapping.imageToRay[i][k] = ray[i];
        }
    }
    return mapping;
}

// Takes observed image point (ox, oy) back through the distortion to ideal
// point (ix, iy) and through the projection to the plane; false when it looks
// past the plane or the plane lies behind the camera there.
bool observedToPlane(const CameraParam& camera, const PlaneMapping& mapping, double ox, double oy,
                     double& ix, double& iy, double& x, double& y) {
    const double* d = camera.distFactor;
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
    double inCamera[3];
    arPoseApplyPlane(mapping.pose, x, y, inCamera);
    return inCamera[2] > 0.0 && std::isfinite(x) && std::isfinite(y);
}

// How many plane units one observed pixel spans at plane point (x, y), seen
// at ideal point (ix, iy): the longer of the homography's two image steps.
double planeUnitsPerPixel(const CameraParam& camera, const PlaneMapping& mapping, double ix,
                          double iy, double x, double y) {
    const double(&h)[3][3] = mapping.imageToPlane;
    const double w = h[2][0] * ix + h[2][1] * iy + h[2][2];
    const double across = std::hypot(h[0][0] - x * h[2][0], h[1][0] - y * h[2][0]);
    const double down = std::hypot(h[0][1] - x * h[2][1], h[1][1] - y * h[2][1]);
    return std::max(across, down) / std::fabs(w) / camera.distFactor[3];
}

// Where a sample lands: its observed and its ideal image point.
struct SamplePoint {
    double ox, oy, ix, iy;
};

// The print at point (x, y) of a marker `width` wide centred on the origin:
// its picture, the black square or the paper; false beyond the paper.
bool printColour(const RgbImage& pic, double width, double margin, double x, double y,
                 Colour& colour) {
    const double half = 0.5 * width;
    const double ax = std::fabs(x), ay = std::fabs(y);
    if (ax < half && ay < half) {
        const double quarter = 0.5 * half;
        if (ax < quarter && ay < quarter) {
            int col = static_cast<int>((x + quarter) / (2.0 * quarter) * pic.width);
            int row = static_cast<int>((quarter - y) / (2.0 * quarter) * pic.height);
            col = std::clamp(col, 0, pic.width - 1);
            row = std::clamp(row, 0, pic.height - 1);
            const unsigned char* p = &pic.rgb[(static_cast<size_t>(row) * pic.width + col) * 3];
            const double k = (PAPER - INK) / 255.0;
            colour = {INK + k * p[0], INK + k * p[1], INK + k * p[2]};
            return true;
        }
        colour = {INK, INK, INK};
        return true;
    }
    const double paper = half + margin;
    if (ax < paper && ay < paper) {
        colour = {PAPER, PAPER, PAPER};
        return true;
    }
    return false;
}

// The nearest sheet of the set the ray meets at 0 < s < `limit`: its s, its
// colour and where it is met (scene coordinates). False when it meets none.
bool nearestSheet(const std::vector<Sheet>& sheets, const Ray& ray, double limit, double& s,
                  Colour& colour, double& wx, double& wy) {
    bool met = false;
    for (const Sheet& sheet : sheets) {
        // The ray in the sheet's own coordinates, where the sheet is z = 0.
        double from[3], origin[3], direction[3];
        for (int i = 0; i < 3; ++i) {
            from[i] = ray.origin[i] - sheet.toWorld.m[i][3];
        }
        arPoseRotateBack(sheet.toWorld, from, origin);
        arPoseRotateBack(sheet.toWorld, ray.direction, direction);
        if (direction[2] == 0.0) {
            continue;
        }
        const double at = -origin[2] / direction[2];
        Colour c;
        if (!(at > 0.0 && at < limit) ||
            !printColour(sheet.picture, sheet.width, 0.25 * sheet.width,
                         origin[0] + at * direction[0], origin[1] + at * direction[1], c)) {
            continue;
        }
        met = true;
        limit = s = at;
        colour = c;
        wx = ray.origin[0] + at * ray.direction[0];
        wy = ray.origin[1] + at * ray.direction[1];
    }
    return met;
}

Colour planeColour(const Scene& scene, const CameraParam& camera, const PlaneMapping& mapping,
                   const SamplePoint& at, double x, double y, TableSample& table) {
    Colour print;
    if (printColour(scene.picture, scene.markerWidth, scene.paperMargin, x, y, print)) {
        return print;
    }
    if (!table.taken && scene.table) {
        // The picture filtered over the whole pixel's footprint.
        double c[3];
        scene.table->sample(x, y, planeUnitsPerPixel(camera, mapping, at.ix, at.iy, x, y), c);
        table.colour = {c[0], c[1], c[2]};
        table.taken = true;
    }
    if (!table.taken) {
        table.colour = tableColour(x, y, scene.markerWidth, *table.noise);
        table.taken = true;
    }
    return table.colour;
}

// The scene's lighting with its directions worked out once a frame, not at
// every sample: the same cosines and sines, so the same picture.
struct LightField {
    const Lighting& light;
    bool even;  // no gradient and no shadow: every point lit alike
    double gradientCos, gradientSin, shadowCos, shadowSin;

    explicit LightField(const Lighting& l)
        : light(l),
          even(l.gradientFloor == 1.0 && !l.shadow),
          gradientCos(std::cos(l.gradientDegrees * M_PI / 180.0)),
          gradientSin(std::sin(l.gradientDegrees * M_PI / 180.0)),
          shadowCos(std::cos(l.shadowDegrees * M_PI / 180.0)),
          shadowSin(std::sin(l.shadowDegrees * M_PI / 180.0)) {}

    // The light falling on plane point (x, y): 1 without a gradient or a shadow.
    double at(double x, double y) const {
        double factor = 1.0;
        if (light.gradientFloor != 1.0) {
            const double t = (x * gradientCos + y * gradientSin) / light.gradientSpan + 0.5;
            factor *= 1.0 + std::clamp(t, 0.0, 1.0) * (light.gradientFloor - 1.0);
        }
        if (light.shadow) {
            const double beyond = x * shadowCos + y * shadowSin - light.shadowOffset;
            const double dark = light.shadowSoftness > 0.0
                                    ? std::clamp(beyond / light.shadowSoftness + 0.5, 0.0, 1.0)
                                    : (beyond > 0.0 ? 1.0 : 0.0);
            factor *= 1.0 + dark * (light.shadowFactor - 1.0);
        }
        return factor;
    }
};

Colour lit(const LightField& light, Colour c, double x, double y) {
    if (light.even) {
        return c;
    }
    const double factor = light.at(x, y);
    return {c.r * factor, c.g * factor, c.b * factor};
}

Ray rayThrough(const PlaneMapping& mapping, double ix, double iy) {
    Ray ray;
    for (int i = 0; i < 3; ++i) {
        const double(&r)[3] = mapping.imageToRay[i];
        ray.origin[i] = mapping.eye[i];
        ray.direction[i] = r[0] * ix + r[1] * iy + r[2];
    }
    return ray;
}

Colour sampleColour(const Scene& scene, const LightField& light, const CameraParam& camera,
                    const PlaneMapping& mapping, const SamplePoint& at, TableSample& table) {
    double ix = 0.0, iy = 0.0, x = 0.0, y = 0.0;
    const bool onPlane = observedToPlane(camera, mapping, at.ox, at.oy, ix, iy, x, y);
    if (!scene.discs.empty() || !scene.boxes.empty() || !scene.sheets.empty()) {
        const Ray ray = rayThrough(mapping, ix, iy);
        // On the plane the ray reaches z = 0 at the point found; a disc lying
        // on the sheet (height 0) is met there too and lies on top.
        double limit = INFINITY;
        if (onPlane && ray.direction[2] != 0.0) {
            limit = -ray.origin[2] / ray.direction[2] * (1.0 + 1e-9);
        }
        // A sheet of the set lying on the table is met there too and lies on it.
        double sheetAt = 0.0, wx = 0.0, wy = 0.0;
        Colour sheet;
        const bool onSheet = nearestSheet(scene.sheets, ray, limit, sheetAt, sheet, wx, wy);
        if (onSheet) {
            limit = sheetAt;
        }
        double s = 0.0, c[3];
        if (nearestObject(scene.discs, scene.boxes, ray, limit, s, c)) {
            return lit(light, {c[0], c[1], c[2]}, ray.origin[0] + s * ray.direction[0],
                       ray.origin[1] + s * ray.direction[1]);
        }
        if (onSheet) {
            return lit(light, sheet, wx, wy);
        }
    }
    if (onPlane) {
        const SamplePoint ideal{at.ox, at.oy, ix, iy};
        return lit(light, planeColour(scene, camera, mapping, ideal, x, y, table), x, y);
    }
    return {SKY[0], SKY[1], SKY[2]};
}

// What a ray sees of the chessboard scene: a black square, white (squares and
// paper alike), the table, or the sky.
enum BoardSurface : unsigned char { BOARD_INK, BOARD_PAPER, BOARD_TABLE, BOARD_SKY };
constexpr double BOARD_GREY[4] = {INK, PAPER, 120.0, SKY[1]};

BoardSurface boardSurface(const Chessboard& board, const CameraParam& camera,
                          const PlaneMapping& mapping, double ox, double oy) {
    double ix = 0.0, iy = 0.0, x = 0.0, y = 0.0;
    if (!observedToPlane(camera, mapping, ox, oy, ix, iy, x, y)) {
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

// v rounded half away from zero, as std::lround rounds it, clamped to a byte.
// Done inline: the library call costs a tenth of a render. The fraction
// v - trunc(v) is exact, so the result is lround's to the last bit.
unsigned char toByte(double v) {
    if (!(v > 0.0)) {
        return 0;  // NaN too, which lround would take far below 0
    }
    if (v >= 255.5) {
        return 255;
    }
    const int whole = static_cast<int>(v);
    return static_cast<unsigned char>(whole + (v - whole >= 0.5));
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

// A place in [0, 1) for sample (i, j) of pixel (x, y), along x (axis 0) or
// y (axis 1): a hash of the numbers (splitmix64's mixing), the same on every
// platform and in every run.
double cellPlace(int x, int y, int i, int j, int axis) {
    uint64_t z =
        (static_cast<uint64_t>(static_cast<uint32_t>(x)) << 32 | static_cast<uint32_t>(y)) ^
        (static_cast<uint64_t>(i * 16 + j) << 1 | static_cast<uint64_t>(axis)) *
            0x9e3779b97f4a7c15ull;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) * 0x1.0p-53;
}

}  // namespace

void renderFrame(const Scene& scene, const CameraParam& camera, const CameraPose& pose,
                 int supersample, RgbImage& frame, double offsetX, double offsetY, bool jitter) {
    const int width = camera.xsize, height = camera.ysize;
    const PlaneMapping mapping = planeMapping(camera, pose);
    if (!prepareFrame(mapping, width, height, frame)) {
        return;
    }
    const LightField light(scene.light);
    const int n = std::max(1, supersample);
    const double step = 1.0 / n, first = 0.5 * step - 0.5, share = 1.0 / (n * n);
    const double firstX = first + offsetX, firstY = first + offsetY;
    // Every pixel on its own, so bands of rows go to threads of their own
    // and the frame is the same whatever their number.
    const auto band = [&](int top, int bottom) {
        TableNoise noise;
        for (int y = top; y < bottom; ++y) {
            for (int x = 0; x < width; ++x) {
                Colour sum{0.0, 0.0, 0.0};
                TableSample table{.noise = &noise};
                for (int j = 0; j < n; ++j) {
                    for (int i = 0; i < n; ++i) {
                        const double shiftX =
                            jitter ? (cellPlace(x, y, i, j, 0) - 0.5) * step : 0.0;
                        const double shiftY =
                            jitter ? (cellPlace(x, y, i, j, 1) - 0.5) * step : 0.0;
                        const SamplePoint at{x + firstX + i * step + shiftX,
                                             y + firstY + j * step + shiftY, 0.0, 0.0};
                        Colour c = sampleColour(scene, light, camera, mapping, at, table);
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
    };
    const int bands = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1,
                                 std::min(RENDER_THREADS, height));
    std::vector<std::thread> threads;
    for (int k = 1; k < bands; ++k) {
        threads.emplace_back(band, height * k / bands, height * (k + 1) / bands);
    }
    band(0, height / bands);
    for (std::thread& thread : threads) {
        thread.join();
    }
}

bool planePointSeen(const CameraParam& camera, const CameraPose& pose, double ox, double oy,
                    double& x, double& y) {
    const PlaneMapping mapping = planeMapping(camera, pose);
    double ix = 0.0, iy = 0.0;
    return mapping.valid && observedToPlane(camera, mapping, ox, oy, ix, iy, x, y);
}

double borderCovered(const Scene& scene, const CameraParam& camera, const CameraPose& pose) {
    if (scene.discs.empty() && scene.boxes.empty()) {
        return 0.0;
    }
    const PlaneMapping mapping = planeMapping(camera, pose);
    // A grid of cells over the square; the border is what lies outside its central half.
    constexpr int CELLS = 48;
    int border = 0, hidden = 0;
    for (int j = 0; j < CELLS; ++j) {
        for (int i = 0; i < CELLS; ++i) {
            const double u = (i + 0.5) / CELLS - 0.5, v = (j + 0.5) / CELLS - 0.5;
            if (std::fabs(u) < 0.25 && std::fabs(v) < 0.25) {
                continue;
            }
            // The ray from the camera's centre to the point, which it reaches at s = 1.
            Ray ray;
            const double point[3] = {u * scene.markerWidth, v * scene.markerWidth, 0.0};
            for (int k = 0; k < 3; ++k) {
                ray.origin[k] = mapping.eye[k];
                ray.direction[k] = point[k] - mapping.eye[k];
            }
            double s = 0.0, colour[3];
            ++border;
            hidden += nearestObject(scene.discs, scene.boxes, ray, 1.0 + 1e-9, s, colour);
        }
    }
    return static_cast<double>(hidden) / border;
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
