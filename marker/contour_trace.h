#pragma once

#include "marker/marker_records.h"

// Traces the outer contour of final label `label` (whose box is `box`)
// clockwise on the screen into `candidate`'s contourX / contourY and
// pointCount, rotated to start at the point farthest from the region's first
// top-row pixel and closed by a copy of that start. 0, or -1 (with a
// diagnostic on standard output) when the contour cannot be traced.
int arTraceContour(const LabelResult& labels, int label, const RegionBox& box,
                   MarkerCandidate* candidate);
