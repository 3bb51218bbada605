#pragma once

// The labeling rules taken literally: every merge rewrites the equivalence table.

#include <cstdint>
#include <vector>

#include "image/frame_image.h"

namespace lumeko_test {

struct ReferenceLabels {
    bool failed = false;              // more than labelMax provisional labels
    std::vector<int32_t> labelImage;  // provisional labels
    std::vector<int32_t> labelMap;    // final label of provisional label p at p - 1
    int32_t labelCount = 0;
};

ReferenceLabels referenceLabelImage(const FrameImage& frame, int threshold, int labelMax);

}  // namespace lumeko_test
