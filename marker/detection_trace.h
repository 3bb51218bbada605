#pragma once

#include <chrono>
#include <cstdint>
#include <span>

#include "marker/marker_records.h"

// What the last detection pass did, kept until the next pass: how long each
// stage took, what each stage produced, and the tracer's diagnostics; for
// benchmarks, for drawing what detection saw and for the run flow's messages.
struct DetectionTrace {
    std::chrono::steady_clock::duration labeling;
    std::chrono::steady_clock::duration squares;
    std::chrono::steady_clock::duration identification;
    std::chrono::steady_clock::duration history;
    std::chrono::steady_clock::duration total;
    // The labeling result; null when the pass failed before or in labeling.
    const LabelResult* labels;
    // The square candidates after overlap removal.
    const MarkerCandidate* candidates;
    int candidateCount;
    // Why contour tracing gave up on regions, one ContourFailure code (1, 2
    // or 3, see marker/contour_trace.h) per region in the order traced. The
    // run flow prints "??? <code>\n" for each after the pass.
    std::span<const uint8_t> contourFailures;
};
