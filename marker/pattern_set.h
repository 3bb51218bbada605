#pragma once

#include <cstdint>

// Slots of the pattern set.
inline constexpr int PATTERN_SLOT_MAX = 50;
// Cells per side of a template and of a sampled pattern image.
inline constexpr int PATTERN_SIZE = 16;
// Values of one template or pattern image: 16 x 16 cells x 3 colour planes,
// plane p of cell (r, c) at (r * 16 + c) * 3 + p; planes 0, 1, 2 are blue,
// green, red.
inline constexpr int PATTERN_VALUES = PATTERN_SIZE * PATTERN_SIZE * 3;
// Most samples per side when a candidate's interior is sampled.
inline constexpr int PATTERN_SAMPLE_MAX = 64;
// Norm stored for a template whose norm is 0.
inline constexpr double PATTERN_NORM_FLOOR = 1e-7;

// The loaded templates: each slot holds the four directions of one pattern
// file, brightness inverted (255 - v) and mean-removed, with their norms.
struct PatternSet {
    int count;
    int inUse[PATTERN_SLOT_MAX];
    int32_t templates[PATTERN_SLOT_MAX][4][PATTERN_VALUES];
    double templateNorms[PATTERN_SLOT_MAX][4];
};

// A candidate's interior sampled into 16 x 16 cells, in template order.
struct PatternImage {
    unsigned char values[PATTERN_VALUES];
};
