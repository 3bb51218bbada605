#pragma once

#include <cstdint>

#include "marker/marker_records.h"

// Why tracing gave up on a region. Detection records these codes, in the
// order the regions were traced, in its trace (DetectionTrace::contourFailures)
// instead of printing them; the run flow prints "??? <code>" for each.
enum ContourFailure : uint8_t {
    CONTOUR_NO_START = 1,  // no pixel of the label on its box's top row
    CONTOUR_DEAD_END = 2,  // a lone pixel: no neighbour to step to
    CONTOUR_TOO_LONG = 3,  // the outline reached CONTOUR_TRACE_LIMIT points
};

// Traces the outer contour of final label `label` (whose box is `box`)
// clockwise on the screen into `candidate`'s contourX / contourY and
// pointCount, rotated to start at the point farthest from the region's first
// top-row pixel (the first in trace order on ties) and closed by a copy of
// that start. 0, or the ContourFailure when the contour cannot be traced.
int arTraceContour(const LabelResult& labels, int label, const RegionBox& box,
                   MarkerCandidate* candidate);
