#pragma once

#include "marker/marker_info.h"
#include "pose/marker_square.h"

// The geometry pose estimation works from: a found marker's edge lines,
// corners and direction.
inline MarkerSquare markerSquare(const MarkerInfo& marker) {
    MarkerSquare square{};
    square.direction = marker.direction;
    for (int i = 0; i < 4; i++) {
        square.edgeLines[i] = marker.edgeLines[i];
        square.vertices[i] = marker.vertices[i];
    }
    return square;
}
