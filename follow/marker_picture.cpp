#include "follow/marker_picture.h"

#include <cmath>

namespace {

// Samples a texel's area is averaged over, along each axis.
constexpr int TEXEL_SAMPLES = 4;

// The reflectance at plane point (x, y): the cells' light inside the
// square's central half, ink on the border, paper beyond.
float reflectanceAt(const float* cellLight, double width, double x, double y) {
    const double h = 0.5 * width;
    if (std::fabs(x) >= h || std::fabs(y) >= h)
        return 1.0f;
    const double q = 0.25 * width;
    if (std::fabs(x) >= q || std::fabs(y) >= q)
        return 0.0f;
    int column = static_cast<int>((x + q) / (2.0 * q) * PICTURE_CELLS);
    int row = static_cast<int>((q - y) / (2.0 * q) * PICTURE_CELLS);
    column = column < 0 ? 0 : (column >= PICTURE_CELLS ? PICTURE_CELLS - 1 : column);
    row = row < 0 ? 0 : (row >= PICTURE_CELLS ? PICTURE_CELLS - 1 : row);
    return cellLight[row * PICTURE_CELLS + column];
}

// Each texel's value from the one below it: the mean of its 2 x 2 texels,
// smoothed by the [1 2 1] filter (a level's drawing is about a texel soft).
void halve(const PictureLevel& fine, PictureLevel& coarse) {
    auto at = [&](int r, int c) {
        r = r < 0 ? 0 : (r >= fine.size ? fine.size - 1 : r);
        c = c < 0 ? 0 : (c >= fine.size ? fine.size - 1 : c);
        return fine.texels[(static_cast<size_t>(r) * fine.size + c) * 3];
    };
    static const float WEIGHTS[4] = {1.0f, 3.0f, 3.0f, 1.0f};
    for (int r = 0; r < coarse.size; r++) {
        for (int c = 0; c < coarse.size; c++) {
            float sum = 0.0f;
            for (int i = 0; i < 4; i++)
                for (int j = 0; j < 4; j++)
                    sum += WEIGHTS[i] * WEIGHTS[j] * at(2 * r - 1 + i, 2 * c - 1 + j);
            coarse.texels[(static_cast<size_t>(r) * coarse.size + c) * 3] = sum / 64.0f;
        }
    }
}

// The slopes along x (right) and y (up) from the values, per marker unit.
void slopes(PictureLevel& level) {
    const int n = level.size;
    auto value = [&](int r, int c) {
        r = r < 0 ? 0 : (r >= n ? n - 1 : r);
        c = c < 0 ? 0 : (c >= n ? n - 1 : c);
        return level.texels[(static_cast<size_t>(r) * n + c) * 3];
    };
    const float scale = static_cast<float>(0.5 / level.texel);
    for (int r = 0; r < n; r++) {
        for (int c = 0; c < n; c++) {
            float* t = &level.texels[(static_cast<size_t>(r) * n + c) * 3];
            t[1] = scale * (value(r, c + 1) - value(r, c - 1));
            t[2] = scale * (value(r - 1, c) - value(r + 1, c));  // rows run down, y up
        }
    }
}

}  // namespace

void drawMarkerPicture(const unsigned char* cells, double width, TransferCurve curve,
                       MarkerPicture& picture) {
    float cellLight[PICTURE_CELLS * PICTURE_CELLS];
    for (int k = 0; k < PICTURE_CELLS * PICTURE_CELLS; k++) {
        double light = 0.0;
        for (int c = 0; c < 3; c++)
            light += transferDecode(curve, cells[3 * k + c] / 255.0) / 3.0;
        cellLight[k] = static_cast<float>(light);
    }
    picture.width = width;
    picture.reach = width * (0.5 + PICTURE_MARGIN_SHARE);
    PictureLevel& finest = picture.levels[0];
    finest.texel = width / PICTURE_TEXELS;
    finest.size = static_cast<int>(std::lround(2.0 * picture.reach / finest.texel));
    finest.texels.assign(static_cast<size_t>(finest.size) * finest.size * 3, 0.0f);
    for (int r = 0; r < finest.size; r++) {
        for (int c = 0; c < finest.size; c++) {
            float sum = 0.0f;
            for (int i = 0; i < TEXEL_SAMPLES; i++) {
                for (int j = 0; j < TEXEL_SAMPLES; j++) {
                    const double x =
                        -picture.reach + (c + (j + 0.5) / TEXEL_SAMPLES) * finest.texel;
                    const double y = picture.reach - (r + (i + 0.5) / TEXEL_SAMPLES) * finest.texel;
                    sum += reflectanceAt(cellLight, width, x, y);
                }
            }
            finest.texels[(static_cast<size_t>(r) * finest.size + c) * 3] =
                sum / (TEXEL_SAMPLES * TEXEL_SAMPLES);
        }
    }
    for (int l = 1; l < PICTURE_LEVELS; l++) {
        PictureLevel& level = picture.levels[l];
        level.size = picture.levels[l - 1].size / 2;
        level.texel = 2.0 * picture.levels[l - 1].texel;
        level.texels.assign(static_cast<size_t>(level.size) * level.size * 3, 0.0f);
        halve(picture.levels[l - 1], level);
    }
    for (PictureLevel& level : picture.levels)
        slopes(level);
}
