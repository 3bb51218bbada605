#pragma once

// Loads a pattern file into the next free template slot; returns the slot
// number (the pattern's id), or -1.
int arLoadPattern(const char* filename);
