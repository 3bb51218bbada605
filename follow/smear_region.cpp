#include "follow/smear_region.h"

#include <algorithm>
#include <cmath>

namespace {

// The reduced picture is about this many cells wide.
constexpr int REDUCED_WIDTH = 160;
// The frame's darkest level is taken this far up its levels (share of the
// cells), so that a few dark pixels of noise do not set it; where that
// level lies within the paper's (a small marker in a wide frame leaves
// fewer of its cells dark), this far up: half the smallest region's share.
constexpr double DARKEST_SHARE = 0.01;
constexpr double DARKEST_SHARE_SMALL = 0.001;
// Below this contrast (levels) between the darkest and the median level the
// frame holds no black ink. A marker smeared by two thirds of its width
// leaves its darkest cells only 30 to 40 levels below the paper.
constexpr double CONTRAST_MIN = 25.0;
// A region smaller than this share of the frame's cells is no border; one
// larger than this is a shadow or a dark floor, not a marker.
constexpr double AREA_SHARE_MIN = 0.002;
constexpr double AREA_SHARE_MAX = 0.15;
// A border's side smeared along is a band: its extent across the smear at
// most this share of its length (a square blob is a patch of the scene).
constexpr double BAND_SHARE_MAX = 1.0;

struct Grown {
    int id = -1;
    int area = 0;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    double sumX = 0.0, sumY = 0.0;
};

void reduce(SmearRegionStorage& s, const FrameImage& frame) {
    const float cellPixels = static_cast<float>(3 * s.step * s.step);
    for (int cy = 0; cy < s.height; cy++) {
        for (int cx = 0; cx < s.width; cx++) {
            int sum = 0;
            for (int y = cy * s.step; y < (cy + 1) * s.step; y++) {
                const unsigned char* p =
                    frame.pixels + 4 * (static_cast<long>(y) * frame.width + cx * s.step);
                for (int x = 0; x < s.step; x++, p += 4)
                    sum += p[0] + p[1] + p[2];
            }
            s.grey[cy * s.width + cx] = static_cast<float>(sum) / cellPixels;
        }
    }
}

// The reduced picture's darkest levels (`share` of its cells lie below,
// for both shares) and its median.
void levels(const SmearRegionStorage& s, const double (&share)[2], double (&darkest)[2],
            double* median) {
    int histogram[256] = {};
    const int cells = s.width * s.height;
    for (int i = 0; i < cells; i++)
        histogram[std::clamp(static_cast<int>(s.grey[i]), 0, 255)]++;
    int seen = 0;
    darkest[0] = darkest[1] = -1.0;
    for (int level = 0; level < 256; level++) {
        seen += histogram[level];
        for (int k = 0; k < 2; k++)
            if (darkest[k] < 0.0 && seen >= share[k] * cells)
                darkest[k] = level;
        if (seen >= cells / 2) {
            *median = level;
            return;
        }
    }
    *median = 255.0;
}

// Grows the region of dark cells from cell `start`, labelling them `id`.
Grown grow(SmearRegionStorage& s, int start, int id, float threshold) {
    Grown g;
    g.id = id;
    g.x0 = g.x1 = start % s.width;
    g.y0 = g.y1 = start / s.width;
    int top = 0;
    s.stack[top++] = start;
    s.label[start] = id;
    while (top > 0) {
        const int cell = s.stack[--top];
        const int x = cell % s.width, y = cell / s.width;
        g.area++;
        g.sumX += x;
        g.sumY += y;
        g.x0 = std::min(g.x0, x);
        g.x1 = std::max(g.x1, x);
        g.y0 = std::min(g.y0, y);
        g.y1 = std::max(g.y1, y);
        const int next[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
        for (const auto& n : next) {
            if (n[0] < 0 || n[1] < 0 || n[0] >= s.width || n[1] >= s.height)
                continue;
            const int c = n[1] * s.width + n[0];
            if (s.label[c] == -1 && s.grey[c] < threshold) {
                s.label[c] = id;
                s.stack[top++] = c;
            }
        }
    }
    return g;
}

// The direction along which the picture about region `g` changes least (a
// smear's), from the gradients' structure tensor.
void smearDirection(const SmearRegionStorage& s, const Grown& g, double along[2]) {
    const int padX = (g.x1 - g.x0) / 2 + 1, padY = (g.y1 - g.y0) / 2 + 1;
    const int x0 = std::max(1, g.x0 - padX), x1 = std::min(s.width - 2, g.x1 + padX);
    const int y0 = std::max(1, g.y0 - padY), y1 = std::min(s.height - 2, g.y1 + padY);
    double xx = 0.0, xy = 0.0, yy = 0.0;
    for (int y = y0; y <= y1; y++) {
        for (int x = x0; x <= x1; x++) {
            const float* c = &s.grey[y * s.width + x];
            const double gx = c[1] - c[-1];
            const double gy = c[s.width] - c[-s.width];
            xx += gx * gx;
            xy += gx * gy;
            yy += gy * gy;
        }
    }
    // The eigenvector of the smaller eigenvalue.
    const double angle = 0.5 * std::atan2(2.0 * xy, xx - yy) + 0.5 * M_PI;
    along[0] = std::cos(angle);
    along[1] = std::sin(angle);
}

SmearRegion describe(const SmearRegionStorage& s, const Grown& g) {
    SmearRegion r;
    smearDirection(s, g, r.along);
    const double cx = g.sumX / g.area, cy = g.sumY / g.area;
    double a0 = 0.0, a1 = 0.0, c0 = 0.0, c1 = 0.0;
    for (int y = g.y0; y <= g.y1; y++) {
        for (int x = g.x0; x <= g.x1; x++) {
            if (s.label[y * s.width + x] != g.id)
                continue;
            const double a = (x - cx) * r.along[0] + (y - cy) * r.along[1];
            const double c = -(x - cx) * r.along[1] + (y - cy) * r.along[0];
            a0 = std::fmin(a0, a);
            a1 = std::fmax(a1, a);
            c0 = std::fmin(c0, c);
            c1 = std::fmax(c1, c);
        }
    }
    // Cell centres to frame pixels: a cell covers `step` pixels.
    r.centre[0] = (cx + 0.5) * s.step - 0.5;
    r.centre[1] = (cy + 0.5) * s.step - 0.5;
    r.length = (a1 - a0 + 1.0) * s.step;
    r.across = (c1 - c0 + 1.0) * s.step;
    return r;
}

}  // namespace

void prepareSmearRegions(SmearRegionStorage& storage, int width, int height) {
    storage.step = std::max(1, width / REDUCED_WIDTH);
    storage.width = width / storage.step;
    storage.height = height / storage.step;
    const size_t cells = static_cast<size_t>(storage.width) * storage.height;
    storage.grey.assign(cells, 0.0f);
    storage.label.assign(cells, -1);
    storage.stack.assign(cells, 0);
}

int findSmearRegions(SmearRegionStorage& s, const FrameImage& frame, SmearRegion* out) {
    if (s.width < 3 || s.height < 3 || frame.width / s.step != s.width ||
        frame.height / s.step != s.height)
        return 0;
    reduce(s, frame);
    double darkest[2] = {}, median = 0.0;
    levels(s, {DARKEST_SHARE, DARKEST_SHARE_SMALL}, darkest, &median);
    const double dark = median - darkest[0] >= CONTRAST_MIN ? darkest[0] : darkest[1];
    if (median - dark < CONTRAST_MIN)
        return 0;
    const float threshold = static_cast<float>(0.5 * (dark + median));
    const int cells = s.width * s.height;
    std::fill(s.label.begin(), s.label.begin() + cells, -1);
    SmearRegion largest[SMEAR_REGION_MAX];
    int areas[SMEAR_REGION_MAX] = {};
    int id = 0;
    for (int c = 0; c < cells; c++) {
        if (s.label[c] != -1 || !(s.grey[c] < threshold))
            continue;
        const Grown g = grow(s, c, id++, threshold);
        if (g.area < AREA_SHARE_MIN * cells || g.area > AREA_SHARE_MAX * cells)
            continue;
        const SmearRegion r = describe(s, g);
        if (r.across > BAND_SHARE_MAX * r.length)
            continue;
        // Kept among the largest, in order.
        for (int k = 0; k < SMEAR_REGION_MAX; k++) {
            if (g.area > areas[k]) {
                std::copy_backward(largest + k, largest + SMEAR_REGION_MAX - 1,
                                   largest + SMEAR_REGION_MAX);
                std::copy_backward(areas + k, areas + SMEAR_REGION_MAX - 1,
                                   areas + SMEAR_REGION_MAX);
                largest[k] = r;
                areas[k] = g.area;
                break;
            }
        }
    }
    int count = 0;
    while (count < SMEAR_REGION_MAX && areas[count] > 0)
        count++;
    std::copy(largest, largest + count, out);
    return count;
}
