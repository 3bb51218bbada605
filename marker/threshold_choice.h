#pragma once

// Where a frame's binarisation thresholds come from: the fixed threshold of
// the first pass, and for a frame in which that pass sees no identified
// marker, thresholds chosen from the frame itself by Otsu's method.

#include <optional>

#include "image/frame_image.h"
#include "marker/marker_history.h"
#include "marker/marker_status.h"

// A rectangle of frame pixels, x0 <= x < x1, y0 <= y < y1.
struct PixelBox {
    int x0, y0, x1, y1;
};

// Where an identified marker was seen in the frame itself: its centre
// (observed coordinates) and the area of its dark border.
struct SeenMarker {
    ImagePoint centre = {0.0, 0.0};
    int area = 0;
};

// Most retry thresholds one frame gets.
inline constexpr int RETRY_THRESHOLD_MAX = 2;

// What a detection pass binarises a frame with: one level for the whole
// frame (a pixel is dark when blue + green + red <= 3 x level), or the local
// thresholds (marker/local_threshold.h) over the narrow or the wide window.
struct PassThreshold {
    enum class Kind { Level, LocalNarrow, LocalWide };
    Kind kind = Kind::Level;
    int level = DETECT_THRESHOLD;  // with Kind::Level
};

// Grey levels (blue + green + red, 0..765) of the frame's pixels in `box`
// (clipped to the frame) counted into `histogram`.
void countGreyLevels(const FrameImage& frame, PixelBox box, long long (&histogram)[766]);

// Otsu's threshold of a grey-level histogram into `level`: the level t for
// which "at most t" and "above t" are the two classes of the largest
// between-class variance (the middle of the levels giving it, which differ
// only across levels no pixel has). AllAlike when the histogram holds fewer
// than two distinct levels.
MarkerStatus otsuLevel(const long long (&histogram)[766], int* level);

// The detection threshold (a pixel is dark when blue + green + red <= 3 x
// threshold) that Otsu's method gives for the pixels in `box`, between 1 and
// 254; AllAlike when they are all alike (or the box holds none).
MarkerStatus chooseThreshold(const FrameImage& frame, PixelBox box, int* threshold);

// A whole frame's grey-level histogram (blue + green + red) and its Otsu
// level, counted once a frame for every threshold chosen from them.
struct GreyLevels {
    long long histogram[766];
    int level = 0;
    bool split = false;  // false when the pixels are all alike (no level)
};

// Counts the grey levels of every pixel of `frame` into `levels`.
void arCountGreyLevels(const FrameImage& frame, GreyLevels* levels);

// The threshold just below a lit sheet's paper: halfway between the whole
// frame's Otsu level and the mean level of the pixels above it (the
// paper's). Where a glossy sheet's sheen lifts part of the border's ink most
// of the way to the paper, Otsu's level parts the ink from the paper and
// leaves the lit ink light; the paper itself, a narrow peak, stays above
// this one. AllAlike when the frame's pixels are all alike.
MarkerStatus choosePaperThreshold(const GreyLevels& whole, int* threshold);

// The box around where a marker was last seen: its centre and the area of its
// dark border (three quarters of the square when the inside is light), grown
// to twice the square's side each way so that it holds ink and paper.
PixelBox boxAroundMarker(const SeenMarker& marker);

// The most confident marker of pattern `patternId` (any identified marker
// for -1) with a confidence of at least CONFIDENCE_MIN, the earlier one on
// equal confidence, among the first `seenCount` markers of `list`, those
// found in the frame itself: Ok with it in `seen`, or NotSeen (`seen`
// untouched).
MarkerStatus arSeenMarker(const MarkerList& list, int seenCount, int patternId, SeenMarker* seen);

// The thresholds a frame is detected again at after its pass at `tried` did
// not see the marker sought, in the order they are tried: Otsu's threshold of the
// box around `lastSeen` (the marker's ink and the paper around it), when a
// marker has been seen, then the whole frame's (from `whole`, its levels).
// One equal to `tried` or to the box's, or none (pixels all alike), is left
// out. Returns how many were written.
int arRetryThresholds(const FrameImage& frame, const std::optional<SeenMarker>& lastSeen,
                      const GreyLevels& whole, int tried, int thresholds[RETRY_THRESHOLD_MAX]);
