#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "image/frame_image.h"
#include "marker/local_threshold.h"
#include "marker/marker_records.h"
#include "marker/marker_status.h"

// What one provisional label has gathered of its pixels. The box is updated
// only partially per pixel, which still gives exact region boxes once all
// labels of a region are combined.
struct LabelAccumulator {
    int32_t count;
    int64_t sumX;
    int64_t sumY;
    int32_t minX;
    int32_t maxX;
    int32_t minY;
    int32_t maxY;
};

// Labeling's working storage, sized once by arInitLabeling: the label image
// and the per-label tables the LabelResult of the last pass points into.
// The tables are allocated without being filled, so pages a pass never
// reaches take no memory.
struct LabelStorage {
    std::unique_ptr<LabelValue[]> labelImage;
    size_t imageCells = 0;
    // One row's dark-pixel mask, a bit a pixel, rowWidth / 64 + 2 words.
    std::unique_ptr<uint64_t[]> darkRow;
    int rowWidth = 0;
    // One row's limits for arLabelImageLocal, rowWidth entries.
    std::unique_ptr<int32_t[]> rowLimits;
    // Most provisional labels a pass may make; every table below has this
    // many entries.
    int32_t labelCapacity = 0;
    // Equivalence table, entry p - 1 for provisional label p. During the
    // raster pass it is a forest whose roots are the smallest label of their
    // class; after renumbering it holds final labels (the result's labelMap).
    std::unique_ptr<int32_t[]> equivalence;
    std::unique_ptr<LabelAccumulator[]> accumulators;
    std::unique_ptr<int32_t[]> regionAreas;
    std::unique_ptr<ImagePoint[]> regionCentroids;
    std::unique_ptr<RegionBox[]> regionBoxes;
};

// The most provisional labels a pass over a width x height frame can make.
//
// A dark pixel makes a new label only when none of the neighbours visited
// before it (up-left, up, up-right, left) holds a label. Every dark pixel
// inside the one-pixel border gets a label, so of two 8-neighbouring dark
// pixels the later one (in raster order) always finds the earlier one
// labelled: no two label-making pixels are 8-neighbours. Cut the inside,
// (width - 2) x (height - 2) pixels, into blocks of 2 x 2 (the last ones
// cut short): any two pixels of a block are 8-neighbours, so each block
// holds at most one label-making pixel. Hence at most
// ceil((width - 2) / 2) * ceil((height - 2) / 2) labels, and a dark pixel at
// every odd x and odd y inside makes exactly that many: the bound is tight.
int64_t arLabelBound(int width, int height);

// Sizes `storage` for frames of up to width x height pixels and for
// `labelCapacity` provisional labels per pass (0: arLabelBound(width,
// height), so that no frame of that size exceeds it; a smaller capacity is
// for tests). Tables never shrink. Called once at set-up: Ok, BadSize for a
// size that is not positive or too large, or OutOfMemory.
MarkerStatus arInitLabeling(LabelStorage& storage, int width, int height,
                            int32_t labelCapacity = 0);

// Binarises `frame` (dark: B + G + R <= 3 * threshold) and labels its
// 8-connected dark regions into `storage`, leaving the outer border of the
// frame unlabelled. On Ok fills `result` (pointing into `storage`); BadFrame
// for a frame with no pixels or larger than the storage was sized for,
// CapacityExceeded for more provisional labels than the storage holds, and
// `result` left alone.
MarkerStatus arLabelImage(LabelStorage& storage, const FrameImage& frame, int threshold,
                          LabelResult* result);

// arLabelImage with the limits of `local` (arLocalThresholds, for this frame):
// pixel (x, y) is dark when B + G + R is at most the limit of its tile.
MarkerStatus arLabelImageLocal(LabelStorage& storage, const FrameImage& frame,
                               const LocalThresholdStorage& local, LabelResult* result);
