#pragma once

// The corner search on a traced outline: its polygon's vertices, split off
// where the outline strays too far from a chord.

#include "marker/marker_records.h"
#include "marker/marker_status.h"

// The squared distance from a chord past which the corner search splits it,
// for a region of `area` pixels: area * 4/3 * 0.01 * factor.
inline double arCornerThreshold(int area, double factor) {
    return area * 4.0 / 3.0 * 0.01 * factor;
}

// Index among contour points 1..n-2 farthest from point 0 (the closing
// point left out), the earliest on ties; 0 when none lies farther than 0.
int arFarthestFromStart(const MarkerCandidate& c);

// Appends, in contour order, the corners found strictly between contour
// points s and e: the point farthest from the chord s-e, when its squared
// distance exceeds `threshold`, and recursively those on both sides of it.
// NotASquare when the list would exceed `capacity` entries.
MarkerStatus arFindVertices(const int32_t* xs, const int32_t* ys, int s, int e, double threshold,
                            int* corners, int* cornerCount, int capacity = CORNER_SPLIT_MAX);

// Sets the candidate's corners to contour points 0, c1, c2 and c3 (and the
// closing point), with no side interrupted.
void arSetCorners(MarkerCandidate* c, int c1, int c2, int c3);
