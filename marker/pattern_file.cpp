#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>

#include "marker/pattern.h"

namespace {

MarkerStatus lowestFreeSlot(const PatternSet& set, int* free) {
    for (int slot = 0; slot < PATTERN_SLOT_MAX; slot++) {
        if (!set.inUse[slot]) {
            *free = slot;
            return MarkerStatus::Ok;
        }
    }
    return MarkerStatus::PatternSetFull;
}

// Reads the next decimal number as fscanf's "%d" does (white space skipped,
// an optional sign, then digits up to the first other character, which stays
// unread) into `value`. PatternUnreadable at the end of the file, when no
// digit follows, and when the number is out of int's range (undefined for
// fscanf).
MarkerStatus readNumber(std::FILE* file, int* value) {
    int c = std::fgetc(file);
    while (c != EOF && std::isspace(c))
        c = std::fgetc(file);
    const bool negative = c == '-';
    if (c == '-' || c == '+')
        c = std::fgetc(file);
    if (c == EOF || !std::isdigit(c))
        return MarkerStatus::PatternUnreadable;
    // Up to INT_MAX, or one more for a negative number.
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long magnitude = 0;
    for (; c != EOF && std::isdigit(c); c = std::fgetc(file)) {
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > limit)
            return MarkerStatus::PatternUnreadable;
    }
    if (c != EOF)
        std::ungetc(c, file);
    *value = static_cast<int>(negative ? -magnitude : magnitude);
    return MarkerStatus::Ok;
}

// Reads one direction block into `values` (inverted, in template order),
// removes its mean and gives its norm; PatternUnreadable when a value cannot
// be read.
MarkerStatus readDirection(std::FILE* file, int32_t* values, double* norm) {
    int64_t total = 0;
    for (int plane = 0; plane < 3; plane++) {
        for (int row = 0; row < PATTERN_SIZE; row++) {
            for (int column = 0; column < PATTERN_SIZE; column++) {
                int v = 0;
                if (readNumber(file, &v) != MarkerStatus::Ok) {
                    return MarkerStatus::PatternUnreadable;
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
    *norm = std::sqrt(squares);
    if (*norm == 0.0) {
        *norm = PATTERN_NORM_FLOOR;
    }
    return MarkerStatus::Ok;
}

}  // namespace

PatternLoad arLoadPatternFile(PatternSet& set, const char* filename) {
    int slot = 0;
    if (lowestFreeSlot(set, &slot) != MarkerStatus::Ok) {
        return {MarkerStatus::PatternSetFull, 0, 0};
    }
    std::FILE* file = std::fopen(filename, "r");
    if (file == nullptr) {
        return {MarkerStatus::PatternCannotOpen, 0, errno};
    }
    for (int d = 0; d < 4; d++) {
        double norm = 0.0;
        if (readDirection(file, set.templates[slot][d], &norm) != MarkerStatus::Ok) {
            const int error = std::ferror(file) != 0 ? errno : 0;
            std::fclose(file);
            return {MarkerStatus::PatternUnreadable, 0, error};
        }
        set.templateNorms[slot][d] = norm;
    }
    std::fclose(file);
    set.inUse[slot] = 1;
    set.count++;
    return {MarkerStatus::Ok, slot, 0};
}

PatternLoad arReadPatternPicture(const char* filename, unsigned char picture[PATTERN_VALUES]) {
    std::FILE* file = std::fopen(filename, "r");
    if (file == nullptr) {
        return {MarkerStatus::PatternCannotOpen, 0, errno};
    }
    for (int plane = 0; plane < 3; plane++) {
        for (int cell = 0; cell < PATTERN_SIZE * PATTERN_SIZE; cell++) {
            int v = 0;
            if (readNumber(file, &v) != MarkerStatus::Ok) {
                const int error = std::ferror(file) != 0 ? errno : 0;
                std::fclose(file);
                return {MarkerStatus::PatternUnreadable, 0, error};
            }
            picture[cell * 3 + plane] = static_cast<unsigned char>(v < 0 ? 0 : (v > 255 ? 255 : v));
        }
    }
    std::fclose(file);
    return {MarkerStatus::Ok, 0, 0};
}
