#pragma once

// A plain transcription of the labeling rules, with the equivalence table
// rewritten on every merge, to check the product's labeling against.

#include <cstdint>
#include <vector>

#include "marker/frame_image.h"

namespace lumeko_test {

struct ReferenceLabels {
    bool failed = false;
    std::vector<int32_t> labelImage;  // provisional labels
    int32_t labelCount = 0;
    std::vector<int32_t> labelMap;  // final label of provisional label p at p - 1
    std::vector<int32_t> areas;
    std::vector<double> centroidX, centroidY;
    std::vector<int32_t> minX, maxX, minY, maxY;
};

ReferenceLabels referenceLabelImage(const FrameImage& frame, int threshold, int labelMax);

}  // namespace lumeko_test
