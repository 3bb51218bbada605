#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>

#include "marker/pattern.h"

namespace {

int lowestFreeSlot(const PatternSet& set) {
    for (int slot = 0; slot < PATTERN_SLOT_MAX; slot++) {
        if (!set.inUse[slot]) {
            return slot;
        }
    }
    return -1;
}

// Reads the next decimal number as fscanf's "%d" does (white space skipped,
// an optional sign, then digits up to the first other character, which stays
// unread) into `value`. False at the end of the file, when no digit follows,
// and when the number is out of int's range (undefined for fscanf).
bool readNumber(std::FILE* file, int* value) {
    int c = std::fgetc(file);
    while (c != EOF && std::isspace(c))
        c = std::fgetc(file);
    const bool negative = c == '-';
    if (c == '-' || c == '+')
        c = std::fgetc(file);
    if (c == EOF || !std::isdigit(c))
        return false;
    // Up to INT_MAX, or one more for a negative number.
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long magnitude = 0;
    for (; c != EOF && std::isdigit(c); c = std::fgetc(file)) {
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > limit)
            return false;
    }
    if (c != EOF)
        std::ungetc(c, file);
    *value = static_cast<int>(negative ? -magnitude : magnitude);
    return true;
}

// Reads one direction block into `values` (inverted, in template order) and
// removes its mean; returns its norm, or a negative value when a value
// cannot be read.
double readDirection(std::FILE* file, int32_t* values) {
    int64_t total = 0;
    for (int plane = 0; plane < 3; plane++) {
        for (int row = 0; row < PATTERN_SIZE; row++) {
            for (int column = 0; column < PATTERN_SIZE; column++) {
                int v = 0;
                if (!readNumber(file, &v)) {
                    return -1.0;
                }
                const int64_t inverted = 255 - static_cast<int64_t>(v);
                values[(row * PATTERN_SIZE + column) * 3 + plane] = static_cast<int32_t>(inverted);
                total += inverted;
            }
        }
    }
    const int64_t mean = total / PATTERN_VALUES;
    double squares = 0.0;
    for (int k = 0; k < PATTERN_VALUES; k++) {
        values[k] = static_cast<int32_t>(values[k] - mean);
        squares += static_cast<double>(values[k]) * values[k];
    }
    const double norm = std::sqrt(squares);
    return norm == 0.0 ? PATTERN_NORM_FLOOR : norm;
}

}  // namespace

int arLoadPatternFile(PatternSet& set, const char* filename, PatternLoadError* error) {
    const int slot = lowestFreeSlot(set);
    if (slot < 0) {
        *error = PatternLoadError::SetFull;
        return -1;
    }
    std::FILE* file = std::fopen(filename, "r");
    if (file == nullptr) {
        *error = PatternLoadError::FileMissing;
        return -1;
    }
    for (int d = 0; d < 4; d++) {
        const double norm = readDirection(file, set.templates[slot][d]);
        if (norm < 0.0) {
            std::fclose(file);
            *error = PatternLoadError::ReadError;
            return -1;
        }
        set.templateNorms[slot][d] = norm;
    }
    std::fclose(file);
    set.inUse[slot] = 1;
    set.count++;
    *error = PatternLoadError::None;
    return slot;
}

int arReadPatternPicture(const char* filename, unsigned char picture[PATTERN_VALUES],
                         PatternLoadError* error) {
    std::FILE* file = std::fopen(filename, "r");
    if (file == nullptr) {
        *error = PatternLoadError::FileMissing;
        return -1;
    }
    for (int plane = 0; plane < 3; plane++) {
        for (int cell = 0; cell < PATTERN_SIZE * PATTERN_SIZE; cell++) {
            int v = 0;
            if (!readNumber(file, &v)) {
                std::fclose(file);
                *error = PatternLoadError::ReadError;
                return -1;
            }
            picture[cell * 3 + plane] = static_cast<unsigned char>(v < 0 ? 0 : (v > 255 ? 255 : v));
        }
    }
    std::fclose(file);
    *error = PatternLoadError::None;
    return 0;
}
