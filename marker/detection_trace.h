#pragma once

#include <chrono>
#include <span>

#include "marker/marker_records.h"
#include "marker/marker_status.h"

// What the last detection pass did, kept until the next pass: how long each
// stage took, what each stage produced, and the tracer's diagnostics; for
// benchmarks, for drawing what detection saw and for the run flow's messages.
struct DetectionTrace {
    std::chrono::steady_clock::duration labeling;
    std::chrono::steady_clock::duration squares;
    std::chrono::steady_clock::duration identification;
    std::chrono::steady_clock::duration refinement;  // zero unless edges are refined
    std::chrono::steady_clock::duration history;
    std::chrono::steady_clock::duration total;
    // The labeling result; null when the pass failed before or in labeling.
    const LabelResult* labels;
    // The square candidates after overlap removal.
    const MarkerCandidate* candidates;
    int candidateCount;
    // Why contour tracing gave up on regions, one status per region in the
    // order traced (ContourNoStart, ContourDeadEnd or ContourTooLong;
    // arContourFailureNumber numbers them 1, 2, 3).
    std::span<const MarkerStatus> contourFailures;
};
