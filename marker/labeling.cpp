#include "marker/labeling.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

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

// Marks the dark pixels of one row in a bit mask, bit x % 64 of word
// x / 64 for pixel x: set when B + G + R <= limit. `dark` has room for
// width bits.
void classifyRowPlain(const unsigned char* pixels, int width, int limit, uint64_t* dark) {
    for (int w = 0; w < (width + 63) / 64; w++) {
        dark[w] = 0;
    }
    for (int x = 0; x < width; x++) {
        const unsigned char* p = pixels + 4 * static_cast<size_t>(x);
        const int sum = p[0] + p[1] + p[2];
        dark[x / 64] |= static_cast<uint64_t>(sum <= limit) << (x % 64);
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
// Whether each of the 8 pixels at `pixels` is light, as all-ones or zero
// 32-bit lanes: the three colour bytes added by two multiply-adds (weights
// 1, 1, 1, 0: alpha left out), compared with the limit.
__attribute__((target("avx2"))) inline __m256i lightLanes(const unsigned char* pixels,
                                                          __m256i limits) {
    const __m256i weights = _mm256_set1_epi32(0x00010101);
    const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels));
    const __m256i sums = _mm256_madd_epi16(_mm256_maddubs_epi16(p, weights), _mm256_set1_epi16(1));
    return _mm256_cmpgt_epi32(sums, limits);
}

// The same mask 32 pixels a step, the comparisons packed into one bit each.
// Integer work: the mask equals classifyRowPlain's.
__attribute__((target("avx2"))) void classifyRowAvx2(const unsigned char* pixels, int width,
                                                     int limit, uint64_t* dark) {
    const __m256i limits = _mm256_set1_epi32(limit);
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    uint32_t* halves = reinterpret_cast<uint32_t*>(dark);
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        const unsigned char* p = pixels + 4 * static_cast<size_t>(x);
        const __m256i first = _mm256_packs_epi32(lightLanes(p, limits), lightLanes(p + 32, limits));
        const __m256i second =
            _mm256_packs_epi32(lightLanes(p + 64, limits), lightLanes(p + 96, limits));
        const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packs_epi16(first, second), order);
        const uint32_t bits = ~static_cast<uint32_t>(_mm256_movemask_epi8(bytes));
        std::memcpy(halves + x / 32, &bits, sizeof bits);
    }
    if (x < width) {
        uint64_t tail[1];
        classifyRowPlain(pixels + 4 * static_cast<size_t>(x), width - x, limit, tail);
        const uint32_t bits = static_cast<uint32_t>(tail[0]);
        std::memcpy(halves + x / 32, &bits, sizeof bits);
    }
}
#endif

// The mask with a limit a pixel: pixel x is dark when B + G + R <= limits[x].
void classifyRowLocalPlain(const unsigned char* pixels, int width, const int32_t* limits,
                           uint64_t* dark) {
    for (int w = 0; w < (width + 63) / 64; w++) {
        dark[w] = 0;
    }
    for (int x = 0; x < width; x++) {
        const unsigned char* p = pixels + 4 * static_cast<size_t>(x);
        const int sum = p[0] + p[1] + p[2];
        dark[x / 64] |= static_cast<uint64_t>(sum <= limits[x]) << (x % 64);
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
// lightLanes for the 8 pixels from x on, each against its own limit.
__attribute__((target("avx2"))) inline __m256i lightLanesAt(const unsigned char* pixels,
                                                            const int32_t* limits, int x) {
    return lightLanes(pixels + 4 * static_cast<size_t>(x),
                      _mm256_loadu_si256(reinterpret_cast<const __m256i*>(limits + x)));
}

// classifyRowLocalPlain 32 pixels a step, as classifyRowAvx2.
__attribute__((target("avx2"))) void classifyRowLocalAvx2(const unsigned char* pixels, int width,
                                                          const int32_t* limits, uint64_t* dark) {
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    uint32_t* halves = reinterpret_cast<uint32_t*>(dark);
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        const __m256i first = _mm256_packs_epi32(lightLanesAt(pixels, limits, x),
                                                 lightLanesAt(pixels, limits, x + 8));
        const __m256i second = _mm256_packs_epi32(lightLanesAt(pixels, limits, x + 16),
                                                  lightLanesAt(pixels, limits, x + 24));
        const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packs_epi16(first, second), order);
        const uint32_t bits = ~static_cast<uint32_t>(_mm256_movemask_epi8(bytes));
        std::memcpy(halves + x / 32, &bits, sizeof bits);
    }
    if (x < width) {
        uint64_t tail[1];
        classifyRowLocalPlain(pixels + 4 * static_cast<size_t>(x), width - x, limits + x, tail);
        const uint32_t bits = static_cast<uint32_t>(tail[0]);
        std::memcpy(halves + x / 32, &bits, sizeof bits);
    }
}
#endif

