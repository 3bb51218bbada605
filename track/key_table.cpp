#include "track/key_table.h"

#include <cmath>

namespace {

// The row of a frame without the marker: the camera 9.999999 below the
// marker's plane (translateY), looking 45 degrees down; translateZ is the
// negated 0 of the marker's y axis, a negative zero.
constexpr KeyRow NOT_FOUND_ROW = {0, 0.0, -9.999999, -0.0, 0.0, -45.0, 0.0};

// Weights of rows i-2 .. i+2.
constexpr double WEIGHT_FAR = 0.1;
constexpr double WEIGHT_NEAR = 0.15;
constexpr double WEIGHT_CENTRE = 0.5;

// The six value columns in the order the smoothing walks them.
constexpr double KeyRow::*VALUE_COLUMNS[KEY_VALUE_COUNT] = {
    &KeyRow::translateX, &KeyRow::translateY, &KeyRow::translateZ,
    &KeyRow::rotateY,    &KeyRow::rotateX,    &KeyRow::rotateZ};

// The first rotation column; rotations are angles in degrees.
constexpr int FIRST_ROTATION_COLUMN = 3;

double valueOf(const KeyRow& row, int column) {
    return row.*VALUE_COLUMNS[column];
}

// Neighbours at most this many turns from the centre row are brought nearer
// one turn at a time, as the smoothing always has, so every step rounds as it
// always did; farther ones (no tracker makes them) in one step.
constexpr int STEPWISE_TURNS_MAX = 16;

// `v` moved by whole turns to within half a turn of `c`; both finite. Ends
// for every input: the steps are counted, and beyond STEPWISE_TURNS_MAX the
// exact remainders of both angles give the offset without any overflow.
double nearerTurn(double v, double c) {
    if (!(std::fabs(v - c) <= STEPWISE_TURNS_MAX * 360.0))
        return c + std::remainder(std::remainder(v, 360.0) - std::remainder(c, 360.0), 360.0);
    for (int step = 0; step <= STEPWISE_TURNS_MAX && v - c > 180.0; step++)
        v -= 360.0;
    for (int step = 0; step <= STEPWISE_TURNS_MAX && v - c < -180.0; step++)
        v += 360.0;
    return v;
}

// A neighbour's value as the smoothing weighs it. An angle that lies more than
// half a turn from the centre row's has wrapped round (a camera turning through
// +-180 degrees): it is taken a whole turn nearer, so that the average stays
// beside the centre instead of half a turn away. Other values are used as stored.
double neighbourValue(const KeyRow& centre, const KeyRow& neighbour, int column) {
    double v = valueOf(neighbour, column);
    if (column < FIRST_ROTATION_COLUMN)
        return v;
    return nearerTurn(v, valueOf(centre, column));
}

// Whether a neighbour's value takes part: the marker was found there and the
// value is finite (a non-finite one would spread to every row it touches).
bool weighs(const KeyRow& neighbour, int column) {
    return neighbour.found != 0 && std::isfinite(valueOf(neighbour, column));
}

// The weights of one side (nearer, farther neighbour) added to s; the weight
// of a neighbour that does not take part falls on the centre row instead.
double addSide(const KeyRow& centre, const KeyRow& nearer, const KeyRow& farther, int column,
               double s) {
    double v = valueOf(centre, column);
    if (!weighs(nearer, column))
        return (WEIGHT_NEAR * v + WEIGHT_FAR * v) + s;
    double vNear = neighbourValue(centre, nearer, column);
    if (!weighs(farther, column))
        return (WEIGHT_NEAR * vNear + WEIGHT_FAR * v) + s;
    return (WEIGHT_NEAR * vNear + WEIGHT_FAR * neighbourValue(centre, farther, column)) + s;
}

// The smoothed value of row i's column; a value that is not finite is left as it is.
double smoothValue(const KeyRow* rows, int i, int column) {
    if (!std::isfinite(valueOf(rows[i], column)))
        return valueOf(rows[i], column);
    double s = WEIGHT_CENTRE * valueOf(rows[i], column);
    s = addSide(rows[i], rows[i - 1], rows[i - 2], column, s);
    s = addSide(rows[i], rows[i + 1], rows[i + 2], column, s);
    return s;
}

}  // namespace

TrackResult appendKeyRow(KeyTable& table, const KeyRow& row) {
    if (table.count >= KEY_TABLE_SIZE)
        return {TrackFailure::TableFull};
    table.rows[table.count++] = row.found == 0 ? NOT_FOUND_ROW : row;
    return {};
}

void replaceKeyRow(KeyTable& table, int index, const KeyRow& row) {
    table.rows[index] = row.found == 0 ? NOT_FOUND_ROW : row;
}

// Every result is computed from unsmoothed neighbours first and copied back
// afterwards, so the outcome does not depend on the order of the rows.
void smoothKeyTable(KeyTable& table) {
    for (int i = 2; i <= table.count - 3; i++) {
        if (table.rows[i].found != 1)
            continue;
        for (int column = 0; column < KEY_VALUE_COUNT; column++) {
            table.smoothed[i][column] = smoothValue(table.rows, i, column);
        }
    }
    for (int i = 2; i <= table.count - 3; i++) {
        if (table.rows[i].found != 1)
            continue;
        for (int column = 0; column < KEY_VALUE_COUNT; column++) {
            table.rows[i].*VALUE_COLUMNS[column] = table.smoothed[i][column];
        }
    }
}
