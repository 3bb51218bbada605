#pragma once

#include <cstdint>

#include "math/edge_line.h"
#include "math/image_point.h"

// Capacity of the candidate list, the marker list and the history.
inline constexpr int MARKER_MAX = 30;

// One detected square marker.
struct MarkerInfo {
    int32_t area;            // dark pixels of the region forming the border
    int32_t id;              // matched pattern slot, -1 when not identified
    int32_t direction;       // 0..3: turn of the matched pattern against `vertices`; -1 unknown
    double confidence;       // normalised correlation of the best match, at most 1
    ImagePoint centre;       // centroid of the dark region, observed coordinates
    EdgeLine edgeLines[4];   // side i from corner i to corner i + 1, ideal coordinates
    ImagePoint vertices[4];  // corner i where side i - 1 meets side i, ideal coordinates
    // The widest and the narrowest grey ramp across its sides (pixels, the
    // median of each side's), measured when its edges are refined: how
    // smeared it is, and how unevenly; 0 when not measured.
    double rampWidth = 0.0;
    double narrowestRamp = 0.0;
    // An object over the middle of one of its sides took that side's
    // outline off it (robust sides): the side's line comes from its ends.
    bool interrupted = false;
};
