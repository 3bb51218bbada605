#pragma once

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

// Stores one row for the next frame: x, y, z are the camera position in
// marker coordinates (already scaled), the rotations in degrees. The axes are
// exchanged on the way in; a row with found 0 gets fixed placeholder values.
// 0, or -1 (nothing stored) when the table already holds KEY_TABLE_SIZE rows.
int appendKeyRow(KeyTable& table, int found, double x, double y, double z, double rotY, double rotX,
                 double rotZ);

// Five-point smoothing of the six value columns of the found rows, in place.
// Ends for every input; a value that is not finite stays as it is and is not
// weighed into its neighbours (its weight falls on their own value).
void smoothKeyTable(KeyTable& table);
