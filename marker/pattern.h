#pragma once

#include "marker/pattern_set.h"

// Why a pattern file could not be loaded.
enum class PatternLoadError {
    None,
    FileMissing,  // the file cannot be opened
    ReadError,    // fewer than 3072 readable integers
    SetFull,      // all PATTERN_SLOT_MAX slots are in use
};

// Loads a pattern file into the lowest free slot of `set`; returns the slot
// number (the pattern's id), or -1 with the reason in `*error` (`set` is then
// unchanged as far as its users can tell: the slot stays free). Prints nothing.
//
// The file holds 3072 integers 0..255 separated by white space: four
// direction blocks, each of three colour planes (blue, green, red), each of
// 16 rows of 16 values, top row first, left to right. Block 0 is the picture
// inside the marker's black square as printed, upright; block d is that
// picture turned d x 90 degrees counter-clockwise. The picture fills the
// central half of the black square (a quarter of its side is border on
// each side).
int arLoadPatternFile(PatternSet& set, const char* filename, PatternLoadError* error);

// Reads the upright picture (the first direction block) of a pattern file
// as it is printed, cell by cell: blue, green and red of cell (r, c) at
// (r * 16 + c) * 3, top row first; levels outside 0..255 are clipped. The
// same file arLoadPatternFile takes; -1 with the reason when it cannot.
int arReadPatternPicture(const char* filename, unsigned char picture[PATTERN_VALUES],
                         PatternLoadError* error);
