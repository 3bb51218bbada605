#include "marker/detector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "marker/half_picture.h"
#include "marker/marker_history.h"
#include "marker/pattern_extract.h"
#include "marker/pattern_match.h"
#include "marker/threshold_choice.h"
#include "tests/marker/test_frames.h"
#include "tests/support/test_support.h"

namespace {

using lumeko_test::Picture;
using lumeko_test::TestFrame;

class Detection : public testing::Test {
  protected:
    void SetUp() override { useFrameSize(640, 480); }
    // A fresh detector for frames of w x h, the test's picture loaded as id 0.
    void useFrameSize(int w, int h, const DetectorSettings& settings = {}) {
        detector = Detector::create(lumeko_test::undistortedCamera(w, h), settings);
        ASSERT_NE(detector, nullptr);
        slot = load(lumeko_test::patternFileText(picture));
    }
    // The slot the pattern went into, or -1 with the status in `failure`.
    int load(const std::string& text, MarkerStatus* failure = nullptr) {
        const std::string path = dir.file(std::to_string(std::hash<std::string>{}(text)));
        lumeko_test::writeFile(path, text);
        const PatternLoad loaded = detector->loadPattern(path.c_str());
        if (failure != nullptr)
            *failure = loaded.status;
        return loaded.ok() ? loaded.id : -1;
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
    int slot = -1, count = 0;
    MarkerStatus status = MarkerStatus::Ok;
};

// Load failures come back as reasons, printing nothing; a failed load leaves
// its slot free. A uniform block's templates are all 0, their norm the floor.
// Numbers are read as "%d" reads them (any white space, a sign, leading
// zeros); one outside int's range fails as any unreadable value does.
TEST_F(Detection, PatternFilesLoadAsScanfReadsThemAndFailuresAreReasons) {
    Picture flat;
    std::fill_n(&flat.cells[0][0], 256, lumeko_test::Colour{77, 77, 77});
    const std::string good = lumeko_test::patternFileText(flat);
    std::istringstream tokens(lumeko_test::patternFileText(picture));
    std::string respelled, outOfRange;
    for (std::string token; tokens >> token;) {
        respelled += (respelled.empty() ? "\v\f" : "\t\r\n ") + std::string("+00") + token;
        outOfRange += outOfRange.empty() ? "2147483648" : " " + token;
    }
    MarkerStatus error = MarkerStatus::Ok;
    testing::internal::CaptureStdout();
    const PatternLoad missing = detector->loadPattern(dir.file("missing").c_str());
    EXPECT_EQ(std::pair(missing.status, missing.error),
              std::pair(MarkerStatus::PatternCannotOpen, ENOENT));
    EXPECT_EQ(detector->loadPattern(dir.path().c_str()).error, EISDIR);
    for (const std::string& bad :
         {good.substr(0, good.rfind(' ')), outOfRange, "-2147483649" + outOfRange.substr(10)}) {
        EXPECT_EQ(load(bad, &error), -1) << bad.substr(0, 30);
        EXPECT_EQ(error, MarkerStatus::PatternUnreadable);
    }
    EXPECT_EQ(std::pair(load(respelled, &error), error), std::pair(1, MarkerStatus::Ok));
    const PatternSet& set = detector->patterns();
    EXPECT_TRUE(std::equal(&set.templates[slot][0][0], &set.templates[slot][3][PATTERN_VALUES],
                           &set.templates[1][0][0]));
    EXPECT_EQ(load("-2147483648" + outOfRange.substr(10)), 2) << "in range";
    for (int id = 3; id < PATTERN_SLOT_MAX; id++)
        ASSERT_EQ(load(good), id);
    EXPECT_EQ(load(good, &error), -1);
    EXPECT_EQ(error, MarkerStatus::PatternSetFull);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(set.templateNorms[3][0], PATTERN_NORM_FLOOR);
    EXPECT_EQ(std::count(set.templates[3][0], set.templates[3][0] + PATTERN_VALUES, 0),
              PATTERN_VALUES);
}

// Sample counts by side; a square whose central half covers 16 x 16 cells of
// 4 x 4 pixels samples each cell's colour exactly; samples outside the frame
// add nothing; corners on one line give no pattern; a uniform pattern
// matches nothing.
TEST_F(Detection, PatternSamplingCountsCellsAndDegenerateCorners) {
    const int sides[8] = {20, 32, 33, 50, 64, 65, 200, 2000},
              n[8] = {16, 16, 32, 32, 32, 64, 64, 64};
    for (int i = 0; i < 8; i++)
        EXPECT_EQ(arPatternSampleCount(sides[i] * sides[i]), n[i]) << sides[i];
    TestFrame frame(160, 160);
    for (int i = 0; i < 64 * 64; i++)
        frame.set(32 + i % 64, 32 + i / 64, picture.cells[i / 64 / 4][i % 64 / 4]);
    const int32_t xs[5] = {0, 128, 128, 0, 0}, ys[5] = {0, 0, 128, 128, 0},
                  corners[5] = {0, 1, 2, 3, 4};
    PatternImage image;
    ASSERT_EQ(arExtractPattern(frame.image(), xs, ys, corners, &image), MarkerStatus::Ok);
    for (int k = 0; k < PATTERN_VALUES; k++) {
        const lumeko_test::Colour& cell = picture.cells[k / 3 / 16][k / 3 % 16];
        ASSERT_EQ(image.values[k], k % 3 == 0 ? cell.b : k % 3 == 1 ? cell.g : cell.r) << k;
    }
    const int32_t leftX[5] = {-300, -100, -100, -300, -300}, leftY[5] = {100, 100, 300, 300, 100};
    ASSERT_EQ(arExtractPattern(frame.image(), leftX, leftY, corners, &image), MarkerStatus::Ok);
    EXPECT_EQ(std::count(std::begin(image.values), std::end(image.values), 0), PATTERN_VALUES);
    int id = -9, direction = -9;
    double confidence = 0;
    const int32_t lineX[5] = {100, 150, 200, 250, 100}, lineY[5] = {100, 100, 100, 100, 100};
    arPatternCode(detector->patterns(), frame.image(), lineX, lineY, corners, &id, &direction,
                  &confidence);
    EXPECT_EQ(std::tuple(id, direction, confidence), std::tuple(-1, -1, 0.0));
    std::fill(std::begin(image.values), std::end(image.values), 40);
    EXPECT_EQ(arMatchPattern(detector->patterns(), image).status, MarkerStatus::UniformPattern);
}

// A marker whose picture becomes unreadable keeps its identity; once gone it
// is re-added as it was for two frames. Squares with a uniform interior or an
// unknown picture have id -1.
TEST_F(Detection, IdentityOutlivesABadReadingAndALostMarkerStaysForTwoFrames) {
    TestFrame seen(640, 480), smudged(640, 480), empty(640, 480), others(640, 480);
    seen.drawMarker({300.5, 250.5}, 140, 0.0, picture);
    ASSERT_EQ(detect(seen), 1);
    const auto before = identity(0);
    ASSERT_EQ(markers[0].id, slot);
    smudged.drawMarker({302.5, 251.5}, 140, 0.0, lumeko_test::randomPicture(999));
    ASSERT_EQ(detect(smudged), 1);
    EXPECT_EQ(identity(0), before);
    const MarkerInfo last = markers[0];
    for (int frame = 1; frame <= 2; frame++) {
        ASSERT_EQ(detect(empty), 1) << frame;
        EXPECT_EQ(identity(0), before);  // and centre, edge lines and vertices, all doubles:
        EXPECT_EQ(std::memcmp(&markers[0].centre, &last.centre,
                              sizeof last - offsetof(MarkerInfo, centre)),
                  0);
    }
    EXPECT_EQ(detect(empty), 0);
    others.drawMarker({120.5, 120.5}, 100, 0.0, picture);
    others.fillRect(96, 96, 50, 50, lumeko_test::WHITE);  // a uniform interior
    others.drawMarker({400.5, 300.5}, 100, 0.4, lumeko_test::randomPicture(777));
    ASSERT_EQ(detect(others), 2);
    EXPECT_EQ(std::tuple(markers[0].id, markers[0].confidence), std::tuple(-1, -1.0));
    EXPECT_EQ(markers[1].id, -1);
}

// With a capacity too small for a frame, the pass says so, hands out no
// markers and counts as a frame without the marker: of the two frames a lost
// marker is held for, the busy frame took one. A frame of another size fails
// and leaves the history alone.
TEST_F(Detection, ABusyFrameIsOneWithoutMarkersAndAFrameOfAnotherSizeNone) {
    DetectorSettings settings;
    settings.labelCapacity = 400;
    useFrameSize(640, 480, settings);
    TestFrame seen(640, 480), busy(640, 480), empty(640, 480), wrongSize(320, 240);
    seen.drawMarker({300.5, 250.5}, 140, 0.0, picture);
    for (int i = 0; i < 401; i++)
        busy.set(1 + 2 * (i % 300), 1 + 2 * (i / 300), lumeko_test::BLACK);
    ASSERT_EQ(detect(seen), 1);
    EXPECT_EQ(std::tuple(detect(busy), status), std::tuple(0, MarkerStatus::CapacityExceeded));
    EXPECT_EQ(detector->trace().labels, nullptr);
    for (int pass = 0; pass < 3; pass++)
        EXPECT_EQ(std::tuple(detect(wrongSize), status), std::tuple(0, MarkerStatus::BadFrame));
    ASSERT_EQ(detect(empty), 1);  // the second frame of the hold
    EXPECT_EQ(markers[0].id, slot);
    EXPECT_EQ(detect(empty), 0);
    settings.labelCapacity = -1;
    EXPECT_EQ(Detector::create(lumeko_test::undistortedCamera(640, 480), settings), nullptr);
    EXPECT_EQ(Detector::create(lumeko_test::undistortedCamera(0, 240)), nullptr);
}

// A comb whose outline is too long to trace: the pass records the reason,
// numbered 3, in its trace and prints nothing.
TEST_F(Detection, TracerDiagnosticsReachTheTrace) {
    TestFrame frame(640, 480);
    frame.drawMarker({300.5, 150.5}, 140, 0.0, picture);
    frame.fillRect(100, 380, 300, 2, lumeko_test::BLACK);
    for (int k = 0; k < 150; k++)
        frame.fillRect(100 + 2 * k, 382, 1, 40, lumeko_test::BLACK);
    testing::internal::CaptureStdout();
    ASSERT_EQ(detect(frame), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    const auto failures = detector->trace().contourFailures;
    ASSERT_EQ(std::vector<MarkerStatus>(failures.begin(), failures.end()),
              std::vector<MarkerStatus>{MarkerStatus::ContourTooLong});
    EXPECT_EQ(arContourFailureNumber(failures[0]), 3);
}

// A marker 700 pixels wide fills much of a full-HD frame: its border alone
// covers 367,500 pixels, beyond the usual largest region. With large markers
// the limit grows with the frame (675,000 at 1920 x 1080) and the marker is
// found, as is a 40-pixel one; at 640 x 480 nothing changes.
TEST_F(Detection, LargeMarkersAreFoundWithTheSettingAndSmallOnesStill) {
    DetectorSettings large;
    large.largeMarkers = true;
    EXPECT_EQ(arRegionAreaMax(640, 480, large), REGION_AREA_MAX);
    EXPECT_EQ(arRegionAreaMax(1920, 1080, large), 675000);
    EXPECT_EQ(arRegionAreaMax(1920, 1080, DetectorSettings{}), REGION_AREA_MAX);
    TestFrame near(1920, 1080), far(1920, 1080);
    near.drawMarker({960.5, 540.5}, 700, 0.2, picture);
    far.drawMarker({300.5, 200.5}, 40, 0.2, picture);
    for (const bool setting : {false, true}) {
        large.largeMarkers = setting;
        useFrameSize(1920, 1080, large);
        const int n = detect(near);
        EXPECT_EQ(n == 1 && markers[0].id == slot && markers[0].confidence > 0.9, setting);
        if (setting) {
            const ImagePoint* v = markers[0].vertices;  // the corners' mean: the square's centre
            EXPECT_NEAR((v[0].x + v[1].x + v[2].x + v[3].x) / 4, 960.5, 1.0);
            EXPECT_NEAR((v[0].y + v[1].y + v[2].y + v[3].y) / 4, 540.5, 1.0);
        }
        useFrameSize(1920, 1080, large);
        ASSERT_EQ(detect(far), 1) << setting;
        EXPECT_EQ(markers[0].id, slot);
    }
}

// A busy frame: 61 small squares above the marker fill two lists of
// MARKER_MAX candidates before its own square is reached; a second marker
// among the squares is the first list's last. Without more squares the
// first marker is never looked at. With them, seeking it, it is found in the
// third list; seeking any (several markers), both are, the later list's
// marker in a place of the first list's unidentified squares. A frame of the
// squares alone keeps the first list, as without the setting.
TEST_F(Detection, MoreSquaresLookPastFullListsForTheMarkers) {
    TestFrame busy(640, 480), squaresOnly(640, 480);
    for (int k = 0; k < 2 * MARKER_MAX + 1; k++) {
        const int j = k < MARKER_MAX - 1 ? k : k - (MARKER_MAX - 1);
        const int x = k < MARKER_MAX - 1 ? 10 + 38 * (j % 10) : 10 + 38 * (j % 12);
        const int y = k < MARKER_MAX - 1 ? 10 + 30 * (j / 10) : 190 + 30 * (j / 12);
        for (TestFrame* frame : {&busy, &squaresOnly})
            frame->fillRect(x, y, 14, 14, lumeko_test::BLACK);
    }
    const Picture other = lumeko_test::randomPicture(15);
    busy.drawMarker({320.5, 360.5}, 120, 0.1, picture);
    busy.drawMarker({570.5, 140.5}, 80, 0.0, other);
    DetectorSettings more;
    for (const bool setting : {false, true}) {
        for (const bool seekOne : {false, true}) {
            more.moreSquares = setting;
            const auto fresh = [&] {
                useFrameSize(640, 480, more);
                const int otherSlot = load(lumeko_test::patternFileText(other));
                if (seekOne)
                    detector->seekPattern(slot);
                return otherSlot;
            };
            const int otherSlot = fresh();
            const int n = detect(busy);
            const auto found = [&](int id) {
                return std::any_of(markers, markers + n, [&](const MarkerInfo& m) {
                    return m.id == id && m.confidence > 0.9;
                });
            };
            EXPECT_EQ(found(slot), setting) << seekOne;
            EXPECT_EQ(found(otherSlot), !(setting && seekOne)) << setting;
            fresh();
            ASSERT_EQ(detect(squaresOnly), MARKER_MAX) << setting;
            EXPECT_NEAR(markers[MARKER_MAX - 1].centre.x, 16.5, 0.5) << setting;
        }
    }
}

// Otsu's level splits two classes in the middle of the gap between them;
// one level or none has nothing to split.
TEST(ThresholdChoice, OtsuSplitsInTheMiddleOfTheGap) {
    long long histogram[766] = {};
    int level = -9;
    EXPECT_EQ(otsuLevel(histogram, &level), MarkerStatus::AllAlike);
    histogram[300] = 50;
    EXPECT_EQ(otsuLevel(histogram, &level), MarkerStatus::AllAlike);
    EXPECT_EQ(level, -9);
    histogram[100] = 10;
    ASSERT_EQ(otsuLevel(histogram, &level), MarkerStatus::Ok);
    EXPECT_EQ(level, 199);  // levels 100..299 all split alike
}

// The half-size picture and the grey-level count, which take several pixels
// a step, give what one pixel at a time gives: on random bytes, a width
// that leaves a pixel over at the end of each step, and a box inside the frame.
TEST(ThresholdChoice, HalvingAndCountingMatchAPixelAtATime) {
    TestFrame frame(39, 9);
    frame.addNoise(11, 255);
    for (size_t i = 0; i < frame.pixels.size(); i++)
        frame.pixels[i] = static_cast<unsigned char>(frame.pixels[i] * 7 + i);
    std::vector<unsigned char> halfPixels(4 * 19 * 4);
    FrameImage half{halfPixels.data(), 0, 0};
    arHalvePicture(frame.image(), half);
    ASSERT_EQ(std::pair(half.width, half.height), std::pair(19, 4));
    const auto at = [&](int x, int y, int c) { return frame.pixels[4 * (y * 39 + x) + c]; };
    for (int i = 0; i < 19 * 4 * 4; i++) {
        const int x = 2 * (i / 4 % 19), y = 2 * (i / 4 / 19), c = i % 4;
        ASSERT_EQ(halfPixels[i],
                  (at(x, y, c) + at(x + 1, y, c) + at(x, y + 1, c) + at(x + 1, y + 1, c) + 2) / 4)
            << i;
    }
    long long histogram[766], expected[766] = {};
    countGreyLevels(frame.image(), {2, 1, 37, 8}, histogram);
    for (int y = 1; y < 8; y++) {
        for (int x = 2; x < 37; x++)
            expected[at(x, y, 0) + at(x, y, 1) + at(x, y, 2)]++;
    }
    EXPECT_TRUE(std::equal(histogram, histogram + 766, expected));
}

// Every byte of a frame times 0.3: at the fixed threshold the paper is as dark
// as the ink and nothing is found; the retry finds the marker at a threshold
// chosen from the frame. Once it is gone it is held for the same two frames as
// at normal exposure: every noisy frame after it is retried in vain, and the
// history still takes one step per frame. A marker seen at the fixed threshold
// that is not the one sought is retried too; when no retry sees the sought
// one, the first pass's history stays, with the marker it saw. (Its ink of 95
// on paper of 140 in a black frame is not seen at the threshold Otsu's method
// chooses between the black and the rest.)
TEST_F(Detection, TheThresholdRetryFindsADimMarkerAndTheHistoryStepsOncePerFrame) {
    TestFrame seen(640, 480), empty(640, 480);
    seen.drawMarker({300.5, 250.5}, 140, 0.3, picture);
    empty.addNoise(5, 60);
    for (TestFrame* frame : {&seen, &empty}) {
        for (unsigned char& byte : frame->pixels)
            byte = static_cast<unsigned char>(byte * 0.3);
    }
    EXPECT_EQ(detect(seen), 0);
    DetectorSettings settings;
    settings.thresholdRetry = true;
    useFrameSize(640, 480, settings);
    ASSERT_EQ(detect(seen), 1);
    EXPECT_EQ(markers[0].id, slot);
    EXPECT_EQ(detector->seenCount(), 1);
    for (int frame = 1; frame <= 2; frame++) {
        ASSERT_EQ(detect(empty), 1) << frame;
        EXPECT_EQ(std::pair(markers[0].id, detector->seenCount()), std::pair(slot, 0));
    }
    EXPECT_EQ(detect(empty), 0);
    // A long stretch without the marker: its retries look at the half-size
    // picture first and, seeing nothing like the marker, are spared; where
    // the dim marker comes back, the glance sees it and the retries find it.
    for (int frame = 4; frame <= GLANCE_AFTER + 2; frame++)
        EXPECT_EQ(detect(empty), 0) << frame;
    EXPECT_EQ(detector->retriesSpared(), 2);
    ASSERT_EQ(detect(seen), 1);
    EXPECT_EQ(markers[0].id, slot);
    TestFrame other(640, 480);
    other.drawMarker({300.5, 250.5}, 140, 0.0, picture);
    for (int i = 0; i < 640 * 480 * 4; i++) {
        const bool paper = std::abs(i / 4 % 640 - 300) < 100 && std::abs(i / 4 / 640 - 250) < 100;
        other.pixels[i] = i % 4 == 3 ? 255 : !paper ? 0 : other.pixels[i] < 128 ? 95 : 140;
    }
    detector->seekPattern(load(lumeko_test::patternFileText(lumeko_test::randomPicture(15))));
    ASSERT_EQ(detect(other), 1);
    EXPECT_EQ(markers[0].id, slot);
    ASSERT_EQ(detector->history().count, 1);
    EXPECT_EQ(detector->history().entries[0].marker.id, slot);
}

// A sheet of paper (195) on a darker table (85), a lamp's sheen lifting the
// border's ink (25) to 150 over one corner: the fixed, Otsu's and the local
// thresholds leave the lit ink light and the border open, so no square; the
// threshold just below the paper's level closes it and the marker is found.
TEST_F(Detection, TheSheenThresholdFindsABorderGreyedByALamp) {
    TestFrame frame(640, 480);
    frame.drawMarker({300.5, 250.5}, 140, 0.0, picture);
    for (int i = 0; i < 640 * 480 * 4; i++) {
        const int x = i / 4 % 640, y = i / 4 / 640;
        const bool paper = std::abs(x - 300) < 150 && std::abs(y - 250) < 120;
        const bool lit = x < 290 && y < 240 && (x < 265 || y < 215);  // the border alone
        frame.pixels[i] = i % 4 == 3               ? 255
                          : !paper                 ? 85
                          : frame.pixels[i] >= 128 ? 195
                          : lit                    ? 150
                                                   : 25;
    }
    frame.addNoise(3, 7);
    DetectorSettings settings;
    settings.thresholdRetry = settings.localRetry = settings.robustSides = true;
    for (const bool sheen : {false, true}) {
        settings.paperRetry = sheen;
        useFrameSize(640, 480, settings);
        const int n = detect(frame);
        EXPECT_EQ(n == 1 && markers[0].id == slot && markers[0].confidence > 0.8, sheen) << n;
    }
}

MarkerInfo square(double x, double y, int area, int id, double confidence) {
    MarkerInfo m{};
    m.area = area, m.id = id, m.confidence = confidence, m.centre = {x, y};
    return m;
}

TEST(MarkerHistory, AreaRatioWindowIsInclusiveAndDistanceBoundStrict) {
    const MarkerInfo now = square(100, 100, 100, -1, 0);
    for (const auto& [area, match] : {std::pair{143, true}, {70, true}, {144, false}, {69, false}})
        EXPECT_EQ(arMarkersMatch(square(100, 100, area, 1, 1), now), match) << area;
    // Squared distance / current area: 49 / 100 matches, 50 / 100 does not.
    EXPECT_TRUE(arMarkersMatch(square(107, 100, 100, 1, 1), now));
    EXPECT_DOUBLE_EQ(arCentreDistanceRatio(square(107, 100, 100, 1, 1), now), 0.49);
    EXPECT_FALSE(arMarkersMatch(square(105, 105, 100, 1, 1), now));
}

// The strict history carries a remembered id (confidence 0.9, area 1000) only
// onto a square of 0.8 to 1.25 times its area that matches at least 0.3
// itself; the plain history onto any square the history matches. A square
// whose corners lie inside the box of a region more than twice its area keeps
// its id only from a confidence of 0.7.
TEST(MarkerHistory, TheStrictHistoryRefusesCarriesAndQuestionsNestedSquares) {
    const struct {
        int area;
        double confidence;
        bool strict, carried;
    } carries[] = {{1250, 0.3, true, true}, {1260, 0.3, true, false},  {800, 0.3, true, true},
                   {790, 0.3, true, false}, {1000, 0.29, true, false}, {1260, 0.1, false, true},
                   {790, 0.29, false, true}};
    for (const auto& c : carries) {
        MarkerHistory history{{MarkerHistoryEntry{square(100, 100, 1000, 3, 0.9), 1}}, 1};
        MarkerList list{{square(100, 100, c.area, -1, c.confidence)}, 1};
        arSteadyMarkers(history, list, c.strict);
        EXPECT_EQ(list.markers[0].id == 3, c.carried) << c.area << " " << c.confidence;
    }
    const int32_t areas[] = {800};
    const RegionBox box{90, 110, 90, 110};
    const LabelResult labels{nullptr, 640, 480, 1, nullptr, areas, nullptr, &box};
    for (const auto& [area, confidence, kept] :
         {std::tuple{399, 0.69, false}, {399, 0.7, true}, {400, 0.69, true}}) {
        MarkerList list{{square(100, 100, area, 3, confidence)}, 1};
        std::fill_n(list.markers[0].vertices, 4, ImagePoint{100, 100});
        list.markers[0].vertices[1] = {109, 91};
        arQuestionNestedMarkers(labels, list);
        EXPECT_EQ(list.markers[0].id == 3, kept) << area << " " << confidence;
    }
}

// Only the markers that may come out of the history step with an identity get
// sub-pixel edges: one matched at least 0.5, one a remembered marker would
// carry its identity onto; not a poorly matched patch nothing remembers.
TEST(MarkerHistory, OnlyMarkersThatMayKeepAnIdentityAreRefined) {
    MarkerHistory history{{MarkerHistoryEntry{square(100, 100, 1000, 3, 0.9), 1}}, 1};
    MarkerList list{{square(100, 102, 1000, 3, 0.2), square(300, 300, 400, 3, 0.5),
                     square(500, 300, 400, 3, 0.49)},
                    3};
    bool keeps[MARKER_MAX];
    arMarkersKeepingIdentity(history, list, keeps);
    EXPECT_EQ(std::vector<bool>(keeps, keeps + 3), (std::vector<bool>{true, true, false}));
    arSteadyMarkers(history, list);
    for (int i = 0; i < 3; i++)
        EXPECT_TRUE(list.markers[i].id < 0 || keeps[i]) << i;
}

// A full history of confident markers far from a full list of new ones, one
// of them confident with an id of its own: neither store grows past MARKER_MAX.
TEST(MarkerHistory, NeitherStoreGrowsPastMarkerMax) {
    MarkerHistory h{{}, MARKER_MAX};
    MarkerList full{{}, MARKER_MAX};
    for (int i = 0; i < MARKER_MAX; i++) {
        full.markers[i] = square(600 + i * 50, 600, 100, -1, 0.1);
        h.entries[i] = MarkerHistoryEntry{square(i * 20, 0, 100, i, 0.9), 1};
    }
    full.markers[0] = square(600, 600, 100, 99, 0.9);
    arSteadyMarkers(h, full);
    EXPECT_EQ(std::pair(full.count, h.count), std::pair(MARKER_MAX, MARKER_MAX));
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
        for (int i = 0; i < 4; i++)  // moved by a pixel
            list.markers[0].vertices[(i + k) % 4] = {corners[i].x + 1, corners[i].y};
        arSteadyMarkers(history, list);
        ASSERT_EQ(list.count, 1);
        const MarkerInfo& m = list.markers[0];
        EXPECT_EQ(std::tuple(m.id, m.direction, m.confidence), std::tuple(7, (2 - k + 4) % 4, 0.8))
            << k;
    }
}

// Templates written directly: t is the pattern's own mean-removed inverse, so
// it correlates 1 with it, -t correlates -1, and o (zero where t is not, and
// the reverse, mean-free) correlates 0. Nothing correlating positively gives
// no id, no direction and confidence 0; exact ties go to the earliest slot,
// then the lowest direction; slots not in use are never compared.
TEST(PatternMatch, TiesGoToTheEarliestSlotThenDirectionAndNothingPositiveIsNoMatch) {
    PatternImage pattern;
    int32_t t[PATTERN_VALUES], o[PATTERN_VALUES], minusT[PATTERN_VALUES];
    for (int k = 0; k < PATTERN_VALUES; k++) {
        pattern.values[k] = k % 2 == 0 ? 100 : 200;  // inverted: 155 or 55, mean 105
        t[k] = k % 2 == 0 ? 50 : -50;
        minusT[k] = -t[k];
        o[k] = k % 4 == 1 ? 7 : k % 4 == 3 ? -7 : 0;
    }
    auto set = std::make_unique<PatternSet>();
    auto match = [&](int slot, const int32_t* const values[4]) {
        set->inUse[slot] = 1;
        for (int d = 0; d < 4; d++) {
            std::copy(values[d], values[d] + PATTERN_VALUES, set->templates[slot][d]);
            set->templateNorms[slot][d] = values[d] == o ? std::sqrt(PATTERN_VALUES / 2 * 49.0)
                                                         : std::sqrt(PATTERN_VALUES * 2500.0);
        }
        const PatternMatch found = arMatchPattern(*set, pattern);
        return std::tuple(found.status, found.id, found.direction,
                          std::round(found.confidence * 1e9) / 1e9);
    };
    const int32_t* const poor[4] = {minusT, minusT, o, minusT};
    const int32_t* const tied[4] = {o, t, o, t};
    EXPECT_EQ(std::get<0>(match(0, poor)), MarkerStatus::NoMatch);
    set->inUse[2] = 1;  // filled with t below, then not in use: never compared
    match(2, tied);
    set->inUse[2] = 0;
    EXPECT_EQ(match(5, tied), std::tuple(MarkerStatus::Ok, 5, 1, 1.0));
    EXPECT_EQ(match(3, tied), std::tuple(MarkerStatus::Ok, 3, 1, 1.0));
}

}  // namespace
