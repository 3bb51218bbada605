#include "marker/labeling.h"

#include <cstddef>
#include <cstdint>
#include <new>

namespace {

// Smallest label of p's class. Parents are always smaller than their
// children, and halving the path keeps that true.
int32_t representative(int32_t* equivalence, int32_t p) {
    while (equivalence[p - 1] != p) {
        int32_t parent = equivalence[p - 1];
        equivalence[p - 1] = equivalence[parent - 1];
        p = parent;
    }
    return p;
}

// Joins the classes of labels a and b; the smaller representative stays.
int32_t mergeClasses(int32_t* equivalence, int32_t a, int32_t b) {
    int32_t ra = representative(equivalence, a);
    int32_t rb = representative(equivalence, b);
    if (ra > rb) {
        equivalence[ra - 1] = rb;
        return rb;
    }
    if (ra < rb) {
        equivalence[rb - 1] = ra;
    }
    return ra;
}

void addPixel(LabelAccumulator& acc, int x, int y) {
    acc.count++;
    acc.sumX += x;
    acc.sumY += y;
}

void clearBorder(LabelValue* image, int width, int height) {
    for (int x = 0; x < width; x++) {
        image[x] = 0;
        image[(height - 1) * width + x] = 0;
    }
    for (int y = 0; y < height; y++) {
        image[y * width] = 0;
        image[y * width + width - 1] = 0;
    }
}

// Labels the dark pixel (x, y) from its already visited neighbours U, UR, UL
// and L; returns the label it takes, or 0 when a new label would exceed
// LABEL_MAX. `made` counts the provisional labels made so far.
int32_t labelDarkPixel(LabelStorage& storage, const LabelValue* here, int width, int x, int y,
                       int32_t& made) {
    int32_t* equivalence = storage.equivalence;
    LabelAccumulator* accumulators = storage.accumulators;
    int32_t u = here[-width];
    int32_t ur = here[-width + 1];
    int32_t ul = here[-width - 1];
    int32_t l = here[-1];
    if (u > 0) {
        LabelAccumulator& acc = accumulators[u - 1];
        addPixel(acc, x, y);
        acc.maxY = y;
        return u;
    }
    if (ur > 0 && ul > 0) {
        int32_t label = mergeClasses(equivalence, ur, ul);
        LabelAccumulator& acc = accumulators[label - 1];
        addPixel(acc, x, y);
        acc.maxY = y;
        return label;
    }
    if (ur > 0 && l > 0) {
        int32_t label = mergeClasses(equivalence, ur, l);
        addPixel(accumulators[label - 1], x, y);
        return label;
    }
    if (ur > 0) {
        LabelAccumulator& acc = accumulators[ur - 1];
        addPixel(acc, x, y);
        if (x < acc.minX) {
            acc.minX = x;
        }
        acc.maxY = y;
        return ur;
    }
    if (ul > 0) {
        LabelAccumulator& acc = accumulators[ul - 1];
        addPixel(acc, x, y);
        if (x > acc.maxX) {
            acc.maxX = x;
        }
        acc.maxY = y;
        return ul;
    }
    if (l > 0) {
        LabelAccumulator& acc = accumulators[l - 1];
        addPixel(acc, x, y);
        if (x > acc.maxX) {
            acc.maxX = x;
        }
        return l;
    }
    if (made >= LABEL_MAX) {
        return 0;
    }
    made++;
    equivalence[made - 1] = made;
    accumulators[made - 1] = LabelAccumulator{1, x, y, x, x, y, y};
    return made;
}

// The raster pass; returns the number of provisional labels made, or -1.
int32_t labelPixels(LabelStorage& storage, const FrameImage& frame, int threshold,
                    LabelValue* image) {
    const int width = frame.width;
    const int64_t limit = 3 * static_cast<int64_t>(threshold);
    int32_t made = 0;
    for (int y = 1; y < frame.height - 1; y++) {
        const unsigned char* pixel = frame.pixels + 4 * (static_cast<size_t>(y) * width + 1);
        LabelValue* here = image + static_cast<size_t>(y) * width + 1;
        for (int x = 1; x < width - 1; x++, pixel += 4, here++) {
            if (pixel[0] + pixel[1] + pixel[2] > limit) {
                *here = 0;
                continue;
            }
            int32_t label = labelDarkPixel(storage, here, width, x, y, made);
            if (label == 0) {
                return -1;
            }
            *here = static_cast<LabelValue>(label);
        }
    }
    return made;
}

// Numbers the classes 1, 2, ... in the order of their smallest label (the
// raster order of their first pixel); returns the number of classes.
int32_t renumberLabels(int32_t* equivalence, int32_t made) {
    int32_t next = 1;
    for (int32_t p = 1; p <= made; p++) {
        if (equivalence[p - 1] == p) {
            equivalence[p - 1] = next++;
        } else {
            equivalence[p - 1] = equivalence[equivalence[p - 1] - 1];
        }
    }
    return next - 1;
}

void gatherRegionStatistics(LabelStorage& storage, int32_t made, int32_t regions, int width,
                            int height) {
    const int32_t* equivalence = storage.equivalence;
    const LabelAccumulator* accumulators = storage.accumulators;
    int32_t* regionAreas = storage.regionAreas;
    ImagePoint* regionCentroids = storage.regionCentroids;
    RegionBox* regionBoxes = storage.regionBoxes;
    for (int32_t l = 0; l < regions; l++) {
        regionAreas[l] = 0;
        regionCentroids[l] = ImagePoint{0.0, 0.0};
        regionBoxes[l] = RegionBox{width, 0, height, 0};
    }
    for (int32_t p = 0; p < made; p++) {
        const LabelAccumulator& acc = accumulators[p];
        const int32_t l = equivalence[p] - 1;
        regionAreas[l] += acc.count;
        regionCentroids[l].x += static_cast<double>(acc.sumX);
        regionCentroids[l].y += static_cast<double>(acc.sumY);
        RegionBox& box = regionBoxes[l];
        if (acc.minX < box.minX)
            box.minX = acc.minX;
        if (acc.maxX > box.maxX)
            box.maxX = acc.maxX;
        if (acc.minY < box.minY)
            box.minY = acc.minY;
        if (acc.maxY > box.maxY)
            box.maxY = acc.maxY;
    }
    for (int32_t l = 0; l < regions; l++) {
        regionCentroids[l].x /= regionAreas[l];
        regionCentroids[l].y /= regionAreas[l];
    }
}

}  // namespace

