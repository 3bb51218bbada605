// The smoothing ends for every input (what it gives on the tracks a tracker
// makes: the golden runs' movies).

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "track/key_table.h"

namespace {

// Angles a turn-by-turn loop would never finish with (1e15 and more from the
// centre row, or infinite) and values that are not finite: the smoothing ends,
// a non-finite value stays as it was, its neighbours are smoothed as if it
// were missing, and an angle far away is taken to within half a turn of the
// centre row.
TEST(KeySmoothing, EndsForEveryInputAndLeavesNonFiniteValuesAlone) {
    // 1e15 = 2777777777777 turns + 280 degrees: 90 degrees below the centre row's 10.
    const double far[][2] = {{1e15, -3.5}, {-1e15, 20.5}, {1e300, NAN}, {-1.7e308, NAN}};
    for (const auto& [angle, expected] : far) {
        auto table = std::make_unique<KeyTable>();
        for (int i = 0; i < 5; i++)
            appendKeyRow(*table, 1, 0, 0, 0, i == 1 ? angle : 10.0, 10.0, 10.0);
        smoothKeyTable(*table);
        const double smoothed = table->rows[2].rotateY;
        EXPECT_LE(std::fabs(smoothed - 10.0), 0.15 * 180.0) << angle;
        if (!std::isnan(expected)) {
            EXPECT_NEAR(smoothed, expected, 1e-9) << angle;
        }
        EXPECT_EQ(table->rows[1].rotateY, angle);
    }

    const double broken[] = {INFINITY, -INFINITY, NAN};
    for (double value : broken) {
        auto table = std::make_unique<KeyTable>();
        auto twin = std::make_unique<KeyTable>();  // the same with row 3 missing for rotateX
        for (int i = 0; i < 7; i++) {
            const double v = 10.0 + i;
            appendKeyRow(*table, 1, v, v, v, v, i == 3 ? value : v, v);
            appendKeyRow(*twin, i == 3 ? 0 : 1, v, v, v, v, v, v);
        }
        smoothKeyTable(*table);
        smoothKeyTable(*twin);
        const double kept = table->rows[3].rotateX;
        EXPECT_TRUE(std::isnan(value) ? std::isnan(kept) : kept == value);
        for (int i : {2, 4}) {
            EXPECT_EQ(table->rows[i].rotateX, twin->rows[i].rotateX) << value << " row " << i;
            EXPECT_TRUE(std::isfinite(table->rows[i].rotateZ));
        }
        EXPECT_NEAR(table->rows[3].rotateZ, 13.0, 1e-12);  // the row's finite columns are smoothed
    }
}

}  // namespace
