#include "tests/marker/reference_labeling.h"

#include <algorithm>

namespace lumeko_test {

namespace {

struct Acc {
    int64_t count, sumX, sumY;
    int32_t minX, maxX, minY, maxY;
};

}  // namespace

ReferenceLabels referenceLabelImage(const FrameImage& frame, int threshold, int labelMax) {
    const int w = frame.width;
    const int h = frame.height;
    ReferenceLabels out;
    out.labelImage.assign(static_cast<size_t>(w) * h, 0);
    std::vector<int32_t> table;
    std::vector<Acc> acc;
    auto lab = [&](int x, int y) -> int32_t& {
        return out.labelImage[static_cast<size_t>(y) * w + x];
    };
    auto merge = [&](int32_t a0, int32_t b0) {
        int32_t a = table[a0 - 1];
        int32_t b = table[b0 - 1];
        if (a > b) {
            for (int32_t& e : table) {
                if (e == a)
                    e = b;
            }
            return b;
        }
        if (a < b) {
            for (int32_t& e : table) {
                if (e == b)
                    e = a;
            }
        }
        return a;
    };
    for (int y = 1; y < h - 1; y++) {
        for (int x = 1; x < w - 1; x++) {
            const unsigned char* p = frame.pixels + 4 * (static_cast<size_t>(y) * w + x);
            if (p[0] + p[1] + p[2] > 3 * threshold) {
                continue;
            }
            const int32_t u = lab(x, y - 1), ur = lab(x + 1, y - 1), ul = lab(x - 1, y - 1),
                          l = lab(x - 1, y);
            int32_t label;
            if (u > 0) {
                label = u;
                acc[label - 1].maxY = y;
            } else if (ur > 0 && ul > 0) {
                label = merge(ur, ul);
                acc[label - 1].maxY = y;
            } else if (ur > 0 && l > 0) {
                label = merge(ur, l);
            } else if (ur > 0) {
                label = ur;
                acc[label - 1].minX = std::min(acc[label - 1].minX, x);
                acc[label - 1].maxY = y;
            } else if (ul > 0) {
                label = ul;
                acc[label - 1].maxX = std::max(acc[label - 1].maxX, x);
                acc[label - 1].maxY = y;
            } else if (l > 0) {
                label = l;
                acc[label - 1].maxX = std::max(acc[label - 1].maxX, x);
            } else {
                if (static_cast<int>(table.size()) + 1 > labelMax) {
                    out.failed = true;
                    return out;
                }
                label = static_cast<int32_t>(table.size()) + 1;
                table.push_back(label);
                acc.push_back(Acc{0, 0, 0, x, x, y, y});
            }
            acc[label - 1].count++;
            acc[label - 1].sumX += x;
            acc[label - 1].sumY += y;
            lab(x, y) = label;
        }
    }
    int32_t next = 1;
    for (size_t p = 1; p <= table.size(); p++) {
        if (table[p - 1] == static_cast<int32_t>(p)) {
            table[p - 1] = next++;
        } else {
            table[p - 1] = table[table[p - 1] - 1];
        }
    }
    out.labelCount = next - 1;
    out.labelMap = table;
    const size_t n = out.labelCount;
    out.areas.assign(n, 0);
    out.centroidX.assign(n, 0.0);
    out.centroidY.assign(n, 0.0);
    out.minX.assign(n, w);
    out.maxX.assign(n, 0);
    out.minY.assign(n, h);
    out.maxY.assign(n, 0);
    for (size_t p = 0; p < table.size(); p++) {
        const size_t l = table[p] - 1;
        out.areas[l] += static_cast<int32_t>(acc[p].count);
        out.centroidX[l] += static_cast<double>(acc[p].sumX);
        out.centroidY[l] += static_cast<double>(acc[p].sumY);
        out.minX[l] = std::min(out.minX[l], acc[p].minX);
        out.maxX[l] = std::max(out.maxX[l], acc[p].maxX);
        out.minY[l] = std::min(out.minY[l], acc[p].minY);
        out.maxY[l] = std::max(out.maxY[l], acc[p].maxY);
    }
    for (size_t l = 0; l < n; l++) {
        out.centroidX[l] /= out.areas[l];
        out.centroidY[l] /= out.areas[l];
    }
    return out;
}

}  // namespace lumeko_test
