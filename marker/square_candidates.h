#pragma once

#include <cstdint>

#include "marker/marker_records.h"

// Candidate detection's storage: the candidate list and why tracing gave up
// on regions (ContourFailure codes, in the order the regions were traced; at
// most one per region, so LABEL_MAX of them at most). Overwritten by each pass.
struct SquareStorage {
    MarkerCandidate candidates[MARKER_MAX];
    uint8_t contourFailures[LABEL_MAX];
    int contourFailureCount;
};

// Keeps the labelled regions that can be markers: area within [areaMin,
// areaMax], box clear of the frame's border, traced contour with exactly four
// corners (a contour point is a corner when its squared distance from the
// chord between its neighbouring corners exceeds area * 4/3 * 0.01 *
// factor); then drops the smaller of two candidates whose centres lie close
// together. Fills `storage` and returns the number of candidates in
// storage.candidates, at most MARKER_MAX.
int arDetectSquares(const LabelResult& labels, int areaMax, int areaMin, double factor,
                    SquareStorage& storage);
