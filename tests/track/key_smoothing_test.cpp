// The smoothing ends for every input and, on the tracks a tracker makes, gives
// exactly what the turn-by-turn loops it replaced gave.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>

#include "track/key_table.h"

namespace {

// The smoothing as it was, with loops that take an angle a whole turn nearer
// until it lies within half a turn: the reference for inputs where they end.
double loopValue(const KeyRow& row, int column) {
    const double KeyRow::*columns[] = {&KeyRow::translateX, &KeyRow::translateY,
                                       &KeyRow::translateZ, &KeyRow::rotateY,
                                       &KeyRow::rotateX,    &KeyRow::rotateZ};
    return row.*columns[column];
}

double loopNeighbour(const KeyRow& centre, const KeyRow& neighbour, int column) {
    double v = loopValue(neighbour, column);
    if (column < 3)
        return v;
    double c = loopValue(centre, column);
    while (v - c > 180.0)
        v -= 360.0;
    while (v - c < -180.0)
        v += 360.0;
    return v;
}

double loopSide(const KeyRow& centre, const KeyRow& nearer, const KeyRow& farther, int column,
                double s) {
    double v = loopValue(centre, column);
    if (nearer.found == 0)
        return (0.15 * v + 0.1 * v) + s;
    double vNear = loopNeighbour(centre, nearer, column);
    if (farther.found == 0)
        return (0.15 * vNear + 0.1 * v) + s;
    return (0.15 * vNear + 0.1 * loopNeighbour(centre, farther, column)) + s;
}

// The smoothed values of row i, in column order.
void loopSmoothRow(const KeyTable& table, int i, double out[6]) {
    for (int column = 0; column < 6; column++) {
        double s = 0.5 * loopValue(table.rows[i], column);
        s = loopSide(table.rows[i], table.rows[i - 1], table.rows[i - 2], column, s);
        out[column] = loopSide(table.rows[i], table.rows[i + 1], table.rows[i + 2], column, s);
    }
}

void expectLikeTheLoops(const KeyTable& before, const KeyTable& after, int trial) {
    for (int i = 0; i < before.count; i++) {
        double expected[6];
        std::memcpy(expected, &before.rows[i].translateX, sizeof expected);
        if (before.rows[i].found == 1 && i >= 2 && i <= before.count - 3)
            loopSmoothRow(before, i, expected);
        ASSERT_EQ(std::memcmp(expected, &after.rows[i].translateX, sizeof expected), 0)
            << "trial " << trial << " row " << i;
    }
}

// Random tracks whose angles lie within a few turns of each other, with rows
// missing at random, and tracks built to make each turn's step round (tiny
// angles beside ones several turns away): bit for bit what the loops give.
TEST(KeySmoothing, EqualsTheTurnByTurnLoopsWhereTheyEnd) {
    std::mt19937 random(2026);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int trial = 0; trial < 400; trial++) {
        const int turns = trial % 5;  // 0: every angle within half a turn, as today's tracker
        const double spread = 180.0 + 360.0 * turns;
        auto table = std::make_unique<KeyTable>();
        const int count = 5 + trial % 40;
        for (int i = 0; i < count; i++) {
            double angle[3];
            for (double& a : angle) {
                a = trial % 7 == 6
                        ? (unit(random) < 0.5 ? 1e-6 * unit(random) : -spread * unit(random))
                        : spread * (2.0 * unit(random) - 1.0);
            }
            appendKeyRow(*table, unit(random) < 0.8 ? 1 : 0, spread * unit(random), unit(random),
                         -unit(random), angle[0], angle[1], angle[2]);
        }
        const KeyTable before = *table;
        smoothKeyTable(*table);
        expectLikeTheLoops(before, *table, trial);
    }
}

// Angles the loops never finish with (1e15 and more from the centre row, or
// infinite) and values that are not finite: the smoothing ends, a non-finite
// value stays as it was, its neighbours are smoothed as if it were missing,
// and an angle far away is taken to within half a turn of the centre row.
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
