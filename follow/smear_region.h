#pragma once

#include <vector>

#include "image/frame_image.h"

// Most dark regions a frame offers as a smeared marker.
inline constexpr int SMEAR_REGION_MAX = 2;

// A dark region where a marker smeared beyond detection may lie: its black
// border, seen for the whole shutter only where the motion keeps it over
// the pixel, leaves a band as wide across the motion as the square and
// shorter along it by the streak.
struct SmearRegion {
    double centre[2];   // observed pixels
    double along[2];    // unit direction of the smear (the picture's least gradient)
    double across = 0;  // the region's extent across the smear, pixels
    double length = 0;  // its extent along the smear, pixels
};

// The working storage of findSmearRegions, allocated once for frames of a
// size.
struct SmearRegionStorage {
    int step = 1;  // frame pixels a side of a cell of the reduced picture
    int width = 0, height = 0;
    std::vector<float> grey;  // the reduced picture
    std::vector<int> label;   // the region each cell belongs to, -1 for none
    std::vector<int> stack;   // cells still to visit while a region grows
};

// Sizes the storage for frames `width` x `height`.
void prepareSmearRegions(SmearRegionStorage& storage, int width, int height);

// The largest dark bands of `frame` (at most SMEAR_REGION_MAX, the largest
// first) that are big enough to be a side of a marker's border: the frame
// reduced, its cells darker than halfway between its darkest and its median
// level joined into regions, those no wider across their smear than 0.7 of
// their length kept. Their count.
int findSmearRegions(SmearRegionStorage& storage, const FrameImage& frame, SmearRegion* out);