using ClassifyRow = void (*)(const unsigned char*, int, int, uint64_t*);
using ClassifyRowLocal = void (*)(const unsigned char*, int, const int32_t*, uint64_t*);

// The processor's fastest way to classify a row, chosen once.
ClassifyRow pickClassifier() {
#if defined(__x86_64__) && defined(__GNUC__)
    if (__builtin_cpu_supports("avx2")) {
        return classifyRowAvx2;
    }
#endif
    return classifyRowPlain;
}

const ClassifyRow classifyRow = pickClassifier();

ClassifyRowLocal pickLocalClassifier() {
#if defined(__x86_64__) && defined(__GNUC__)
    if (__builtin_cpu_supports("avx2")) {
        return classifyRowLocalAvx2;
    }
#endif
    return classifyRowLocalPlain;
}

const ClassifyRowLocal classifyRowLocal = pickLocalClassifier();

// First dark x from `x` on; the mask has a dark pixel at or before the end
// of the row.
int nextDark(const uint64_t* dark, int x) {
    int w = x / 64;
    uint64_t word = dark[w] >> (x % 64);
    while (word == 0) {
        word = dark[++w];
        x = 64 * w;
    }
    return x + std::countr_zero(word);
}

// First light x from `x` on, or `end` when none comes before it.
int nextLight(const uint64_t* dark, int x, int end) {
    int w = x / 64;
    uint64_t word = ~dark[w] >> (x % 64);
    while (word == 0) {
        if (64 * ++w > end) {
            return end;
        }
        word = ~dark[w];
        x = 64 * w;
    }
    return std::min(x + std::countr_zero(word), end);
}

// How a pixel's label was found, which decides the parts of its label's box
// it may extend (see LabelAccumulator): every case counts the pixel into
// count, sumX and sumY.
enum BoxUpdate : uint8_t {
    BOX_NONE = 0,
    BOX_MAX_Y = 1,  // maxY = y
    BOX_MIN_X = 2,  // minX = min(minX, x)
    BOX_MAX_X = 4,  // maxX = max(maxX, x)
};

// Pixels of one row that took the same label one after another, gathered
// before they are added to the label's accumulator. Sums and extremes do not
// depend on the order pixels are added in, so the accumulators come out as
// if each pixel had been added on its own.
struct PendingPixels {
    int32_t label = 0;
    int32_t count = 0;
    int64_t sumX = 0;
    int32_t minX = INT32_MAX;
    int32_t maxX = INT32_MIN;
    uint8_t updates = BOX_NONE;

    void add(int x, uint8_t update) {
        count++;
        sumX += x;
        if ((update & BOX_MIN_X) && x < minX) {
            minX = x;
        }
        if ((update & BOX_MAX_X) && x > maxX) {
            maxX = x;
        }
        updates |= update;
    }
    void flush(LabelAccumulator* accumulators, int y) {
        if (count == 0) {
            return;
        }
        LabelAccumulator& acc = accumulators[label - 1];
        acc.count += count;
        acc.sumX += sumX;
        acc.sumY += static_cast<int64_t>(count) * y;
        if (minX < acc.minX) {
            acc.minX = minX;
        }
        if (maxX > acc.maxX) {
            acc.maxX = maxX;
        }
        if (updates & BOX_MAX_Y) {
            acc.maxY = y;
        }
        *this = PendingPixels{};
    }
};

