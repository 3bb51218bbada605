#pragma once

#include <cstdint>

#include "image/frame_image.h"
#include "marker/marker_status.h"
#include "marker/pattern_set.h"

// The best template for a sampled pattern image: with Ok its slot, its
// direction (0..3) and the normalised correlation (above 0, at most 1);
// NoMatch when no template correlates positively, UniformPattern when the
// image has nothing to correlate (all its values alike).
struct PatternMatch {
    MarkerStatus status;
    int id;
    int direction;
    double confidence;
};

// Compares `pattern` with every template of `set` in its four directions by
// normalised correlation; on exact ties the earliest slot, then the lowest
// direction.
PatternMatch arMatchPattern(const PatternSet& set, const PatternImage& pattern);

// Identifies a candidate: samples its interior and matches it against `set`,
// into a marker's id, direction and confidence: the match's with Ok; id -1,
// direction -1 and confidence 0 when nothing correlates positively or no
// pattern image can be sampled (degenerate corners); id 0, direction 0 and
// confidence -1.0 for a uniform pattern image (the confidence limit then
// takes the id).
void arPatternCode(const PatternSet& set, const FrameImage& frame, const int32_t* contourX,
                   const int32_t* contourY, const int32_t cornerIndex[5], int* id, int* direction,
                   double* confidence);
