#include "marker/detect_marker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <tuple>

#include "marker/detection_trace.h"
#include "marker/marker_history.h"
#include "marker/pattern.h"
#include "marker/pattern_extract.h"
#include "marker/pattern_match.h"
#include "tests/marker/test_frames.h"
#include "tests/support/test_support.h"

namespace {

using lumeko_test::Picture;
using lumeko_test::TestFrame;

class Detection : public testing::Test {
  protected:
    void SetUp() override {
        useFrameSize(640, 480);
        static const int loaded = load(lumeko_test::patternFileText(picture));  // once: ids differ
        slot = loaded;
    }
    // Sizes detection and forgets remembered markers (re-added for two frames
    // at most).
    void useFrameSize(int w, int h) {
        lumeko_test::useUndistortedCamera(w, h);
        TestFrame empty(w, h);
        for (int i = 0; i < 3; i++) {
            detect(empty);
        }
    }
    int load(const std::string& text) {
        lumeko_test::writeFile(dir.file(std::to_string(++files)), text);
        return arLoadPattern(dir.file(std::to_string(files)).c_str());
    }
    int detect(TestFrame& frame) {
        status = arDetectMarker(frame.image(), 100, &markers, &count);
        return count;
    }
    std::tuple<int, int, double> identity(int i) {
        return {markers[i].id, markers[i].direction, markers[i].confidence};
    }
    lumeko_test::TempDir dir;
    const Picture picture = lumeko_test::randomPicture(14);
    const MarkerInfo* markers = nullptr;
    int slot = -1, count = 0, status = 0, files = 0;
};

// The good file is uniform: its templates are all 0, their norms the floor.
TEST_F(Detection, PatternLoadErrorsAreReportedAndAUniformBlockGetsTheNormFloor) {
    Picture flat;
    std::fill_n(&flat.cells[0][0], 256, lumeko_test::Colour{77, 77, 77});
    const std::string good = lumeko_test::patternFileText(flat);
    testing::internal::CaptureStdout();
    EXPECT_EQ(arLoadPattern(dir.file("missing").c_str()), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\"" + dir.file("missing") + "\" not found!!\n");
    const int first = load(good);
    ASSERT_GE(first, 0);
    std::string badToken = good;
    badToken.replace(badToken.find(' ', 4000) + 1, 1, "x");
    for (const std::string& bad : {good.substr(0, good.rfind(' ')), badToken}) {  // 3071 values
        testing::internal::CaptureStdout();
        EXPECT_EQ(load(bad), -1);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Pattern Data read error!!\n");
    }
    EXPECT_EQ(load(good), first + 1);
    const PatternSet& set = arPatternSet();
    EXPECT_EQ(set.templateNorms[first][0], PATTERN_NORM_FLOOR);
    EXPECT_EQ(std::count(set.templates[first][0], set.templates[first][0] + PATTERN_VALUES, 0),
              PATTERN_VALUES);
}

TEST_F(Detection, SampleCountsUniformImagesAndDegenerateOrOffFrameCorners) {
    const int sides[8] = {20, 32, 33, 50, 64, 65, 200, 2000},
              n[8] = {16, 16, 32, 32, 32, 64, 64, 64};
    for (int i = 0; i < 8; i++) {
        EXPECT_EQ(arPatternSampleCount(sides[i] * sides[i]), n[i]) << sides[i];
    }
    PatternImage image;
    std::fill(std::begin(image.values), std::end(image.values), 40);
    int id = -9, direction = -9;
    double confidence = 0;
    EXPECT_EQ(arMatchPattern(image, &id, &direction, &confidence), -1);
    EXPECT_EQ(std::tuple(id, direction, confidence), std::tuple(0, 0, -1.0));
    // Corners on one line leave the homography's system singular.
    lumeko_test::TestFrame frame(640, 480, lumeko_test::Colour{9, 9, 9});
    const int32_t xs[5] = {100, 150, 200, 250, 100}, ys[5] = {100, 100, 100, 100, 100};
    const int32_t corners[5] = {0, 1, 2, 3, 4};
    EXPECT_EQ(arPatternCode(frame.image(), xs, ys, corners, &id, &direction, &confidence), 0);
    EXPECT_EQ(std::tuple(id, direction, confidence), std::tuple(-1, -1, 0.0));
    // Samples outside the frame add nothing.
    const int32_t leftX[5] = {-300, -100, -100, -300, -300}, leftY[5] = {100, 100, 300, 300, 100};
    ASSERT_EQ(arExtractPattern(frame.image(), leftX, leftY, corners, &image), 0);
    EXPECT_EQ(std::count(std::begin(image.values), std::end(image.values), 0), PATTERN_VALUES);
}

// Block d of a pattern file is the picture turned d x 90 degrees counter-
// clockwise; a marker of direction d has the picture's top-left corner at
// vertices[(4 - d) % 4], the first in the order pose estimation uses. An
// axis-aligned square's contour starts at its bottom-right corner (farthest
// from the top-left pixel where tracing starts) and runs clockwise, so drawn
// upright a marker matches direction 2; turned 90, 180 and 270 degrees
// counter-clockwise, 3, 0 and 1.
TEST_F(Detection, MarkerTurnedOnAFullHdFrameMatchesTheDirectionOfItsTopLeftCorner) {
    const int cases[7][2] = {{0, 2}, {90, 3}, {180, 0}, {270, 1}, {20, -1}, {135, -1}, {250, -1}};
    for (const auto& [degrees, direction] : cases) {  // direction -1: not fixed by the drawing
        useFrameSize(1920, 1080);
        TestFrame frame(1920, 1080);
        const double angle = degrees * M_PI / 180;
        frame.drawMarker({1500.5, 800.5}, 128, angle, picture);
        ASSERT_EQ(detect(frame), 1) << degrees;
        EXPECT_EQ(markers[0].id, slot) << degrees;
        EXPECT_GT(markers[0].confidence, 0.9) << degrees;
        const int d = markers[0].direction;
        EXPECT_EQ(d, direction < 0 ? d : direction) << degrees;
        ASSERT_GE(d, 0);
        const ImagePoint& first = markers[0].vertices[(4 - d) % 4];  // vs the picture's top left
        EXPECT_LT(std::hypot(first.x - 1500.5 + 64 * (std::cos(angle) + std::sin(angle)),
                             first.y - 800.5 + 64 * (std::cos(angle) - std::sin(angle))),
                  1.5)
            << degrees;
    }
}

TEST_F(Detection, IdentityOutlivesABadReadingAndALostMarkerStaysForTwoFrames) {
    TestFrame seen(640, 480), smudged(640, 480), empty(640, 480);
    seen.drawMarker({300.5, 250.5}, 140, 0.0, picture);
    ASSERT_EQ(detect(seen), 1);
    const auto before = identity(0);
    const double x = markers[0].vertices[0].x;
    ASSERT_EQ(markers[0].id, slot);
    // Next frame: moved by two pixels, the picture beyond recognition.
    smudged.drawMarker({302.5, 251.5}, 140, 0.0, lumeko_test::randomPicture(999));
    ASSERT_EQ(detect(smudged), 1);
    EXPECT_EQ(identity(0), before);
    EXPECT_NEAR(markers[0].vertices[0].x, x + 2, 0.5);
    const MarkerInfo last = markers[0];
    for (int frame = 1; frame <= 2; frame++) {  // then gone: re-added as it was for two frames
        ASSERT_EQ(detect(empty), 1) << frame;
        EXPECT_EQ(identity(0), before);  // and centre, edge lines and vertices, all doubles:
        EXPECT_EQ(std::memcmp(&markers[0].centre, &last.centre,
                              sizeof last - offsetof(MarkerInfo, centre)),
                  0);
    }
    EXPECT_EQ(detect(empty), 0);
}

TEST_F(Detection, UnidentifiedSquaresHaveIdMinusOneAndUnlabellableFramesFail) {
    TestFrame frame(640, 480), wrongSize(320, 240), dots(640, 480);
    frame.drawMarker({120.5, 120.5}, 100, 0.0, picture);
    frame.drawMarker({400.5, 120.5}, 100, 0.0, picture);
    frame.fillRect(376, 96, 50, 50, lumeko_test::WHITE);  // a uniform interior
    frame.drawMarker({260.5, 340.5}, 100, 0.4, lumeko_test::randomPicture(777));
    ASSERT_EQ(detect(frame), 3);  // in the raster order of their regions
    EXPECT_EQ(markers[0].id, slot);
    EXPECT_EQ(std::tuple(markers[1].id, markers[1].confidence), std::tuple(-1, -1.0));
    EXPECT_EQ(markers[2].id, -1);
    EXPECT_LT(markers[2].confidence, CONFIDENCE_MIN);
    for (int i = 0; i < 319 * 239; i++) {  // more than LABEL_MAX isolated dark pixels
        dots.set(1 + 2 * (i % 319), 1 + 2 * (i / 319), lumeko_test::BLACK);
    }
    for (TestFrame* bad : {&wrongSize, &dots}) {
        EXPECT_EQ(std::tuple(detect(*bad), status), std::tuple(0, -1));
    }
    EXPECT_EQ(arDetectionTrace().labels, nullptr);
}

MarkerInfo square(double x, double y, int area, int id, double confidence) {
    MarkerInfo m{};
    m.area = area, m.id = id, m.confidence = confidence, m.centre = {x, y};
    return m;
}

TEST(MarkerHistory, AreaRatioWindowIsInclusiveAndDistanceBoundStrict) {
    double r = 0;
    const MarkerInfo now = square(100, 100, 100, -1, 0);
    for (const auto& [area, match] :
         {std::pair{143, true}, {70, true}, {144, false}, {69, false}}) {
        EXPECT_EQ(arMarkersMatch(square(100, 100, area, 1, 1), now, &r), match) << area;
    }
    // r = squared distance / current area: 49 / 100 matches, 50 / 100 does not.
    EXPECT_TRUE(arMarkersMatch(square(107, 100, 100, 1, 1), now, &r));
    EXPECT_DOUBLE_EQ(r, 0.49);
    EXPECT_FALSE(arMarkersMatch(square(105, 105, 100, 1, 1), now, &r));
}

TEST(MarkerHistory, NeitherStoreGrowsPastMarkerMax) {
    MarkerHistory h{{}, MARKER_MAX};
    MarkerList full{{}, MARKER_MAX};
    for (int i = 0; i < MARKER_MAX; i++) {
        full.markers[i] = square(600 + i * 50, 600, 100, -1, 0.1);
        h.entries[i] = MarkerHistoryEntry{square(i * 20, 0, 100, i, 0.9), 1};
    }
    arReaddUnseenMarkers(h, full);
    EXPECT_EQ(full.count, MARKER_MAX);
    arRememberMarkers(h, MarkerList{{square(5, 5, 100, 99, 0.9)}, 1});
    EXPECT_EQ(h.count, MARKER_MAX);
}

}  // namespace
