#include "marker/detector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "marker/marker_history.h"
#include "marker/pattern_extract.h"
#include "marker/pattern_match.h"
#include "tests/marker/test_frames.h"
#include "tests/support/test_support.h"

namespace {

using lumeko_test::Picture;
using lumeko_test::TestFrame;

// Writes `text` as a pattern file in `dir` and loads it into `detector`.
int loadText(Detector& detector, const lumeko_test::TempDir& dir, const std::string& text,
             PatternLoadError* error = nullptr) {
    const std::string path = dir.file(std::to_string(std::hash<std::string>{}(text)));
    lumeko_test::writeFile(path, text);
    PatternLoadError ignored;
    return detector.loadPattern(path.c_str(), error ? error : &ignored);
}

class Detection : public testing::Test {
  protected:
    void SetUp() override { useFrameSize(640, 480); }
    // A fresh detector for frames of w x h, the test's picture loaded as id 0.
    void useFrameSize(int w, int h, const DetectorSettings& settings = {}) {
        detector = Detector::create(lumeko_test::undistortedCamera(w, h), settings);
        ASSERT_NE(detector, nullptr);
        slot = load(lumeko_test::patternFileText(picture));
    }
    int load(const std::string& text, PatternLoadError* error = nullptr) {
        return loadText(*detector, dir, text, error);
    }
    int detect(TestFrame& frame) {
        status = detector->detect(frame.image(), &markers, &count);
        return count;
    }
    std::tuple<int, int, double> identity(int i) {
        return {markers[i].id, markers[i].direction, markers[i].confidence};
    }
    lumeko_test::TempDir dir;
    const Picture picture = lumeko_test::randomPicture(14);
    std::unique_ptr<Detector> detector;
    const MarkerInfo* markers = nullptr;
    int slot = -1, count = 0, status = 0;
};

// The good file is uniform: its templates are all 0, their norms the floor.
TEST_F(Detection, PatternLoadErrorsComeBackAsReasonsAndAUniformBlockGetsTheNormFloor) {
    Picture flat;
    std::fill_n(&flat.cells[0][0], 256, lumeko_test::Colour{77, 77, 77});
    const std::string good = lumeko_test::patternFileText(flat);
    PatternLoadError error = PatternLoadError::None;
    testing::internal::CaptureStdout();
    EXPECT_EQ(detector->loadPattern(dir.file("missing").c_str(), &error), -1);
    EXPECT_EQ(error, PatternLoadError::FileMissing);
    const int first = load(good, &error);
    EXPECT_EQ(std::pair(first, error), std::pair(1, PatternLoadError::None));
    std::string badToken = good;
    badToken.replace(badToken.find(' ', 4000) + 1, 1, "x");
    for (const std::string& bad : {good.substr(0, good.rfind(' ')), badToken}) {  // 3071 values
        EXPECT_EQ(load(bad, &error), -1);
        EXPECT_EQ(error, PatternLoadError::ReadError);
    }
    for (int id = first + 1; id < PATTERN_SLOT_MAX; id++) {  // a failed load left no slot taken
        ASSERT_EQ(load(good), id);
    }
    EXPECT_EQ(load(good, &error), -1);
    EXPECT_EQ(error, PatternLoadError::SetFull);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    const PatternSet& set = detector->patterns();
    EXPECT_EQ(set.count, PATTERN_SLOT_MAX);
    EXPECT_EQ(set.templateNorms[first][0], PATTERN_NORM_FLOOR);
    EXPECT_EQ(std::count(set.templates[first][0], set.templates[first][0] + PATTERN_VALUES, 0),
              PATTERN_VALUES);
}

// Numbers are read as "%d" reads them: any white space between them, a sign
// and leading zeros give the same templates. A number outside int's range
// fails the load as any unreadable value does.
TEST_F(Detection, PatternNumbersReadAsScanfReadsThemAndOutOfRangeOnesFail) {
    std::istringstream tokens(lumeko_test::patternFileText(picture));
    std::string respelled, outOfRange;
    bool first = true;
    for (std::string token; tokens >> token; first = false) {
        respelled += (first ? "\v\f" : "\t\r\n ") + std::string("+00") + token;
        outOfRange += first ? "2147483648" : " " + token;
    }
    PatternLoadError error = PatternLoadError::None;
    const int id = load(respelled + "\n", &error);
    ASSERT_EQ(std::pair(id, error), std::pair(1, PatternLoadError::None));
    const PatternSet& set = detector->patterns();
    EXPECT_TRUE(std::equal(&set.templates[slot][0][0], &set.templates[slot][3][PATTERN_VALUES],
                           &set.templates[id][0][0]));
    for (const std::string& bad : {outOfRange, "-2147483649" + outOfRange.substr(10),
                                   "99999999999999999999999" + outOfRange.substr(10)}) {
        EXPECT_EQ(load(bad, &error), -1) << bad.substr(0, 30);
        EXPECT_EQ(error, PatternLoadError::ReadError);
    }
    EXPECT_EQ(load("-2147483648" + outOfRange.substr(10), &error), 2) << "in range";
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
    EXPECT_EQ(arMatchPattern(detector->patterns(), image, &id, &direction, &confidence), -1);
    EXPECT_EQ(std::tuple(id, direction, confidence), std::tuple(0, 0, -1.0));
    // Corners on one line leave the homography's system singular.
    lumeko_test::TestFrame frame(640, 480, lumeko_test::Colour{9, 9, 9});
    const int32_t xs[5] = {100, 150, 200, 250, 100}, ys[5] = {100, 100, 100, 100, 100};
    const int32_t corners[5] = {0, 1, 2, 3, 4};
    EXPECT_EQ(arPatternCode(detector->patterns(), frame.image(), xs, ys, corners, &id, &direction,
                            &confidence),
              0);
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

TEST_F(Detection, UnidentifiedSquaresHaveIdMinusOne) {
    TestFrame frame(640, 480);
    frame.drawMarker({120.5, 120.5}, 100, 0.0, picture);
    frame.drawMarker({400.5, 120.5}, 100, 0.0, picture);
    frame.fillRect(376, 96, 50, 50, lumeko_test::WHITE);  // a uniform interior
    frame.drawMarker({260.5, 340.5}, 100, 0.4, lumeko_test::randomPicture(777));
    ASSERT_EQ(detect(frame), 3);  // in the raster order of their regions
    EXPECT_EQ(markers[0].id, slot);
    EXPECT_EQ(std::tuple(markers[1].id, markers[1].confidence), std::tuple(-1, -1.0));
    EXPECT_EQ(markers[2].id, -1);
    EXPECT_LT(markers[2].confidence, CONFIDENCE_MIN);
}

// Sensor noise on a textured full-HD frame makes far more dark dots than
// the 32,768 provisional labels labeling once held: the marker is found.
TEST_F(Detection, ABusyNoisyFullHdFrameIsLabelledAndItsMarkerFound) {
    useFrameSize(1920, 1080);
    TestFrame frame(1920, 1080, lumeko_test::Colour{150, 150, 150});
    for (int i = 0; i < 64; i++) {  // texture: darker and lighter tiles
        const unsigned char g = static_cast<unsigned char>(120 + 9 * (i * 7 % 8));
        frame.fillRect(240 * (i % 8), 135 * (i / 8), 240, 135, {g, g, g});
    }
    frame.drawMarker({900.5, 500.5}, 220, 0.3, picture);
    frame.addNoise(42, 70);
    ASSERT_EQ(detect(frame), 1);
    EXPECT_EQ(status, DETECT_OK);
    EXPECT_EQ(markers[0].id, slot);
    EXPECT_GT(detector->trace().labels->labelCount, 32768);
}

// With a capacity too small for a frame, the pass says so, hands out no
// markers and counts as a frame without the marker: of the two frames a
// lost marker is held for, the busy frame took one.
TEST_F(Detection, AFrameOverTheLabelCapacityIsOneWithoutMarkers) {
    DetectorSettings settings;
    settings.labelCapacity = 400;
    useFrameSize(640, 480, settings);
    TestFrame seen(640, 480), busy(640, 480), empty(640, 480);
    seen.drawMarker({300.5, 250.5}, 140, 0.0, picture);
    for (int i = 0; i < 401; i++) {
        busy.set(1 + 2 * (i % 300), 1 + 2 * (i / 300), lumeko_test::BLACK);
    }
    ASSERT_EQ(detect(seen), 1);
    ASSERT_LE(detector->trace().labels->labelCount, 400);
    EXPECT_EQ(std::tuple(detect(busy), status), std::tuple(0, DETECT_CAPACITY_EXCEEDED));
    EXPECT_EQ(detector->trace().labels, nullptr);
    ASSERT_EQ(detect(empty), 1);  // the second frame of the hold
    EXPECT_EQ(markers[0].id, slot);
    EXPECT_EQ(detect(empty), 0);
    settings.labelCapacity = -1;
    EXPECT_EQ(Detector::create(lumeko_test::undistortedCamera(640, 480), settings), nullptr);
}

// A comb whose outline is too long to trace: the pass records code 3 in its
// trace and prints nothing. A pass that fails leaves the history alone.
TEST_F(Detection, TracerDiagnosticsReachTheTraceAndAFailedPassKeepsTheHistory) {
    TestFrame frame(640, 480), wrongSize(320, 240), empty(640, 480);
    frame.drawMarker({300.5, 150.5}, 140, 0.0, picture);
    frame.fillRect(100, 380, 300, 2, lumeko_test::BLACK);
    for (int k = 0; k < 150; k++) {
        frame.fillRect(100 + 2 * k, 382, 1, 40, lumeko_test::BLACK);
    }
    testing::internal::CaptureStdout();
    ASSERT_EQ(detect(frame), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    const auto failures = detector->trace().contourFailures;
    EXPECT_EQ(std::vector<uint8_t>(failures.begin(), failures.end()), std::vector<uint8_t>{3});
    for (int pass = 0; pass < 3; pass++) {
        EXPECT_EQ(std::tuple(detect(wrongSize), status), std::tuple(0, DETECT_BAD_FRAME));
    }
    EXPECT_TRUE(detector->trace().contourFailures.empty());
    ASSERT_EQ(detect(empty), 1);  // still remembered: the failed passes did not age it
    EXPECT_EQ(markers[0].id, slot);
}

// A marker 700 pixels wide fills much of a full-HD frame: its border alone
// covers 367,500 pixels, beyond the usual largest region. With large
// markers the limit grows with the frame (675,000 at 1920 x 1080) and the
// marker is found, as is a 40-pixel one; at 640 x 480 nothing changes.
TEST_F(Detection, LargeMarkersAreFoundWithTheSettingAndSmallOnesStill) {
    DetectorSettings large;
    large.largeMarkers = true;
    EXPECT_EQ(arRegionAreaMax(640, 480, large), REGION_AREA_MAX);
    EXPECT_EQ(arRegionAreaMax(320, 240, large), REGION_AREA_MAX);
    EXPECT_EQ(arRegionAreaMax(1920, 1080, large), 675000);
    EXPECT_EQ(arRegionAreaMax(1920, 1080, DetectorSettings{}), REGION_AREA_MAX);
    TestFrame near(1920, 1080), far(1920, 1080);
    near.drawMarker({960.5, 540.5}, 700, 0.2, picture);
    far.drawMarker({300.5, 200.5}, 40, 0.2, picture);
    for (const bool setting : {false, true}) {
        DetectorSettings settings;
        settings.largeMarkers = setting;
        useFrameSize(1920, 1080, settings);
        EXPECT_EQ(detector->regionAreaMax(), setting ? 675000 : REGION_AREA_MAX);
        const int n = detect(near);
        const auto found = std::find_if(markers, markers + n, [&](const MarkerInfo& m) {
            return m.id == slot && m.confidence > 0.9;
        });
        EXPECT_EQ(found != markers + n, setting);
        if (setting) {
            ASSERT_EQ(n, 1);                        // nothing else taken for a marker
            const ImagePoint* v = found->vertices;  // the corners' mean: the square's centre
            EXPECT_NEAR((v[0].x + v[1].x + v[2].x + v[3].x) / 4, 960.5, 1.0);
            EXPECT_NEAR((v[0].y + v[1].y + v[2].y + v[3].y) / 4, 540.5, 1.0);
        }
        useFrameSize(1920, 1080, settings);
        ASSERT_EQ(detect(far), 1) << setting;
        EXPECT_EQ(markers[0].id, slot);
    }
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
    // A full history of confident markers far from a full list of new ones,
    // one of them confident with an id of its own.
    MarkerHistory h{{}, MARKER_MAX};
    MarkerList full{{}, MARKER_MAX};
    for (int i = 0; i < MARKER_MAX; i++) {
        full.markers[i] = square(600 + i * 50, 600, 100, -1, 0.1);
        h.entries[i] = MarkerHistoryEntry{square(i * 20, 0, 100, i, 0.9), 1};
    }
    full.markers[0] = square(600, 600, 100, 99, 0.9);
    arSteadyMarkers(h, full);
    EXPECT_EQ(full.count, MARKER_MAX);
    EXPECT_EQ(h.count, MARKER_MAX);
}

// A remembered marker of direction 2 comes back unreadable with its corner
// list turned by k (its corner i + k where corner i was): it keeps its id and
// confidence, and its direction turns with the corners to (2 - k) mod 4.
TEST(MarkerHistory, AMarkerThatTurnsCarriesItsDirectionThroughTheHistory) {
    const ImagePoint corners[4] = {{90, 90}, {110, 91}, {111, 110}, {91, 109}};
    MarkerInfo seen = square(100, 100, 400, 7, 0.8);
    seen.direction = 2;
    std::copy(corners, corners + 4, seen.vertices);
    for (int k = 0; k < 4; k++) {
        MarkerHistory history{{MarkerHistoryEntry{seen, 1}}, 1};
        MarkerList list{{square(101, 100, 410, 3, 0.3)}, 1};
        list.markers[0].direction = 0;
        for (int i = 0; i < 4; i++) {  // moved by a pixel
            list.markers[0].vertices[(i + k) % 4] = {corners[i].x + 1, corners[i].y};
        }
        arSteadyMarkers(history, list);
        ASSERT_EQ(list.count, 1);
        EXPECT_EQ(
            std::tuple(list.markers[0].id, list.markers[0].direction, list.markers[0].confidence),
            std::tuple(7, (2 - k + 4) % 4, 0.8))
            << k;
    }
}

// Templates written directly: t is the pattern's own mean-removed inverse,
// so it correlates 1 with it, -t correlates -1, and o (zero where t is not,
// and the reverse, mean-free) correlates 0.
class PatternMatch : public testing::Test {
  protected:
    void SetUp() override {
        for (int k = 0; k < PATTERN_VALUES; k++) {
            pattern.values[k] = k % 2 == 0 ? 100 : 200;  // inverted: 155 or 55, mean 105
            t[k] = k % 2 == 0 ? 50 : -50;
            o[k] = k % 4 == 1 ? 7 : k % 4 == 3 ? -7 : 0;
        }
    }
    void put(int slot, int d, const int32_t* values, int sign = 1) {
        set->inUse[slot] = 1;
        double squares = 0;
        for (int k = 0; k < PATTERN_VALUES; k++) {
            set->templates[slot][d][k] = sign * values[k];
            squares += 1.0 * values[k] * values[k];
        }
        set->templateNorms[slot][d] = std::sqrt(squares);
    }
    std::tuple<int, int, double> match() {
        int id = -9, direction = -9;
        double confidence = -9;
        EXPECT_EQ(arMatchPattern(*set, pattern, &id, &direction, &confidence), 0);
        return {id, direction, confidence};
    }
    PatternImage pattern;
    int32_t t[PATTERN_VALUES], o[PATTERN_VALUES];
    std::unique_ptr<PatternSet> set = std::make_unique<PatternSet>();
};

TEST_F(PatternMatch, ExactTiesGoToTheEarliestSlotThenTheLowestDirection) {
    for (int slot : {3, 5}) {  // slot 3 and slot 5 both match in directions 1 and 3
        for (int d = 0; d < 4; d++) {
            put(slot, d, d % 2 == 1 ? t : o);
        }
    }
    put(4, 2, t);  // not in use: never compared
    set->inUse[4] = 0;
    const auto [id, direction, confidence] = match();
    EXPECT_EQ(std::pair(id, direction), std::pair(3, 1));
    EXPECT_NEAR(confidence, 1.0, 1e-12);
}

TEST_F(PatternMatch, NothingCorrelatingPositivelyGivesNoIdNoDirectionAndConfidenceZero) {
    for (int d = 0; d < 4; d++) {
        put(0, d, d == 2 ? o : t, -1);
        put(1, d, o);
    }
    EXPECT_EQ(match(), std::tuple(-1, -1, 0.0));
}

// What one detector loads and remembers, another does not see; a new
// detector starts afresh (the sanitizer build catches a leak), and a frame
// size that is not positive gives none.
TEST(Detectors, TwoDetectorsShareNeitherPatternsNorHistory) {
    lumeko_test::TempDir dir;
    const Picture p = lumeko_test::randomPicture(21), q = lumeko_test::randomPicture(22);
    auto a = Detector::create(lumeko_test::undistortedCamera(640, 480));
    auto b = Detector::create(lumeko_test::undistortedCamera(640, 480));
    ASSERT_TRUE(a && b);
    ASSERT_EQ(loadText(*a, dir, lumeko_test::patternFileText(p)), 0);
    ASSERT_EQ(loadText(*b, dir, lumeko_test::patternFileText(q)), 0);
    TestFrame withP(640, 480), withQ(640, 480), empty(640, 480);
    withP.drawMarker({300.5, 250.5}, 140, 0.0, p);
    withQ.drawMarker({300.5, 250.5}, 140, 0.0, q);
    const MarkerInfo* markers = nullptr;
    int count = 0;
    ASSERT_EQ(a->detect(withP.image(), &markers, &count), 0);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(markers[0].id, 0);
    ASSERT_EQ(b->detect(withP.image(), &markers, &count), 0);  // q's detector: unknown
    ASSERT_EQ(count, 1);
    EXPECT_EQ(markers[0].id, -1);
    ASSERT_EQ(b->detect(empty.image(), &markers, &count), 0);
    EXPECT_EQ(count, 0);  // a's marker is not in b's history
    ASSERT_EQ(b->detect(withQ.image(), &markers, &count), 0);
    ASSERT_EQ(a->detect(empty.image(), &markers, &count), 0);
    ASSERT_EQ(count, 1);  // a remembers its own marker, untouched by b
    EXPECT_EQ(markers[0].id, 0);
    EXPECT_GT(markers[0].confidence, 0.9);
    a = Detector::create(lumeko_test::undistortedCamera(640, 480));
    ASSERT_EQ(loadText(*a, dir, lumeko_test::patternFileText(p)), 0);
    ASSERT_EQ(a->detect(empty.image(), &markers, &count), 0);
    EXPECT_EQ(count, 0);  // nothing carried over from the last detector
    EXPECT_EQ(Detector::create(lumeko_test::undistortedCamera(0, 240)), nullptr);
    EXPECT_EQ(Detector::create(lumeko_test::undistortedCamera(320, -1)), nullptr);
}

}  // namespace
