#pragma once

#include <cstdint>
#include <vector>

#include "marker/frame_image.h"
#include "marker/marker_records.h"

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

// Labeling's working storage: the label image, sized once by arInitLabeling,
// and the per-label tables the LabelResult of the last pass points into.
struct LabelStorage {
    std::vector<LabelValue> labelImage;
    // Equivalence table, entry p - 1 for provisional label p. During the
    // raster pass it is a forest whose roots are the smallest label of their
    // class; after renumbering it holds final labels (the result's labelMap).
    int32_t equivalence[LABEL_MAX];
    LabelAccumulator accumulators[LABEL_MAX];
    int32_t regionAreas[LABEL_MAX];
    ImagePoint regionCentroids[LABEL_MAX];
    RegionBox regionBoxes[LABEL_MAX];
};

// Sizes `storage`'s label image for frames of up to width x height pixels
// (it never shrinks). Called once at set-up; 0, or -1 for a size that is not
// positive or too large, or when memory runs out.
int arInitLabeling(LabelStorage& storage, int width, int height);

// Binarises `frame` (dark: B + G + R <= 3 * threshold) and labels its
// 8-connected dark regions into `storage`, leaving the outer border of the
// frame unlabelled. Returns the label image and fills `result` (pointing into
// `storage`); returns null (and leaves `result` alone) when more than
// LABEL_MAX provisional labels are needed or the frame is larger than the
// storage was sized for.
const LabelValue* arLabelImage(LabelStorage& storage, const FrameImage& frame, int threshold,
                               LabelResult* result);
