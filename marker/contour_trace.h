#pragma once

#include "marker/marker_records.h"
#include "marker/marker_status.h"

// Traces the outer contour of final label `label` (whose box is `box`)
// clockwise on the screen into `candidate`'s contourX / contourY and
// pointCount, rotated to start at the point farthest from the region's first
// top-row pixel (the first in trace order on ties) and closed by a copy of
// that start. Ok, or why the contour cannot be traced: ContourNoStart,
// ContourDeadEnd or ContourTooLong. Detection records these reasons in its
// trace (DetectionTrace::contourFailures) instead of printing them.
MarkerStatus arTraceContour(const LabelResult& labels, int label, const RegionBox& box,
                            MarkerCandidate* candidate);