// The raster pass: the number of provisional labels made into `made`, or
// CapacityExceeded.
//
// Each dark pixel (x, y) takes its label from its already visited
// neighbours U, UR, UL and L, in this order of preference:
//   U                  U's label                              box: maxY
//   UR and UL          the merged class of UR and UL          box: maxY
//   UR and L           the merged class of UR and L           box: none
//   UR alone           UR's label                             box: minX, maxY
//   UL (no UR)         UL's label                             box: maxX, maxY
//   L alone            L's label                              box: maxX
//   none               a new label                            box: the pixel
// Rows are classified into a mask first; runs of light pixels are skipped
// word by word and only set to 0, and within a run of dark pixels L is the
// label just given.
// `classify(y, dark)` fills row y's mask.
template <typename Classify>
MarkerStatus labelPixels(LabelStorage& storage, const FrameImage& frame, Classify classify,
                         LabelValue* image, int32_t* labelsMade) {
    const int width = frame.width;
    int32_t* equivalence = storage.equivalence.get();
    LabelAccumulator* accumulators = storage.accumulators.get();
    uint64_t* dark = storage.darkRow.get();
    const int end = width - 1;  // the right border column
    int32_t made = 0;
    for (int y = 1; y < frame.height - 1; y++) {
        classify(y, dark);
        dark[end / 64] |= uint64_t{1} << (end % 64);  // the search for dark pixels stops here
        LabelValue* row = image + static_cast<size_t>(y) * width;
        const LabelValue* above = row - width;
        PendingPixels pending;
        int x = 1;
        while (x < end) {
            const int next = nextDark(dark, x);
            std::memset(row + x, 0, static_cast<size_t>(next - x) * sizeof(LabelValue));
            x = next;
            const int runEnd = nextLight(dark, x, end);
            int32_t l = 0;
            for (; x < runEnd; x++) {
                const int32_t u = above[x];
                const int32_t ur = above[x + 1];
                const int32_t ul = above[x - 1];
                int32_t label;
                uint8_t update;
                if (u > 0) {
                    label = u;
                    update = BOX_MAX_Y;
                } else if (ur > 0 && ul > 0) {
                    label = mergeClasses(equivalence, ur, ul);
                    update = BOX_MAX_Y;
                } else if (ur > 0 && l > 0) {
                    label = mergeClasses(equivalence, ur, l);
                    update = BOX_NONE;
                } else if (ur > 0) {
                    label = ur;
                    update = BOX_MIN_X | BOX_MAX_Y;
                } else if (ul > 0) {
                    label = ul;
                    update = BOX_MAX_X | BOX_MAX_Y;
                } else if (l > 0) {
                    label = l;
                    update = BOX_MAX_X;
                } else {
                    if (made >= storage.labelCapacity) {
                        return MarkerStatus::CapacityExceeded;
                    }
                    made++;
                    equivalence[made - 1] = made;
                    accumulators[made - 1] = LabelAccumulator{1, x, y, x, x, y, y};
                    row[x] = made;
                    l = made;
                    continue;
                }
                if (label != pending.label) {
                    pending.flush(accumulators, y);
                    pending.label = label;
                }
                pending.add(x, update);
                row[x] = label;
                l = label;
            }
        }
        pending.flush(accumulators, y);
    }
    *labelsMade = made;
    return MarkerStatus::Ok;
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
    const int32_t* equivalence = storage.equivalence.get();
    const LabelAccumulator* accumulators = storage.accumulators.get();
    int32_t* regionAreas = storage.regionAreas.get();
    ImagePoint* regionCentroids = storage.regionCentroids.get();
    RegionBox* regionBoxes = storage.regionBoxes.get();
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

int64_t arLabelBound(int width, int height) {
    if (width < 3 || height < 3) {
        return 0;
    }
    return static_cast<int64_t>((width - 1) / 2) * ((height - 1) / 2);
}

MarkerStatus arInitLabeling(LabelStorage& storage, int width, int height, int32_t labelCapacity) {
    if (width <= 0 || height <= 0 || labelCapacity < 0) {
        return MarkerStatus::BadSize;
    }
    const size_t cells = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (cells > static_cast<size_t>(INT32_MAX)) {
        return MarkerStatus::BadSize;
    }
    // At least one entry, so that the tables always exist.
    const int32_t capacity =
        labelCapacity > 0 ? labelCapacity
                          : static_cast<int32_t>(std::max<int64_t>(arLabelBound(width, height), 1));
    try {
        if (width > storage.rowWidth) {
            // Whole words, and one to spare.
            storage.darkRow = std::make_unique<uint64_t[]>(static_cast<size_t>(width) / 64 + 2);
            storage.rowLimits = std::make_unique<int32_t[]>(width);
            storage.rowWidth = width;
        }
        if (cells > storage.imageCells) {
            storage.labelImage.reset();
            storage.labelImage = std::make_unique_for_overwrite<LabelValue[]>(cells);
            storage.imageCells = cells;
        }
        if (capacity > storage.labelCapacity) {
            storage.labelCapacity = 0;
            storage.equivalence = std::make_unique_for_overwrite<int32_t[]>(capacity);
            storage.accumulators = std::make_unique_for_overwrite<LabelAccumulator[]>(capacity);
            storage.regionAreas = std::make_unique_for_overwrite<int32_t[]>(capacity);
            storage.regionCentroids = std::make_unique_for_overwrite<ImagePoint[]>(capacity);
            storage.regionBoxes = std::make_unique_for_overwrite<RegionBox[]>(capacity);
            storage.labelCapacity = capacity;
        }
    } catch (const std::bad_alloc&) {
        return MarkerStatus::OutOfMemory;
    }
    return MarkerStatus::Ok;
}

namespace {

bool fitsStorage(const LabelStorage& storage, const FrameImage& frame) {
    return frame.width > 0 && frame.height > 0 && frame.width <= storage.rowWidth &&
           static_cast<uint64_t>(frame.width) * static_cast<uint64_t>(frame.height) <=
               storage.imageCells;
}

// Labels the regions of the dark pixels `classify` marks, as arLabelImage.
template <typename Classify>
MarkerStatus labelRegions(LabelStorage& storage, const FrameImage& frame, LabelResult* result,
                          Classify classify) {
    LabelValue* image = storage.labelImage.get();
    clearBorder(image, frame.width, frame.height);
    int32_t made = 0;
    const MarkerStatus labeled = labelPixels(storage, frame, classify, image, &made);
    if (labeled != MarkerStatus::Ok) {
        return labeled;
    }
    const int32_t regions = renumberLabels(storage.equivalence.get(), made);
    if (regions > 0) {
        gatherRegionStatistics(storage, made, regions, frame.width, frame.height);
    }
    result->labelImage = image;
    result->width = frame.width;
    result->height = frame.height;
    result->labelCount = regions;
    result->labelMap = storage.equivalence.get();
    result->areas = storage.regionAreas.get();
    result->centroids = storage.regionCentroids.get();
    result->boxes = storage.regionBoxes.get();
    return MarkerStatus::Ok;
}

}  // namespace

MarkerStatus arLabelImage(LabelStorage& storage, const FrameImage& frame, int threshold,
                          LabelResult* result) {
    if (!fitsStorage(storage, frame)) {
        return MarkerStatus::BadFrame;
    }
    const int limit =
        static_cast<int>(std::clamp<int64_t>(3 * static_cast<int64_t>(threshold), -1, 765));
    return labelRegions(storage, frame, result, [&](int y, uint64_t* dark) {
        classifyRow(frame.pixels + 4 * static_cast<size_t>(y) * frame.width, frame.width, limit,
                    dark);
    });
}

MarkerStatus arLabelImageLocal(LabelStorage& storage, const FrameImage& frame,
                               const LocalThresholdStorage& local, LabelResult* result) {
    if (!fitsStorage(storage, frame) || frame.width != local.width ||
        frame.height != local.height) {
        return MarkerStatus::BadFrame;
    }
    int32_t* limits = storage.rowLimits.get();
    int tileRow = -1;
    return labelRegions(storage, frame, result, [&](int y, uint64_t* dark) {
        if (y / local.tileSize != tileRow) {
            tileRow = y / local.tileSize;
            const int32_t* tiles = local.tileLimits.get() + tileRow * local.tilesX;
            for (int x = 0; x < frame.width; x++) {
                limits[x] = tiles[x / local.tileSize];
            }
        }
        classifyRowLocal(frame.pixels + 4 * static_cast<size_t>(y) * frame.width, frame.width,
                         limits, dark);
    });
}
