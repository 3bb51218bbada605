#include "marker/pattern_match.h"

#include <cmath>
#include <cstdint>

#include "marker/pattern_extract.h"

namespace {

// The sum of the products of the pattern's and a template's values. Integer
// sums: in any order the same; with AVX2 (chosen at start-up) four products
// a step.
int64_t productSum(const int* input, const int32_t* values) {
    int64_t sum = 0;
    for (int k = 0; k < PATTERN_VALUES; k++)
        sum += static_cast<int64_t>(input[k]) * values[k];
    return sum;
}

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx2"))) int64_t productSumAvx2(const int* input, const int32_t* values) {
    int64_t sum = 0;
    for (int k = 0; k < PATTERN_VALUES; k++)
        sum += static_cast<int64_t>(input[k]) * values[k];
    return sum;
}
#endif

}  // namespace

PatternMatch arMatchPattern(const PatternSet& set, const PatternImage& pattern) {
    int total = 0;
    for (int k = 0; k < PATTERN_VALUES; k++) {
        total += 255 - pattern.values[k];
    }
    const int mean = total / PATTERN_VALUES;
    int input[PATTERN_VALUES];
    int64_t squares = 0;
    for (int k = 0; k < PATTERN_VALUES; k++) {
        input[k] = 255 - pattern.values[k] - mean;
        squares += input[k] * input[k];
    }
    const double norm = std::sqrt(static_cast<double>(squares));
    if (norm == 0.0) {
        return {MarkerStatus::UniformPattern, 0, 0, 0.0};
    }
    auto products = productSum;
#if defined(__x86_64__) && defined(__GNUC__)
    if (__builtin_cpu_supports("avx2"))
        products = productSumAvx2;
#endif
    PatternMatch match{MarkerStatus::NoMatch, 0, 0, 0.0};
    for (int slot = 0; slot < PATTERN_SLOT_MAX; slot++) {
        if (!set.inUse[slot]) {
            continue;
        }
        for (int d = 0; d < 4; d++) {
            const int64_t sum = products(input, set.templates[slot][d]);
            const double correlation = static_cast<double>(sum) / set.templateNorms[slot][d] / norm;
            if (correlation > match.confidence) {
                match = {MarkerStatus::Ok, slot, d, correlation};
            }
        }
    }
    return match;
}

void arPatternCode(const PatternSet& set, const FrameImage& frame, const int32_t* contourX,
                   const int32_t* contourY, const int32_t cornerIndex[5], int* id, int* direction,
                   double* confidence) {
    PatternImage pattern;
    const MarkerStatus sampled = arExtractPattern(frame, contourX, contourY, cornerIndex, &pattern);
    const PatternMatch match = sampled == MarkerStatus::Ok ? arMatchPattern(set, pattern)
                                                           : PatternMatch{sampled, 0, 0, 0.0};
    switch (match.status) {
        case MarkerStatus::Ok:
            *id = match.id;
            *direction = match.direction;
            *confidence = match.confidence;
            return;
        case MarkerStatus::UniformPattern:
            *id = 0;
            *direction = 0;
            *confidence = -1.0;
            return;
        default:
            *id = -1;
            *direction = -1;
            *confidence = 0.0;
            return;
    }
}