int arInitLabeling(LabelStorage& storage, int width, int height) {
    if (width <= 0 || height <= 0) {
        return -1;
    }
    const size_t cells = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (cells > static_cast<size_t>(INT32_MAX)) {
        return -1;
    }
    if (cells > storage.labelImage.size()) {
        try {
            storage.labelImage.assign(cells, 0);
        } catch (const std::bad_alloc&) {
            return -1;
        }
    }
    return 0;
}

const LabelValue* arLabelImage(LabelStorage& storage, const FrameImage& frame, int threshold,
                               LabelResult* result) {
    if (frame.width <= 0 || frame.height <= 0 ||
        static_cast<uint64_t>(frame.width) * static_cast<uint64_t>(frame.height) >
            storage.labelImage.size()) {
        return nullptr;
    }
    LabelValue* image = storage.labelImage.data();
    clearBorder(image, frame.width, frame.height);
    const int32_t made = labelPixels(storage, frame, threshold, image);
    if (made < 0) {
        return nullptr;
    }
    const int32_t regions = renumberLabels(storage.equivalence, made);
    if (regions > 0) {
        gatherRegionStatistics(storage, made, regions, frame.width, frame.height);
    }
    result->labelImage = image;
    result->width = frame.width;
    result->height = frame.height;
    result->labelCount = regions;
    result->labelMap = storage.equivalence;
    result->areas = storage.regionAreas;
    result->centroids = storage.regionCentroids;
    result->boxes = storage.regionBoxes;
    return image;
}
