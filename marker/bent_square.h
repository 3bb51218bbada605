#pragma once

#include "marker/marker_records.h"
#include "marker/marker_status.h"

// Whether the outline of a region of `area` pixels is a square with a dent
// or a bump in a side (a fingertip or a smudge over it): the outline's
// polygon (the corner search's, up to ROBUST_VERTEX_MAX corners, `factor` as
// in arCornerThreshold) loses the vertex that turns least (or against the
// outline) until four are left that each turn by at least ROBUST_TURN_MIN,
// and the sides between them must be mostly straight. The contour is then
// turned to start at the first corner. Ok with the corners set, NotASquare
// when the outline is no such square.
MarkerStatus arCheckBentSquare(int area, MarkerCandidate* candidate, double factor);
