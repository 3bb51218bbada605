#include "tools/common/marker_picture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// Darker than mid-grey counts as part of the black square.
constexpr int DARK_SUM_LIMIT = 3 * 128;
// The border band must be this dark (share of its pixels) to count as a border.
constexpr double BORDER_DARK_SHARE = 0.9;

bool isDark(const RgbImage& image, int x, int y) {
    const unsigned char* p = &image.rgb[(static_cast<size_t>(y) * image.width + x) * 3];
    return p[0] + p[1] + p[2] < DARK_SUM_LIMIT;
}

struct PixelBox {
    int x0, y0, x1, y1;  // inclusive
};

bool darkBoundingBox(const RgbImage& image, PixelBox& box) {
    box = {image.width, image.height, -1, -1};
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            if (isDark(image, x, y)) {
                box.x0 = std::min(box.x0, x);
                box.x1 = std::max(box.x1, x);
                box.y0 = std::min(box.y0, y);
                box.y1 = std::max(box.y1, y);
            }
        }
    }
    return box.x1 >= 0;
}

// Share of dark pixels in the band of the box between 3% and 22% of its side
// from the outer edge, which a black border (a quarter of the side) fills.
double borderDarkShare(const RgbImage& image, const PixelBox& box) {
    const int w = box.x1 - box.x0 + 1, h = box.y1 - box.y0 + 1;
    const int outX = static_cast<int>(0.03 * w), inX = static_cast<int>(0.22 * w);
    const int outY = static_cast<int>(0.03 * h), inY = static_cast<int>(0.22 * h);
    long dark = 0, total = 0;
    for (int y = box.y0 + outY; y <= box.y1 - outY; ++y) {
        for (int x = box.x0 + outX; x <= box.x1 - outX; ++x) {
            bool insideInner =
                x >= box.x0 + inX && x <= box.x1 - inX && y >= box.y0 + inY && y <= box.y1 - inY;
            if (!insideInner) {
                dark += isDark(image, x, y) ? 1 : 0;
                ++total;
            }
        }
    }
    return total == 0 ? 0.0 : static_cast<double>(dark) / total;
}

}  // namespace

PictureRect wholePicture(const RgbImage& image) {
    return {0.0, 0.0, static_cast<double>(image.width), static_cast<double>(image.height)};
}

int findInnerPicture(const RgbImage& image, PictureRect& inner, std::string& error) {
    PixelBox box;
    if (!darkBoundingBox(image, box)) {
        error = "no dark pixels, so no black square";
        return -1;
    }
    const int w = box.x1 - box.x0 + 1, h = box.y1 - box.y0 + 1;
    if (std::min(w, h) < 16) {
        error = "the dark area is too small for a marker (under 16 pixels)";
        return -1;
    }
    if (std::abs(w - h) > 0.05 * std::max(w, h) + 2) {
        error = "the dark area is " + std::to_string(w) + " x " + std::to_string(h) +
                " pixels, not square";
        return -1;
    }
    if (borderDarkShare(image, box) < BORDER_DARK_SHARE) {
        error = "the dark square has no solid black border a quarter of its width";
        return -1;
    }
    inner = {box.x0 + w / 4.0, box.y0 + h / 4.0, box.x0 + 3.0 * w / 4.0, box.y0 + 3.0 * h / 4.0};
    return 0;
}

RgbImage averageDown(const RgbImage& image, const PictureRect& rect, int width, int height) {
    RgbImage out = makeRgbImage(width, height, 0, 0, 0);
    const double cellW = (rect.x1 - rect.x0) / width, cellH = (rect.y1 - rect.y0) / height;
    for (int j = 0; j < height; ++j) {
        const double cy0 = rect.y0 + cellH * j, cy1 = cy0 + cellH;
        const int py0 = std::max(0, static_cast<int>(std::floor(cy0)));
        const int py1 = std::min(image.height, static_cast<int>(std::ceil(cy1)));
        for (int i = 0; i < width; ++i) {
            const double cx0 = rect.x0 + cellW * i, cx1 = cx0 + cellW;
            const int px0 = std::max(0, static_cast<int>(std::floor(cx0)));
            const int px1 = std::min(image.width, static_cast<int>(std::ceil(cx1)));
            double sum[3] = {0.0, 0.0, 0.0}, weight = 0.0;
            for (int py = py0; py < py1; ++py) {
                const double wy = std::min(py + 1.0, cy1) - std::max<double>(py, cy0);
                for (int px = px0; px < px1; ++px) {
                    const double wxy = wy * (std::min(px + 1.0, cx1) - std::max<double>(px, cx0));
                    const unsigned char* p =
                        &image.rgb[(static_cast<size_t>(py) * image.width + px) * 3];
                    for (int k = 0; k < 3; ++k) {
                        sum[k] += wxy * p[k];
                    }
                    weight += wxy;
                }
            }
            unsigned char* q = &out.rgb[(static_cast<size_t>(j) * width + i) * 3];
            for (int k = 0; k < 3; ++k) {
                q[k] = weight > 0.0 ? static_cast<unsigned char>(std::lround(sum[k] / weight)) : 0;
            }
        }
    }
    return out;
}

RgbImage turnCounterClockwise(const RgbImage& image) {
    // out(r, c) = in(c, W - 1 - r): the new top row is the old right column.
    RgbImage out = makeRgbImage(image.height, image.width, 0, 0, 0);
    for (int r = 0; r < out.height; ++r) {
        for (int c = 0; c < out.width; ++c) {
            const unsigned char* p =
                &image.rgb[(static_cast<size_t>(c) * image.width + (image.width - 1 - r)) * 3];
            unsigned char* q = &out.rgb[(static_cast<size_t>(r) * out.width + c) * 3];
            q[0] = p[0];
            q[1] = p[1];
            q[2] = p[2];
        }
    }
    return out;
}

std::string formatPatternFile(const RgbImage& cells) {
    std::string text;
    char number[8];
    RgbImage turned = cells;
    for (int direction = 0; direction < 4; ++direction) {
        for (int plane = 0; plane < 3; ++plane) {
            const int channel = 2 - plane;  // planes run blue, green, red
            for (int r = 0; r < turned.height; ++r) {
                for (int c = 0; c < turned.width; ++c) {
                    std::snprintf(
                        number, sizeof number, "%4d",
                        turned.rgb[(static_cast<size_t>(r) * turned.width + c) * 3 + channel]);
                    text += number;
                }
                text += '\n';
            }
        }
        text += '\n';
        turned = turnCounterClockwise(turned);
    }
    return text;
}

RgbImage composePrintableMarker(const RgbImage& picture, const PictureRect& rect, int squareSize,
                                int margin) {
    const int side = squareSize + 2 * margin;
    RgbImage out = makeRgbImage(side, side, 255, 255, 255);
    for (int y = margin; y < margin + squareSize; ++y) {
        std::fill_n(&out.rgb[(static_cast<size_t>(y) * side + margin) * 3], squareSize * 3, 0);
    }
    const int offset = margin + squareSize / 4;
    const int inner = squareSize - 2 * (squareSize / 4);
    RgbImage cells = averageDown(picture, rect, inner, inner);
    for (int y = 0; y < inner; ++y) {
        std::copy_n(&cells.rgb[static_cast<size_t>(y) * inner * 3], inner * 3,
                    &out.rgb[(static_cast<size_t>(offset + y) * side + offset) * 3]);
    }
    return out;
}
