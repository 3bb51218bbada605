#pragma once

#include <cstdint>

#include "marker/marker_records.h"
#include "marker/marker_status.h"
#include "math/edge_line.h"
#include "math/image_point.h"

// Edge fitting's storage: the ideal positions of one side's points, row by
// row, and the line fit's intermediate values for as many points.
struct EdgeLineStorage {
    double sidePoints[CONTOUR_POINT_MAX * 2];
    double inliers[CONTOUR_POINT_MAX * 2];  // the robust fit's points
    double fitScratch[CONTOUR_POINT_MAX * 2 + 2 * 2 + 2];
};

// Fits each side's line (ideal coordinates, through the lens model
// `distFactor`) to the middle stretch of the candidate's contour points, and
// intersects consecutive lines into the corners: corner j where side j - 1
// meets side j. Side i runs from contour point st = cornerIndex[i] to ed =
// cornerIndex[i + 1], n = ed - st + 1 points; with trim = 0.05 n + 0.5 the
// fit uses points int(st + trim) to int(ed - trim). Ok, or Degenerate when a
// side has too few points, a fit fails or two consecutive lines are exactly
// parallel (the outputs then hold a partial result). With `robust`, the
// points of the candidate's interruption are left out, and each side is
// fitted again without its points farther than ROBUST_FIT_TOLERANCE from the
// first fit.
MarkerStatus arFitEdgeLines(const double distFactor[4], EdgeLineStorage& storage,
                            const MarkerCandidate& candidate, EdgeLine edgeLines[4],
                            ImagePoint vertices[4], bool robust = false);
