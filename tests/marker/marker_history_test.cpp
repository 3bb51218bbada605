#include "marker/marker_history.h"

#include <gtest/gtest.h>

namespace {

// A square marker of side `side` around (x, y), corners clockwise from the
// top-left turned by `turn` places.
MarkerInfo square(double x, double y, double side, int area, int id, double confidence,
                  int direction = 0, int turn = 0) {
    MarkerInfo m{};
    m.area = area;
    m.id = id;
    m.direction = direction;
    m.confidence = confidence;
    m.centre = {x, y};
    const double h = side / 2;
    const ImagePoint corners[4] = {{x - h, y - h}, {x + h, y - h}, {x + h, y + h}, {x - h, y + h}};
    for (int i = 0; i < 4; i++) {
        m.vertices[i] = corners[(i + turn) % 4];
    }
    return m;
}

MarkerHistory historyOf(std::initializer_list<MarkerInfo> markers, int age = 1) {
    MarkerHistory h{};
    for (const MarkerInfo& m : markers) {
        h.entries[h.count++] = MarkerHistoryEntry{m, age};
    }
    return h;
}

MarkerList listOf(std::initializer_list<MarkerInfo> markers) {
    MarkerList l{};
    for (const MarkerInfo& m : markers) {
        l.markers[l.count++] = m;
    }
    return l;
}

TEST(MarkerMatch, AreaRatioWindowIsInclusiveAndDistanceBoundStrict) {
    double r = 0;
    const MarkerInfo now = square(100, 100, 10, 100, -1, 0);
    EXPECT_TRUE(arMarkersMatch(square(100, 100, 10, 143, 1, 1), now, &r));
    EXPECT_FALSE(arMarkersMatch(square(100, 100, 10, 144, 1, 1), now, &r));
    EXPECT_TRUE(arMarkersMatch(square(100, 100, 10, 70, 1, 1), now, &r));
    EXPECT_FALSE(arMarkersMatch(square(100, 100, 10, 69, 1, 1), now, &r));
    // r = squared distance / current area: 49 / 100 matches, 50 / 100 does not.
    EXPECT_TRUE(arMarkersMatch(square(107, 100, 10, 100, 1, 1), now, &r));
    EXPECT_DOUBLE_EQ(r, 0.49);
    EXPECT_FALSE(arMarkersMatch(square(105, 105, 10, 100, 1, 1), now, &r));
}

TEST(MarkerHistorySteps, WeakerMarkerTakesTheRememberedIdentityAndTurnsItsDirection) {
    for (int turn = 0; turn < 4; turn++) {
        const MarkerHistory h = historyOf({square(200, 200, 40, 1600, 3, 0.9, 1)});
        MarkerList l = listOf({square(201, 200, 40, 1580, -1, 0.2, 2, turn)});
        arCarryIdentities(h, l);
        EXPECT_EQ(l.markers[0].id, 3);
        EXPECT_EQ(l.markers[0].confidence, 0.9);
        // The first marker-ordered corner, vertices[(4 - direction) % 4],
        // stays the same corner of the square.
        const int d = l.markers[0].direction;
        ASSERT_GE(d, 0);
        const ImagePoint was = h.entries[0].marker.vertices[(4 - 1) % 4];
        const ImagePoint now = l.markers[0].vertices[(4 - d) % 4];
        EXPECT_NEAR(now.x, was.x + 1, 1e-9) << turn;
        EXPECT_NEAR(now.y, was.y, 1e-9) << turn;
    }
    // A marker matched better now keeps what it has.
    const MarkerHistory h = historyOf({square(200, 200, 40, 1600, 3, 0.6, 1)});
    MarkerList l = listOf({square(200, 200, 40, 1600, 4, 0.7, 2)});
    arCarryIdentities(h, l);
    EXPECT_EQ(l.markers[0].id, 4);
    EXPECT_EQ(l.markers[0].direction, 2);
}

TEST(MarkerHistorySteps, AreaJumpBeyondTheRatioWindowIsNotMatched) {
    const MarkerHistory h = historyOf({square(200, 200, 40, 1600, 3, 0.9)});
    for (int area : {1600 * 10 / 7 + 20, 1600 * 100 / 143 - 20}) {
        MarkerList l = listOf({square(200, 200, 40, area, -1, 0.2)});
        arCarryIdentities(h, l);
        EXPECT_EQ(l.markers[0].id, -1) << area;
    }
}

TEST(MarkerHistorySteps, LaterEntriesOverrideOnlyWithAHigherConfidenceAndTheNearestMarkerWins) {
    const MarkerHistory h =
        historyOf({square(200, 200, 40, 1600, 1, 0.8), square(200, 200, 40, 1600, 2, 0.7),
                   square(202, 200, 40, 1600, 3, 0.95)});
    MarkerList l =
        listOf({square(203, 200, 40, 1600, -1, 0.1), square(201, 200, 40, 1600, -1, 0.1)});
    arCarryIdentities(h, l);
    // Entries 1 and 2 lie nearest marker 1; entry 3 nearest marker 0.
    EXPECT_EQ(l.markers[1].id, 1);
    EXPECT_EQ(l.markers[1].confidence, 0.8);
    EXPECT_EQ(l.markers[0].id, 3);
}

TEST(MarkerHistorySteps, AgingDropsEntriesReachingTheLimitAndKeepsOrder) {
    MarkerHistory h = historyOf({square(10, 10, 10, 100, 1, 1), square(50, 50, 10, 100, 2, 1),
                                 square(90, 90, 10, 100, 3, 1)});
    h.entries[0].age = 3;
    h.entries[1].age = 2;
    h.entries[2].age = 1;
    arAgeHistory(h);
    ASSERT_EQ(h.count, 2);
    EXPECT_EQ(h.entries[0].marker.id, 2);
    EXPECT_EQ(h.entries[0].age, 3);
    EXPECT_EQ(h.entries[1].marker.id, 3);
}

TEST(MarkerHistorySteps, RememberRefreshesByIdKeepsTheLastOfAFrameAndNeverOverfills) {
    MarkerHistory h = historyOf({square(10, 10, 10, 100, 7, 0.9)}, 2);
    const MarkerList l =
        listOf({square(300, 300, 10, 100, 7, 0.8), square(20, 20, 10, 100, -1, 0.1),
                square(400, 400, 10, 100, 7, 0.7), square(99, 99, 10, 100, 8, 0.6)});
    arRememberMarkers(h, l);
    ASSERT_EQ(h.count, 2);
    EXPECT_EQ(h.entries[0].marker.centre.x, 400);
    EXPECT_EQ(h.entries[0].age, 1);
    EXPECT_EQ(h.entries[1].marker.id, 8);

    MarkerHistory full{};
    for (int i = 0; i < MARKER_MAX; i++) {
        full.entries[full.count++] = MarkerHistoryEntry{square(i * 20, 0, 10, 100, i, 0.9), 1};
    }
    arRememberMarkers(full, listOf({square(5, 5, 10, 100, 99, 0.9)}));
    EXPECT_EQ(full.count, MARKER_MAX);
}

TEST(MarkerHistorySteps, UnseenMarkersAreReaddedOnceAndTheListNeverOverfills) {
    // Two remembered markers on top of each other: the copy of the first
    // matches the second, which is therefore not re-added.
    const MarkerHistory h =
        historyOf({square(100, 100, 20, 400, 1, 0.9), square(101, 100, 20, 400, 2, 0.8),
                   square(300, 300, 20, 400, 3, 0.9)});
    MarkerList l = listOf({square(300, 301, 20, 400, 3, 0.9)});
    arReaddUnseenMarkers(h, l);
    ASSERT_EQ(l.count, 2);
    EXPECT_EQ(l.markers[1].id, 1);

    MarkerList full{};
    for (int i = 0; i < MARKER_MAX; i++) {
        full.markers[full.count++] = square(600 + i * 50, 600, 20, 400, -1, 0.1);
    }
    arReaddUnseenMarkers(h, full);
    EXPECT_EQ(full.count, MARKER_MAX);
}

TEST(MarkerHistorySteps, UnconfidentMarkersLoseTheirIdAfterTheHistoryStep) {
    MarkerHistory h{};
    MarkerList l = listOf({square(10, 10, 10, 100, 4, 0.49), square(50, 50, 10, 100, 5, 0.5)});
    arSteadyMarkers(h, l);
    EXPECT_EQ(l.markers[0].id, -1);
    EXPECT_EQ(l.markers[1].id, 5);
    ASSERT_EQ(h.count, 1);
    EXPECT_EQ(h.entries[0].marker.id, 5);
}

}  // namespace
