#pragma once

#include <cstdint>

#include "image/frame_image.h"
#include "marker/marker_status.h"
#include "marker/pattern_set.h"

// Samples per side of a candidate whose longer pair of opposite sides has
// squared length `squaredSide`: 16, 32 or 64.
int arPatternSampleCount(int squaredSide);

// The homography h (h[2][2] = 1) that maps the plane square onto the
// candidate's corners (the contour points at cornerIndex[0..3]): image X =
// (h00 x + h01 y + h02) / D, Y = (h10 x + h11 y + h12) / D, D = h20 x +
// h21 y + 1. Ok, or Degenerate when three corners lie on one line (h not
// written).
MarkerStatus arPatternHomography(const int32_t* contourX, const int32_t* contourY,
                                 const int32_t cornerIndex[5], double h[3][3]);

// Samples the central half of the candidate's square (corners: the contour
// points at cornerIndex[0..3], observed coordinates) into `pattern`, reading
// `frame`. Ok, or Degenerate when no homography exists or a sample point has
// a denominator of exactly 0 (`pattern` is then not completely written).
MarkerStatus arExtractPattern(const FrameImage& frame, const int32_t* contourX,
                              const int32_t* contourY, const int32_t cornerIndex[5],
                              PatternImage* pattern);
