#include "app/key_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <random>

namespace {

std::unique_ptr<KeyTable> emptyTable() {
    return std::make_unique<KeyTable>();
}

void appendFound(KeyTable& table, double base) {
    appendKeyRow(table, 1, base + 1.0, base + 2.0, base + 3.0, base + 4.0, base + 5.0, base + 6.0);
}

void appendMissing(KeyTable& table) {
    appendKeyRow(table, 0, 7.0, 7.0, 7.0, 7.0, 7.0, 7.0);
}

void expectRowsEqual(const KeyRow& a, const KeyRow& b) {
    EXPECT_EQ(a.found, b.found);
    EXPECT_EQ(a.translateX, b.translateX);
    EXPECT_EQ(a.translateY, b.translateY);
    EXPECT_EQ(a.translateZ, b.translateZ);
    EXPECT_EQ(a.rotateY, b.rotateY);
    EXPECT_EQ(a.rotateX, b.rotateX);
    EXPECT_EQ(a.rotateZ, b.rotateZ);
    EXPECT_EQ(std::signbit(a.translateZ), std::signbit(b.translateZ));
}

void expectNotFoundRow(const KeyRow& row) {
    EXPECT_EQ(row.found, 0);
    EXPECT_EQ(row.translateX, 0.0);
    EXPECT_EQ(row.translateY, -9.999999);
    EXPECT_EQ(row.translateZ, 0.0);
    EXPECT_TRUE(std::signbit(row.translateZ)) << "translateZ must be a negative zero";
    EXPECT_EQ(row.rotateY, 0.0);
    EXPECT_EQ(row.rotateX, -45.0);
    EXPECT_EQ(row.rotateZ, 0.0);
}

TEST(KeyTableAppend, ExchangesAxesOnTheWayIn) {
    auto table = emptyTable();
    appendKeyRow(*table, 1, 1.5, 2.5, 3.5, 10.0, 20.0, 30.0);
    appendKeyRow(*table, 1, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0);
    ASSERT_EQ(table->count, 2);
    expectRowsEqual(table->rows[0], KeyRow{1, 1.5, 3.5, -2.5, 10.0, 20.0, 30.0});
    EXPECT_TRUE(std::signbit(table->rows[1].translateZ)) << "y = 0 is negated too";
}

TEST(KeyTableAppend, RowWithoutMarkerGetsFixedValues) {
    auto table = emptyTable();
    appendMissing(*table);
    expectNotFoundRow(table->rows[0]);
}

TEST(KeyTableAppend, StoresRow1500AndEndsTheProgramOnThe1501st) {
    auto table = emptyTable();
    for (int i = 0; i < KEY_TABLE_SIZE; i++)
        appendFound(*table, i);
    ASSERT_EQ(table->count, 1500);
    EXPECT_EQ(table->rows[1499].translateX, 1500.0);
    EXPECT_EXIT(
        {
            std::freopen("/dev/null", "r", stdin);
            appendFound(*table, 0.0);
        },
        testing::ExitedWithCode(1), "^rec_tbl_idx over\n$");
}

TEST(KeyTableSmooth, ShortTablesStayUnchanged) {
    for (int count = 0; count <= 4; count++) {
        auto table = emptyTable();
        for (int i = 0; i < count; i++)
            appendFound(*table, i * i * 3.0);
        KeyTable before = *table;
        smoothKeyTable(*table);
        for (int i = 0; i < count; i++)
            expectRowsEqual(table->rows[i], before.rows[i]);
    }
}

TEST(KeyTableSmooth, FiveRowsChangeOnlyTheMiddleOne) {
    auto table = emptyTable();
    const double x[5] = {1.0, 2.0, 4.0, 8.0, 16.0};
    for (double v : x)
        appendKeyRow(*table, 1, v, -v, 2 * v, v, v, v);
    KeyTable before = *table;
    smoothKeyTable(*table);
    double expected = (0.15 * x[3] + 0.1 * x[4]) + ((0.15 * x[1] + 0.1 * x[0]) + 0.5 * x[2]);
    EXPECT_EQ(table->rows[2].translateX, expected);
    EXPECT_EQ(table->rows[2].translateY, 2.0 * expected);
    EXPECT_EQ(table->rows[2].translateZ, expected);
    EXPECT_EQ(table->rows[2].rotateZ, expected);
    for (int i : {0, 1, 3, 4})
        expectRowsEqual(table->rows[i], before.rows[i]);
}

// The weight of a neighbour without the marker falls on the row itself.
TEST(KeyTableSmooth, MissingNeighboursLendTheirWeightToTheCentre) {
    auto table = emptyTable();
    appendFound(*table, 100.0);  // 0
    appendMissing(*table);       // 1
    appendFound(*table, 10.0);   // 2: both nearer neighbours missing
    appendMissing(*table);       // 3
    appendMissing(*table);       // 4
    appendFound(*table, 20.0);   // 5: i-2 missing, i-1 present
    appendFound(*table, 30.0);   // 6: i-2 missing, i+2 present
    appendFound(*table, 40.0);   // 7
    appendFound(*table, 50.0);   // 8
    smoothKeyTable(*table);

    double v2 = 11.0;
    EXPECT_EQ(table->rows[2].translateX,
              (0.15 * v2 + 0.1 * v2) + ((0.15 * v2 + 0.1 * v2) + 0.5 * v2));
    EXPECT_NEAR(table->rows[2].translateX, v2, 1e-12);
    // Rows 5 and 6 are computed from the unsmoothed row 5.
    double v5 = 21.0, v6 = 31.0, v7 = 41.0, v8 = 51.0;
    EXPECT_EQ(table->rows[5].translateX,
              (0.15 * v6 + 0.1 * v7) + ((0.15 * v5 + 0.1 * v5) + 0.5 * v5));
    EXPECT_EQ(table->rows[6].translateX,
              (0.15 * v7 + 0.1 * v8) + ((0.15 * v5 + 0.1 * v6) + 0.5 * v6));
    EXPECT_EQ(table->rows[0].translateX, 101.0);
    expectNotFoundRow(table->rows[3]);
    expectNotFoundRow(table->rows[4]);
}

TEST(KeyTableSmooth, ConstantColumnsStayConstant) {
    auto table = emptyTable();
    for (int i = 0; i < 9; i++) {
        if (i == 4) {
            appendMissing(*table);
        } else {
            appendKeyRow(*table, 1, 0.3, -7.25, 1e6 / 3.0, 179.9, -0.1, 12.0);
        }
    }
    smoothKeyTable(*table);
    for (int i = 0; i < 9; i++) {
        if (i == 4)
            continue;
        EXPECT_NEAR(table->rows[i].translateX, 0.3, 1e-15);
        EXPECT_NEAR(table->rows[i].translateY, 1e6 / 3.0, 1e-9);
        EXPECT_NEAR(table->rows[i].translateZ, 7.25, 1e-14);
        EXPECT_NEAR(table->rows[i].rotateY, 179.9, 1e-12);
        EXPECT_NEAR(table->rows[i].rotateX, -0.1, 1e-15);
        EXPECT_NEAR(table->rows[i].rotateZ, 12.0, 1e-13);
    }
}

// A camera turning steadily through +-180 degrees: the angles jump by a whole
// turn between rows, and the smoothed rows must stay on the turn, not jump
// half a turn away. Rows whose neighbours lie within half a turn are untouched
// by the wrap handling, so the translations smooth exactly as before.
TEST(KeyTableSmooth, AnglesWrappingThroughHalfATurnStayOnTheTurn) {
    auto table = emptyTable();
    const double turn[] = {176.0, 178.0, -180.0, -178.0, -176.0, -174.0};
    for (double angle : turn)
        appendKeyRow(*table, 1, 1.0, 2.0, 3.0, angle - 90.0, 10.0, angle);
    smoothKeyTable(*table);
    for (int i = 2; i <= 3; i++) {
        double expected = turn[i];
        double rotZ = table->rows[i].rotateZ;
        EXPECT_NEAR(std::remainder(rotZ - expected, 360.0), 0.0, 1e-9) << "row " << i;
        EXPECT_NEAR(rotZ, expected, 1.0) << "stays beside its own row's value";
        EXPECT_NEAR(std::remainder(table->rows[i].rotateY - (expected - 90.0), 360.0), 0.0, 1e-9);
        EXPECT_EQ(table->rows[i].translateX, 1.0);
    }
}

// Over random tracks: rows without the marker come out exactly as stored,
// flags never change, each result depends only on the unsmoothed rows around
// it, and filling the table in reverse gives the mirrored result.
TEST(KeyTableSmooth, PropertiesOverRandomTracks) {
    std::mt19937 random(42);
    std::uniform_real_distribution<double> value(-500.0, 500.0);
    std::bernoulli_distribution found(0.7);
    for (int trial = 0; trial < 50; trial++) {
        int count = 5 + trial * 3;
        auto forward = emptyTable();
        for (int i = 0; i < count; i++) {
            appendKeyRow(*forward, found(random) ? 1 : 0, value(random), value(random),
                         value(random), value(random), value(random), value(random));
        }
        auto reverse = emptyTable();
        reverse->count = count;
        for (int i = 0; i < count; i++)
            reverse->rows[i] = forward->rows[count - 1 - i];
        KeyTable before = *forward;
        smoothKeyTable(*forward);
        smoothKeyTable(*reverse);
        for (int i = 0; i < count; i++) {
            const KeyRow& row = forward->rows[i];
            EXPECT_EQ(row.found, before.rows[i].found);
            if (row.found == 0 || i < 2 || i > count - 3) {
                expectRowsEqual(row, before.rows[i]);
            }
            if (row.found == 0)
                expectNotFoundRow(row);
            // Mirroring swaps the two sides, whose sums are added in a fixed
            // order, so the mirrored result agrees up to rounding.
            const KeyRow& mirrored = reverse->rows[count - 1 - i];
            EXPECT_NEAR(mirrored.translateX, row.translateX, 1e-9);
            EXPECT_NEAR(mirrored.rotateZ, row.rotateZ, 1e-9);
        }
    }
}

}  // namespace
