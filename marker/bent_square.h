#pragma once

#include "marker/marker_records.h"
#include "marker/marker_status.h"

// Whether the outline of a region of `area` pixels is a square with a dent
// or a bump in a side (a fingertip, a smudge or an object over it). Its
// polygon is the corner search's (up to ROBUST_VERTEX_MAX corners, `factor`
// as in arCornerThreshold). First, an object over the middle of one side:
// the four vertices that each turn by at least ROBUST_TURN_MIN with three
// sides along their chords between them and the fourth interrupted (see
// ROBUST_RUN_MIN), the most points along the sides; the interruption's
// points are kept in the candidate, to be left out of the side's fit.
// Failing that, the polygon loses the vertex that turns least (or against
// the outline) until four are left that each turn by at least
// ROBUST_TURN_MIN, and the sides between them must be mostly straight. The
// contour is then turned to start at the first corner. Ok with the corners
// set, NotASquare when the outline is no such square.
MarkerStatus arCheckBentSquare(int area, MarkerCandidate* candidate, double factor);
