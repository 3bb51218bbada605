#include "bench/reference_labeling.h"

#include <algorithm>

namespace lumeko_test {

ReferenceLabels referenceLabelImage(const FrameImage& frame, int threshold, int labelMax) {
    const int w = frame.width;
    ReferenceLabels out;
    out.labelImage.assign(static_cast<size_t>(w) * frame.height, 0);
    std::vector<int32_t>& table = out.labelMap;
    auto merge = [&](int32_t a, int32_t b) {
        const int32_t ta = table[a - 1], tb = table[b - 1];  // copies: replace() rewrites them
        std::replace(table.begin(), table.end(), std::max(ta, tb), std::min(ta, tb));
        return std::min(ta, tb);
    };
    for (int y = 1; y < frame.height - 1; y++) {
        for (int x = 1; x < w - 1; x++) {
            const unsigned char* p = frame.pixels + 4 * (static_cast<size_t>(y) * w + x);
            if (p[0] + p[1] + p[2] > 3 * threshold) {
                continue;
            }
            int32_t* label = &out.labelImage[static_cast<size_t>(y) * w + x];
            const int32_t u = label[-w], ur = label[1 - w], ul = label[-1 - w], l = label[-1];
            if (u > 0) {
                *label = u;
            } else if (ur > 0 && (ul > 0 || l > 0)) {
                *label = merge(ur, ul > 0 ? ul : l);
            } else if (ur > 0 || ul > 0 || l > 0) {
                *label = ur > 0 ? ur : ul > 0 ? ul : l;
            } else if (static_cast<int>(table.size()) == labelMax) {
                out.failed = true;
                return out;
            } else {
                *label = static_cast<int32_t>(table.size()) + 1;
                table.push_back(*label);
            }
        }
    }
    for (size_t p = 1; p <= table.size(); p++) {
        table[p - 1] =
            table[p - 1] == static_cast<int32_t>(p) ? ++out.labelCount : table[table[p - 1] - 1];
    }
    return out;
}

}  // namespace lumeko_test
