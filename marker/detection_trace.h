#pragma once

#include <chrono>

#include "marker/marker_records.h"

// What the last detection pass did, kept until the next pass: how long each
// stage took and what each stage produced, for benchmarks and for drawing
// what detection saw.
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
    // Markers identified in the frame itself, before the history step.
    int identifiedCount;
};

// The trace of the last arDetectMarker call (all zero before the first).
const DetectionTrace& arDetectionTrace();
