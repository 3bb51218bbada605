#pragma once

#include <cstdint>
#include <memory>

#include "marker/marker_records.h"
#include "marker/marker_status.h"

// Candidate detection's storage: the candidate list and why tracing gave up
// on regions (arTraceContour's statuses, in the order the regions were
// traced; at most one per region, so no more than labeling's label
// capacity), and a candidate to trace into when the list is full.
// Overwritten by each pass.
struct SquareStorage {
    MarkerCandidate candidates[MARKER_MAX];
    std::unique_ptr<MarkerStatus[]> contourFailures;
    int32_t contourFailureCapacity = 0;
    int32_t contourFailureCount = 0;
    MarkerCandidate scratch;
};

// Sizes the failure list of `storage` for `regions` regions (it never
// shrinks): Ok, BadSize for a negative count, or OutOfMemory.
MarkerStatus arInitSquareStorage(SquareStorage& storage, int32_t regions);

// Keeps the labelled regions that can be markers: area within [areaMin,
// areaMax], box clear of the frame's border, traced contour with exactly four
// corners (a contour point is a corner when its squared distance from the
// chord between its neighbouring corners exceeds area * 4/3 * 0.01 *
// factor); then drops the smaller of two candidates whose centres lie close
// together. Fills `storage` and returns the number of candidates in
// storage.candidates, at most MARKER_MAX. Tracing failures beyond the list's
// capacity are not kept.
// With `robust`, an outline without exactly four corners may still be a
// square with a dent or a bump in a side (the four corners that turn the
// outline most, the sides between them mostly straight). Such squares take
// only the places the plain squares leave: on a busy picture they would
// otherwise fill the list before a plain marker further down is reached.
// With `nextLabel`, the regions are looked at from label *nextLabel on (1
// is the first), and *nextLabel is left at the first label not looked at
// (past the last when every one was): a full list can be followed by the
// next one.
int arDetectSquares(const LabelResult& labels, int areaMax, int areaMin, double factor,
                    SquareStorage& storage, bool robust = false, int* nextLabel = nullptr);
