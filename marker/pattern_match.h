#pragma once

#include <cstdint>

#include "image/frame_image.h"
#include "marker/pattern_set.h"

// Compares `pattern` with every template of `set` in its four directions by
// normalised correlation. Gives the best slot, direction and correlation (on
// exact ties the earliest slot, then the lowest direction); id -1, direction
// -1 and confidence 0 when nothing correlates positively. Returns -1 (id 0,
// direction 0, confidence -1.0) for a uniform pattern.
int arMatchPattern(const PatternSet& set, const PatternImage& pattern, int* id, int* direction,
                   double* confidence);

// Identifies a candidate: samples its interior and matches it against `set`. When no
// pattern image can be sampled (degenerate corners) it gives id -1,
// direction -1 and confidence 0.
void arPatternCode(const PatternSet& set, const FrameImage& frame, const int32_t* contourX,
                   const int32_t* contourY, const int32_t cornerIndex[5], int* id, int* direction,
                   double* confidence);
