#pragma once

#include <cstddef>
#include <vector>

#include "image/transfer_curve.h"

// Cells a side of the marker's picture as a pattern file holds it.
inline constexpr int PICTURE_CELLS = 16;
// Texels across the black square at the finest level of detail.
inline constexpr int PICTURE_TEXELS = 192;
// Levels of detail, each half as fine as the one before.
inline constexpr int PICTURE_LEVELS = 4;
// The white paper drawn around the square, as a share of its width on
// each side (a quarter: the margin of a print from lumeko-pattern).
inline constexpr double PICTURE_MARGIN_SHARE = 0.25;

// One level: `size` x `size` texels of `texel` marker units, each holding
// the reflectance and its slope along x and along y (per marker unit).
struct PictureLevel {
    int size = 0;
    double texel = 0.0;
    std::vector<float> texels;  // (row * size + column) * 3: value, d/dx, d/dy
};

// The marker as printed, in linear light, on its plane (marker units, x
// right, y up, the square centred on the origin): reflectance 0 for the
// black border, the picture's cells in the square's central half, 1 for the
// white paper around it, out to PICTURE_MARGIN_SHARE of the width.
struct MarkerPicture {
    double width = 0.0;  // of the black square
    double reach = 0.0;  // half the side of what is drawn: the square and its margin
    PictureLevel levels[PICTURE_LEVELS];
};

// Draws the marker of `width` whose picture is `cells` (PICTURE_CELLS x
// PICTURE_CELLS cells, top row first, three values blue, green, red each, as
// a pattern file's upright block holds them), its levels decoded into light
// through `curve`. Allocates the picture's storage (once, at set-up).
void drawMarkerPicture(const unsigned char* cells, double width, TransferCurve curve,
                       MarkerPicture& picture);

// The reflectance and, unless `slopes` is false, its slope at plane point
// (x, y) at `level`, bilinear; false outside what is drawn.
inline bool pictureAt(const PictureLevel& level, double reach, double x, double y, float out[3],
                      bool slopes = true) {
    const double u = (x + reach) / level.texel - 0.5;
    const double v = (reach - y) / level.texel - 0.5;
    if (!(u >= 0.0 && v >= 0.0 && u < level.size - 1 && v < level.size - 1))
        return false;
    const int c = static_cast<int>(u);
    const int r = static_cast<int>(v);
    const float fu = static_cast<float>(u - c);
    const float fv = static_cast<float>(v - r);
    const float* a = &level.texels[(static_cast<size_t>(r) * level.size + c) * 3];
    const float* b = a + static_cast<size_t>(level.size) * 3;
    for (int k = 0; k < (slopes ? 3 : 1); k++) {
        const float top = a[k] + fu * (a[3 + k] - a[k]);
        const float bottom = b[k] + fu * (b[3 + k] - b[k]);
        out[k] = top + fv * (bottom - top);
    }
    return true;
}
