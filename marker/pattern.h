#pragma once

// Loads a pattern file into the next free template slot; returns the slot
// number (the pattern's id), or -1.
//
// The file holds 3072 integers 0..255 separated by white space: four
// direction blocks, each of three colour planes (blue, green, red), each of
// 16 rows of 16 values, top row first, left to right. Block 0 is the picture
// inside the marker's black square as printed, upright; block d is that
// picture turned d x 90 degrees counter-clockwise. The picture fills the
// central half of the black square (a quarter of its side is border on
// each side).
int arLoadPattern(const char* filename);
