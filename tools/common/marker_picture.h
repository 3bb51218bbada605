#pragma once

#include <string>

#include "tools/common/image_io.h"

// Cells per side of a pattern: the picture inside a marker is averaged down
// to 16 x 16 colour cells.
inline constexpr int PATTERN_CELLS = 16;

// A rectangle in continuous picture coordinates: pixel (x, y) covers
// [x, x + 1) x [y, y + 1).
struct PictureRect {
    double x0, y0, x1, y1;
};

// The whole picture as a rectangle.
PictureRect wholePicture(const RgbImage& image);

// Finds the black square of a whole marker (a straight, upright picture of it,
// a white margin around it allowed) and gives the square's central half, where
// the marker's own picture lies. -1 with `error` set when no black-bordered
// square is found.
int findInnerPicture(const RgbImage& image, PictureRect& inner, std::string& error);

// Averages the rectangle of `image` down (or up) to `width` x `height` pixels,
// each the area-weighted mean of the source pixels it covers, rounded.
RgbImage averageDown(const RgbImage& image, const PictureRect& rect, int width, int height);

// The picture turned 90 degrees counter-clockwise: the top-right corner becomes
// the top-left one.
RgbImage turnCounterClockwise(const RgbImage& image);

// The text of a pattern file for 16 x 16 cells: four direction blocks, block d
// being the cells turned d x 90 degrees counter-clockwise; each block holds
// the blue, green and red planes, each 16 rows of 16 values, top row first.
std::string formatPatternFile(const RgbImage& cells);

// A printable marker: a black square `squareSize` pixels wide with the picture
// (the given rectangle of `picture`) in its central half, and a white margin
// of `margin` pixels around it.
RgbImage composePrintableMarker(const RgbImage& picture, const PictureRect& rect, int squareSize,
                                int margin);
