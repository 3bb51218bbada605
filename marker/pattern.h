#pragma once

#include "marker/marker_status.h"
#include "marker/pattern_set.h"

// What loading a pattern file gives: with Ok the slot it went into (the
// pattern's id); otherwise PatternCannotOpen, PatternUnreadable (fewer than
// 3072 readable integers) or PatternSetFull (all PATTERN_SLOT_MAX slots in
// use), with the operating system's reason (errno) when the file could not be
// opened or read.
struct PatternLoad {
    MarkerStatus status;
    int id;
    int error;

    bool ok() const { return status == MarkerStatus::Ok; }
};

// Loads a pattern file into the lowest free slot of `set`; on a failure `set`
// is unchanged as far as its users can tell (the slot stays free). Prints
// nothing.
//
// The file holds 3072 integers 0..255 separated by white space: four
// direction blocks, each of three colour planes (blue, green, red), each of
// 16 rows of 16 values, top row first, left to right. Block 0 is the picture
// inside the marker's black square as printed, upright; block d is that
// picture turned d x 90 degrees counter-clockwise. The picture fills the
// central half of the black square (a quarter of its side is border on
// each side).
PatternLoad arLoadPatternFile(PatternSet& set, const char* filename);

// Reads the upright picture (the first direction block) of a pattern file
// as it is printed, cell by cell: blue, green and red of cell (r, c) at
// (r * 16 + c) * 3, top row first; levels outside 0..255 are clipped. The
// same file arLoadPatternFile takes; its status and reason as a load gives
// them (the id is 0).
PatternLoad arReadPatternPicture(const char* filename, unsigned char picture[PATTERN_VALUES]);
