// The five-row smoothing on hand-computed rows: weights 0.1, 0.15, 0.5, 0.15,
// 0.1; a neighbour without the marker gives its weight to the centre row; an
// angle more than half a turn from the centre row's is taken a whole turn
// nearer, however far; a value that is not finite stays and is not weighed.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "track/key_table.h"

namespace {

struct SmoothingCase {
    const char* what;
    int found[5];
    double value[5];  // row i's rotateY (an angle) or translateX
    bool angle;
    double expected;  // the middle row's value after smoothing
};

const SmoothingCase CASES[] = {
    {"all found", {1, 1, 1, 1, 1}, {10, 20, 30, 40, 50}, true, 30.0},
    {"farther missing", {0, 1, 1, 1, 1}, {10, 20, 30, 40, 50}, true, 32.0},
    {"nearer missing", {1, 0, 1, 1, 1}, {10, 20, 30, 40, 50}, true, 33.5},
    {"both on the right missing", {1, 1, 1, 0, 0}, {10, 20, 30, 40, 50}, true, 26.5},
    {"across +-180", {1, 1, 1, 1, 1}, {170, 175, -180, -175, -170}, true, -180.0},
    {"translations do not wrap", {1, 1, 1, 1, 1}, {0, 0, 100, 360, 360}, false, 140.0},
    // 1e15 = 2777777777777 turns + 280 degrees: 90 degrees below the centre's 10.
    {"far angle", {1, 1, 1, 1, 1}, {10, 1e15, 10, 10, 10}, true, -3.5},
    {"far angle below", {1, 1, 1, 1, 1}, {10, -1e15, 10, 10, 10}, true, 20.5},
    {"infinite neighbour", {1, 1, 1, 1, 1}, {10, INFINITY, 30, 40, 50}, true, 33.5},
    {"NaN neighbour", {1, 1, 1, 1, 1}, {10, 20, 30, NAN, 50}, true, 26.5},
    {"infinite centre", {1, 1, 1, 1, 1}, {10, 20, INFINITY, 40, 50}, true, INFINITY},
    {"centre missing", {1, 1, 0, 1, 1}, {10, 20, 30, 40, 50}, true, 30.0},
};

TEST(KeySmoothing, HandComputedRows) {
    for (const SmoothingCase& c : CASES) {
        auto table = std::make_unique<KeyTable>();
        for (int i = 0; i < 5; i++) {
            const double v = c.value[i];
            appendKeyRow(*table, {c.found[i], c.angle ? 0.0 : v, 0, 0, c.angle ? v : 0.0, 0, 0});
        }
        table->rows[2].found = c.found[2];  // a not-found row keeps what it holds
        table->rows[2].rotateY = c.angle ? c.value[2] : 0.0;
        table->rows[2].translateX = c.angle ? 0.0 : c.value[2];
        const KeyTable before = *table;
        smoothKeyTable(*table);
        const KeyRow& middle = table->rows[2];
        const double smoothed = c.angle ? middle.rotateY : middle.translateX;
        if (std::isfinite(c.expected))
            EXPECT_NEAR(smoothed, c.expected, 1e-9) << c.what;
        else
            EXPECT_EQ(smoothed, c.expected) << c.what;
        for (int i : {0, 1, 3, 4}) {  // two rows at each end are never smoothed
            EXPECT_EQ(std::memcmp(&table->rows[i].translateX, &before.rows[i].translateX,
                                  6 * sizeof(double)),
                      0)
                << c.what << " row " << i;
        }
    }
}

}  // namespace
