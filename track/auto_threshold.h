#pragma once

#include "marker/frame_image.h"

// A rectangle of frame pixels, x0 <= x < x1, y0 <= y < y1.
struct PixelBox {
    int x0, y0, x1, y1;
};

// Grey levels (blue + green + red, 0..765) of the frame's pixels in `box`
// (clipped to the frame) counted into `histogram`; the number counted.
long long countGreyLevels(const FrameImage& frame, PixelBox box, long long (&histogram)[766]);

// Otsu's threshold of a grey-level histogram: the level t for which "at most
// t" and "above t" are the two classes of the largest between-class variance
// (the middle of the levels giving it, which differ only across levels no
// pixel has); -1 when the histogram holds fewer than two distinct levels.
int otsuLevel(const long long (&histogram)[766]);

// The detection threshold (a pixel is dark when blue + green + red <= 3 x
// threshold) that Otsu's method gives for the pixels in `box`, between 1 and
// 254; -1 when they are all alike.
int chooseThreshold(const FrameImage& frame, PixelBox box);

// The box around where a marker was last seen: its centre (observed
// coordinates) and the area of its dark border (three quarters of the square
// when the inside is light), grown to twice the square's side each way so that
// it holds ink and paper.
PixelBox boxAroundMarker(double centreX, double centreY, int borderArea);
