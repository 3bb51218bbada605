#pragma once

#include "marker/marker_records.h"

// Keeps the labelled regions that can be markers: area within [areaMin,
// areaMax], box clear of the frame's border, traced contour with exactly four
// corners; then drops the smaller of two candidates whose centres lie close
// together. Returns detection's candidate list (valid until the next call)
// and its length in `count`, at most MARKER_MAX.
MarkerCandidate* arDetectSquares(const LabelResult& labels, int areaMax, int areaMin, double factor,
                                 int* count);

// Finds the four corners of the candidate's contour into its cornerIndex;
// 0 when there are exactly four, -1 otherwise.
int arCheckSquare(int area, MarkerCandidate* candidate, double factor);

// Appends, in contour order, the corners found strictly between contour
// points s and e: the point farthest from the chord s-e, when its squared
// distance exceeds `threshold`, and recursively those on both sides of it.
// -1 when the list would exceed CORNER_SPLIT_MAX entries.
int arFindVertices(const int32_t* xs, const int32_t* ys, int s, int e, double threshold,
                   int* corners, int* cornerCount);
