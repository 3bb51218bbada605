#pragma once

// The truth table lumeko-render writes beside its footage, and how far a
// tracked key row lies from it.

#include <array>
#include <string>
#include <vector>

#include "track/key_table.h"

using Keys = std::array<double, 6>;  // translate X, Y, Z, rotate Y, X, Z

// One frame of the truth.
struct TruthRow {
    int visible;           // 1 when the whole black square is in the picture
    double minSide, area;  // of the marker in the picture, pixels
    double pose[3][4];     // marker-to-camera
    Keys keys;             // what Lumeko should store, before smoothing
    double borderCovered;  // fraction of the border hidden (0 in older tables)
    double blurPx;         // streak a corner draws while the shutter is open (0 in older tables)
};

// Reads a truth table: its header names the columns (those written before
// border_covered and blur_px must all be there). 0, or -1 with `error` naming
// the file and, for a malformed line, its number.
int readTruthTable(const std::string& path, std::vector<TruthRow>& rows, std::string& error);

Keys keysOf(const KeyRow& row);

// The position error as a fraction of the true camera distance.
double positionError(const Keys& truth, const Keys& got);

// Angle in degrees between two camera orientations given by their key angles
// (a = rotateY + 90, b = 90 - rotateX, c = a - rotateZ - 90): whole
// rotations, as single angles are ill-conditioned near a straight-down view.
double orientationError(const Keys& x, const Keys& y);

// Detection keeps reporting a lost marker for two more frames: whether frame
// i is one of those (the marker in view one or two frames before).
bool heldAfterLoss(const std::vector<TruthRow>& rows, size_t i);
