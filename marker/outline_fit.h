#pragma once

#include <cstdint>

#include "math/image_point.h"

// A fitted corner further than this (pixels) from every point of its
// region's outline does not fit it.
inline constexpr double OUTLINE_CORNER_MAX = 2.5;
// Most corners of a marker that may miss the outline: an object merged into
// the border over one corner takes the outline round it.
inline constexpr int OUTLINE_CORNERS_OFF_MAX = 1;

// How many of a square's fitted corners (ideal coordinates, through the lens
// model `distFactor` into the frame) lie further than OUTLINE_CORNER_MAX
// from every one of the `pointCount` points of its outline. A printed square
// meets its outline at its corners; a patch of texture whose outline only
// roughly makes four sides does not.
int arCornersOffOutline(const double distFactor[4], const int32_t* contourX,
                        const int32_t* contourY, int pointCount, const ImagePoint vertices[4]);
