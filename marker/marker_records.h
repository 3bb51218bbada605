#pragma once

// The records that carry one frame's dark regions and square candidates
// through the detection stages, the history record, and the capacities and
// tuning values of detection.

#include <cstdint>

#include "marker/marker_info.h"
#include "math/image_point.h"

// Binarisation threshold of a frame's first pass.
inline constexpr int DETECT_THRESHOLD = 100;
// Region areas (pixels, both limits inclusive) that can become candidates.
inline constexpr int REGION_AREA_MIN = 70;
inline constexpr int REGION_AREA_MAX = 100000;
// Factor of the corner split threshold area * 4/3 * 0.01 * factor.
inline constexpr double SQUARE_FIT_FACTOR = 1.0;
// Most corners one half of a contour may yield.
inline constexpr int CORNER_SPLIT_MAX = 6;
// A square with a dented or bumped side (robust sides): most corners of its
// outline's polygon, least turn (sine of the angle) of a corner kept, and at
// least ROBUST_SIDE_ON_LINE of each side's contour points within
// ROBUST_SIDE_TOLERANCE of its length (and at least 1.5 pixels) of it; a
// side's line is fitted again without the points farther than
// ROBUST_FIT_TOLERANCE pixels from its first fit.
// One side may instead be interrupted by an object over its middle: along
// its chord for ROBUST_RUN_MIN of the chord from each end and for
// ROBUST_INTERRUPTED_ON_LINE of it in all, and cut no deeper than
// ROBUST_DENT_DEPTH_MAX of it (the border's width as a share of the side).
inline constexpr int ROBUST_VERTEX_MAX = 12;
inline constexpr double ROBUST_TURN_MIN = 0.4;
inline constexpr double ROBUST_SIDE_ON_LINE = 0.6;
inline constexpr double ROBUST_SIDE_TOLERANCE = 0.03;
inline constexpr double ROBUST_FIT_TOLERANCE = 1.5;
inline constexpr double ROBUST_RUN_MIN = 0.1;
inline constexpr double ROBUST_INTERRUPTED_ON_LINE = 0.4;
inline constexpr double ROBUST_DENT_DEPTH_MAX = 0.25;
// Capacity of a candidate's contour; tracing gives up at CONTOUR_TRACE_LIMIT points.
inline constexpr int CONTOUR_POINT_MAX = 10000;
inline constexpr int CONTOUR_TRACE_LIMIT = 9999;
// Frame-to-frame match: old area / new area within [MIN, MAX], and squared
// centre distance / new area below TRACK_DISTANCE_MAX.
inline constexpr double TRACK_AREA_RATIO_MIN = 0.7;
inline constexpr double TRACK_AREA_RATIO_MAX = 1.43;
inline constexpr double TRACK_DISTANCE_MAX = 0.5;
// Markers matched less well than this lose their id after the history step.
inline constexpr double CONFIDENCE_MIN = 0.5;

// Whether a square matches a loaded pattern closely enough to be a marker.
inline bool arIdentified(const MarkerInfo& marker) {
    return marker.id >= 0 && marker.confidence >= CONFIDENCE_MIN;
}

// The strict history (--strict-history): the id is carried only onto a
// marker matching at least STRICT_CARRY_CONFIDENCE_MIN itself and within
// [STRICT_AREA_RATIO_MIN, STRICT_AREA_RATIO_MAX] of the remembered area; a
// marker whose corners lie inside the box of a dark region more than
// NESTED_AREA_FACTOR times its area (a cell of a marker whose border is
// broken) keeps its id only from NESTED_CONFIDENCE_MIN.
inline constexpr double STRICT_CARRY_CONFIDENCE_MIN = 0.3;
inline constexpr double STRICT_AREA_RATIO_MIN = 0.8;
inline constexpr double STRICT_AREA_RATIO_MAX = 1.25;
inline constexpr int NESTED_AREA_FACTOR = 2;
inline constexpr double NESTED_CONFIDENCE_MIN = 0.7;
// A history entry whose age reaches this is forgotten.
inline constexpr int HISTORY_AGE_LIMIT = 4;
// Starting best sum of the corner-order search; only smaller sums count.
inline constexpr double CORNER_ORDER_SUM_START = 1e8;

// A provisional label as stored in the label image: wide enough for every
// label a frame of up to INT32_MAX pixels can need (about a quarter of them).
using LabelValue = int32_t;

// Smallest and largest x and y of a region's pixels.
struct RegionBox {
    int32_t minX;
    int32_t maxX;
    int32_t minY;
    int32_t maxY;
};

// What labeling hands to candidate detection; all arrays belong to labeling
// and are overwritten by the next pass.
struct LabelResult {
    const LabelValue* labelImage;  // width x height provisional labels, 0 = background
    int width;
    int height;
    int32_t labelCount;           // regions found, numbered 1..labelCount
    const int32_t* labelMap;      // final label of provisional label p at position p - 1
    const int32_t* areas;         // pixel count of final label l at position l - 1
    const ImagePoint* centroids;  // mean x and y of final label l at position l - 1
    const RegionBox* boxes;       // bounding box of final label l at position l - 1
};

// A dark region whose outline has four corners.
struct MarkerCandidate {
    int32_t area;  // 0 marks a candidate being removed
    ImagePoint centre;
    int32_t pointCount;  // contour points, the closing repeat of point 0 included
    int32_t contourX[CONTOUR_POINT_MAX];
    int32_t contourY[CONTOUR_POINT_MAX];
    // Contour indices of the corners: 0, the other three in contour order,
    // then pointCount - 1.
    int32_t cornerIndex[5];
    // Contour points first..last that an object over the middle of a side
    // takes off it (robust sides), left out of the side's fit; first > last
    // when there are none.
    int32_t interruption[2];
};

// A marker remembered from earlier frames.
struct MarkerHistoryEntry {
    MarkerInfo marker;  // copy of the marker as last reported with an identity
    int32_t age;        // 1 in the frame it was stored, +1 at every later pass
};
