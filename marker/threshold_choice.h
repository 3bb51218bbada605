#pragma once

// Where a frame's binarisation thresholds come from: the fixed threshold of
// the first pass, and for a frame in which that pass sees no identified
// marker, thresholds chosen from the frame itself by Otsu's method.

#include "image/frame_image.h"
#include "marker/marker_history.h"

// A rectangle of frame pixels, x0 <= x < x1, y0 <= y < y1.
struct PixelBox {
    int x0, y0, x1, y1;
};

// Where an identified marker was last seen in the frame itself: its centre
// (observed coordinates) and the area of its dark border; area 0 when none
// has been seen yet.
struct SeenMarker {
    ImagePoint centre = {0.0, 0.0};
    int area = 0;
};

// Most retry thresholds one frame gets.
inline constexpr int RETRY_THRESHOLD_MAX = 2;

// Among a frame's thresholds, those that stand for the local thresholds
// (marker/local_threshold.h) over the narrow and the wide window instead of
// one level for the whole frame.
inline constexpr int THRESHOLD_LOCAL = -1;
inline constexpr int THRESHOLD_LOCAL_WIDE = -2;

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

// The box around where a marker was last seen: its centre and the area of its
// dark border (three quarters of the square when the inside is light), grown
// to twice the square's side each way so that it holds ink and paper.
PixelBox boxAroundMarker(const SeenMarker& marker);

// The most confident marker of pattern `patternId` (any identified marker
// for -1) with a confidence of at least CONFIDENCE_MIN, the earlier one on
// equal confidence, among the first `seenCount` markers of `list`, those
// found in the frame itself: true with it in `seen`, false (`seen` untouched)
// when there is none.
bool arSeenMarker(const MarkerList& list, int seenCount, int patternId, SeenMarker* seen);

// The thresholds a frame is detected again at after its pass at `tried` did
// not see the marker sought, in the order they are tried: Otsu's threshold of the
// box around `lastSeen` (the marker's ink and the paper around it), when a
// marker has been seen, then the whole frame's. One equal to `tried` or to the
// box's, or none (pixels all alike), is left out. Returns how many were
// written.
int arRetryThresholds(const FrameImage& frame, const SeenMarker& lastSeen, int tried,
                      int thresholds[RETRY_THRESHOLD_MAX]);
