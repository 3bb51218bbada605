#pragma once

#include "math/image_point.h"
#include "marker/marker_records.h"
#include "math/edge_line.h"

// Fits each side's line (ideal coordinates) to the middle stretch of its
// contour points, about 5 % being left out at each end, and intersects
// consecutive lines into the corners: corner j where side j - 1 meets side j.
// 0, or -1 when a side has too few points, a fit fails or two consecutive
// lines are exactly parallel (the outputs then hold a partial result).
int arFitEdgeLines(const int32_t* contourX, const int32_t* contourY, int pointCount,
                   const int32_t cornerIndex[5], EdgeLine edgeLines[4], ImagePoint vertices[4]);
