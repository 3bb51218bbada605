#pragma once

#include "track/track_result.h"

// Rows the key table can hold; the next append is refused.
inline constexpr int KEY_TABLE_SIZE = 1500;

// One tracked frame in the axes and units of the camera-motion file.
struct KeyRow {
    int found;  // 1 when the marker was found and a pose computed
    double translateX;
    double translateY;
    double translateZ;
    double rotateY;  // degrees
    double rotateX;
    double rotateZ;
};

// Values a key row carries, in the order the smoothing walks them.
inline constexpr int KEY_VALUE_COUNT = 6;

// The rows of one track with the scratch space of the smoothing; empty when
// value-initialised.
struct KeyTable {
    int count;
    KeyRow rows[KEY_TABLE_SIZE];
    double smoothed[KEY_TABLE_SIZE][KEY_VALUE_COUNT];
};

// Stores `row` for the next frame; a row with found 0 is stored with the
// fixed values of a frame without the marker (translateY -9.999999,
// translateZ -0, rotateX -45, the others 0). TableFull, with nothing
// stored, when the table already holds KEY_TABLE_SIZE rows.
TrackResult appendKeyRow(KeyTable& table, const KeyRow& row);

// Stores `row` in place of frame `index`'s (below the table's count), as
// appendKeyRow stores it.
void replaceKeyRow(KeyTable& table, int index, const KeyRow& row);

// Five-point smoothing of the six value columns of the found rows, in place.
// Ends for every input; a value that is not finite stays as it is and is not
// weighed into its neighbours (its weight falls on their own value).
void smoothKeyTable(KeyTable& table);
