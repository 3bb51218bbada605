#pragma once

// Rows the key table can hold; the next append ends the program.
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

// The rows of one track with the scratch space of the smoothing. The program
// keeps one in its module state; the functions taking a table work on any.
struct KeyTable {
    int count;
    KeyRow rows[KEY_TABLE_SIZE];
    double smoothed[KEY_TABLE_SIZE][KEY_VALUE_COUNT];
};

void appendKeyRow(KeyTable& table, int found, double x, double y, double z, double rotY,
                  double rotX, double rotZ);
void smoothKeyTable(KeyTable& table);

// The program's key table, which the functions below work on.
const KeyTable& keyTable();

// Stores one row for the next frame: x, y, z are the camera position in
// marker coordinates (already scaled), the rotations in degrees. The axes are
// exchanged on the way in; a row with found 0 gets fixed placeholder values.
// A full table prints "rec_tbl_idx over", pauses and exits with status 1.
void appendKeyRow(int found, double x, double y, double z, double rotY, double rotX, double rotZ);

// Five-point smoothing of the six value columns of the found rows, in place.
// Ends for every input; a value that is not finite stays as it is and is not
// weighed into its neighbours (its weight falls on their own value).
void smoothKeyTable();

// Read access to the rows stored so far, in frame order.
int keyRowCount();
const KeyRow* keyRows();
