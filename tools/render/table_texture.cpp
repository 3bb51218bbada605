#include "tools/render/table_texture.h"

#include <algorithm>
#include <cmath>

namespace {

// Index `i` wrapped into 0 .. n - 1: the picture repeats in both directions.
int wrap(long i, int n) {
    const long m = i % n;
    return static_cast<int>(m < 0 ? m + n : m);
}

}  // namespace

TableTexture::TableTexture(const RgbImage& picture, double tileWidth)
    : tileWidth_(tileWidth), tileHeight_(tileWidth * picture.height / picture.width) {
    Level first{picture.width, picture.height, {}};
    first.rgb.assign(picture.rgb.begin(), picture.rgb.end());
    levels_.push_back(std::move(first));
    // Each level averages 2 x 2 texels of the one before (wrapping at odd sizes).
    while (levels_.back().width > 1 || levels_.back().height > 1) {
        const Level& above = levels_.back();
        Level next{(above.width + 1) / 2, (above.height + 1) / 2, {}};
        next.rgb.resize(static_cast<size_t>(next.width) * next.height * 3);
        for (int y = 0; y < next.height; ++y) {
            for (int x = 0; x < next.width; ++x) {
                for (int c = 0; c < 3; ++c) {
                    float sum = 0.0f;
                    for (int k = 0; k < 4; ++k) {
                        const int sx = wrap(2 * x + k % 2, above.width);
                        const int sy = wrap(2 * y + k / 2, above.height);
                        sum += above.rgb[(static_cast<size_t>(sy) * above.width + sx) * 3 + c];
                    }
                    next.rgb[(static_cast<size_t>(y) * next.width + x) * 3 + c] = 0.25f * sum;
                }
            }
        }
        levels_.push_back(std::move(next));
    }
}

void TableTexture::bilinear(const Level& level, double u, double v, double colour[3]) const {
    const double px = u * level.width - 0.5, py = v * level.height - 0.5;
    const double fx = std::floor(px), fy = std::floor(py);
    const double tx = px - fx, ty = py - fy;
    const int x0 = wrap(static_cast<long>(fx), level.width);
    const int y0 = wrap(static_cast<long>(fy), level.height);
    const int x1 = wrap(x0 + 1L, level.width), y1 = wrap(y0 + 1L, level.height);
    const auto texel = [&](int x, int y) {
        return &level.rgb[(static_cast<size_t>(y) * level.width + x) * 3];
    };
    const float *a = texel(x0, y0), *b = texel(x1, y0), *c = texel(x0, y1), *d = texel(x1, y1);
    for (int k = 0; k < 3; ++k) {
        const double top = a[k] + tx * (b[k] - a[k]);
        const double bottom = c[k] + tx * (d[k] - c[k]);
        colour[k] = top + ty * (bottom - top);
    }
}

void TableTexture::sample(double x, double y, double footprint, double colour[3]) const {
    const double u = x / tileWidth_ - std::floor(x / tileWidth_);
    const double v = -y / tileHeight_ - std::floor(-y / tileHeight_);
    const double texels = footprint / tileWidth_ * levels_[0].width;
    const double lod =
        std::clamp(std::log2(std::max(texels, 1.0)), 0.0, static_cast<double>(levels_.size() - 1));
    const size_t level = static_cast<size_t>(lod);
    const double blend = lod - static_cast<double>(level);
    bilinear(levels_[level], u, v, colour);
    if (blend > 0.0 && level + 1 < levels_.size()) {
        double coarser[3];
        bilinear(levels_[level + 1], u, v, coarser);
        for (int k = 0; k < 3; ++k) {
            colour[k] += blend * (coarser[k] - colour[k]);
        }
    }
}
