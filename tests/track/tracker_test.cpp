#include "track/tracker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "pose/marker_pose.h"
#include "tests/pose/pose_scene.h"
#include "tests/support/media_fixtures.h"
#include "tests/support/test_support.h"
#include "track/frame_report.h"

namespace {

using namespace lumeko_test;

using namespace pose_scene;

MarkerInfo markerOf(const MarkerSquare& square, int id, double confidence) {
    MarkerInfo marker{5000, id, square.direction, confidence, {}, {}, {}};
    std::memcpy(marker.edgeLines, square.edgeLines, sizeof marker.edgeLines);
    std::memcpy(marker.vertices, square.vertices, sizeof marker.vertices);
    return marker;
}

TEST(ChooseMarker, TakesTheMostConfidentMarkerOfThePatternEarlierOnTies) {
    auto choose = [](std::vector<std::pair<int, double>> entries) {
        std::vector<MarkerInfo> markers;
        for (auto [id, confidence] : entries)
            markers.push_back(markerOf(MarkerSquare{}, id, confidence));
        return chooseMarker(markers.data(), static_cast<int>(markers.size()), 2);
    };
    EXPECT_EQ(choose({}), -1);
    EXPECT_EQ(choose({{1, 0.9}, {2, 0.49999}, {-1, 0.95}}), -1);
    EXPECT_EQ(choose({{1, 0.9}, {2, 0.5}, {2, 0.5}}), 1);
    EXPECT_EQ(choose({{2, NAN}, {2, 0.6}}), 1);  // no number is not "at least 0.5"
    EXPECT_EQ(choose({{2, 0.6}, {1, 0.99}, {2, 0.8}, {2, 0.8}, {2, 0.7}}), 2);
}

// The same row, bit for bit.
bool sameRow(const KeyRow& a, const KeyRow& b) {
    return a.found == b.found && std::memcmp(&a.translateX, &b.translateX, 6 * sizeof(double)) == 0;
}

class TrackingStep : public ::testing::Test {
  protected:
    void SetUp() override {
        state.patternId = 0;
        state.patternWidth = MARKER_WIDTH;
    }
    std::vector<MarkerInfo> frameWith(const Pose& truth) {
        MarkerSquare square = squareOf(camera, truth);
        return {markerOf(square, 1, 0.9), markerOf(square, 0, 0.7), markerOf(square, 0, 0.45)};
    }
    // 1 when the frame's row was found, its values then in `key`.
    int step(const std::vector<MarkerInfo>& markers) {
        key = trackMarkers(state, camera, markers.data(), static_cast<int>(markers.size()));
        return key.found;
    }
    CameraParam camera = makeCamera(true);
    std::mt19937 rng{52};
    TrackerState state;
    KeyRow key{};
};

// A pose without a start keeps an earlier pose, or without one gives a
// not-found row; a non-finite pose (corners not numbers) is not stored and
// resets continuity.
TEST_F(TrackingStep, AFailedPoseKeepsAnEarlierPoseOnlyAndANonFinitePoseIsNotStored) {
    const Pose truth = randomPose(rng, 0.8);
    std::vector<MarkerInfo> good = frameWith(truth), broken = good, notANumber = good;
    broken[1].edgeLines[2] = broken[1].edgeLines[0];
    notANumber[1].vertices[1].x = NAN;
    EXPECT_EQ(step(broken), 0);
    EXPECT_FALSE(state.poseContinues);
    ASSERT_EQ(step(good), 1);
    const KeyRow first = key;
    EXPECT_EQ(step({}), 0);
    ASSERT_EQ(step(broken), 1);
    EXPECT_TRUE(sameRow(key, first));
    EXPECT_TRUE(state.poseContinues);
    EXPECT_EQ(step(notANumber), 0);
    EXPECT_EQ(std::pair(state.poseContinues, state.poseKnown), std::pair(false, false));
    EXPECT_EQ(step(good), 1);
}

// A thin quadrilateral whose fresh fit puts the marker behind the camera (the
// mirror of a pose in front, which projects onto the same corners): never
// kept, the frame is a not-found row and the next starts afresh.
TEST_F(TrackingStep, AFreshFitBehindTheCameraIsANotFoundRow) {
    MarkerSquare square{};
    const ImagePoint corners[4] = {
        {245.70, 140.52}, {268.45, 222.35}, {271.91, 232.50}, {246.96, 161.74}};
    for (int k = 0; k < 4; k++) {
        square.vertices[k] = corners[k];
        square.edgeLines[k] = lineThrough(corners[k], corners[(k + 1) % 4]);
    }
    square.direction = 1;
    const PoseFit fit = arMarkerPose(camera, square, {0, 0}, MARKER_WIDTH);
    ASSERT_TRUE(fit.ok() && !arMarkerInFront(fit.pose, {0, 0}, MARKER_WIDTH));
    EXPECT_EQ(step({markerOf(square, 0, 0.9)}), 0);
    EXPECT_EQ(std::pair(state.poseKnown, state.poseContinues), std::pair(false, false));
}

// Whole trackers on the small test scene: frames 1, 2 and 4 show the marker.
class WholeTracker : public ::testing::Test {
  protected:
    void SetUp() override {
        CameraParam file = makeCamera(false);
        arResizeCameraParam(file, SCENE_WIDTH, SCENE_HEIGHT, camera);
        writeFile(patternFile, markerScenePattern());
        for (const std::vector<unsigned char>& bgr :
             markerScenes({false, true, true, false, true})) {
            std::vector<unsigned char>& frame = frames.emplace_back();
            for (size_t i = 0; i < bgr.size(); i += 3)
                frame.insert(frame.end(), {bgr[i], bgr[i + 1], bgr[i + 2], 255});
        }
    }
    std::unique_ptr<Tracker> makeTracker(const TrackerSettings& settings = {}) {
        std::unique_ptr<Tracker> tracker = Tracker::create(camera, MARKER_WIDTH, settings);
        EXPECT_TRUE(tracker->loadPattern(patternFile.c_str()).ok());
        return tracker;
    }
    FrameImage frame(int i) { return {frames[i].data(), SCENE_WIDTH, SCENE_HEIGHT}; }
    TempDir dir;
    std::string patternFile = dir.file("scene.pattern");
    CameraParam camera;
    std::vector<std::vector<unsigned char>> frames;
};

// Failures come back as statuses, with nothing printed and nothing stored.
TEST_F(WholeTracker, FailuresAreStatusesAndPrintNothing) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    std::unique_ptr<Tracker> tracker = Tracker::create(camera, MARKER_WIDTH);
    EXPECT_EQ(tracker->loadPattern(dir.file("absent.pattern").c_str()).failure,
              TrackFailure::PatternMissing);  // the other reasons: detector tests
    EXPECT_EQ(tracker->trackFrame({frames[0].data(), 100, 100}).failure,
              TrackFailure::WrongFrameSize);
    EXPECT_EQ(tracker->keys().count, 0);
    for (int i = 0; i < KEY_TABLE_SIZE; i++)
        ASSERT_TRUE(tracker->trackFrame(frame(0)).ok());
    EXPECT_EQ(tracker->trackFrame(frame(0)).failure, TrackFailure::TableFull);
    EXPECT_EQ(tracker->keys().count, KEY_TABLE_SIZE);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// A frame that did not decode is a blank frame: a marker just seen is held
// over it (the history's two frames); a gap in a sequence forgets it, and
// the frame after a gap starts afresh.
TEST_F(WholeTracker, ABlankFrameHoldsTheMarkerAndAGapForgetsIt) {
    const struct {
        const char* steps;  // m: the marker's frame, b: a blank frame, g: a gap
        const char* found;  // each row's found
    } cases[] = {{"mbb", "111"}, {"mbbb", "1110"}, {"mgb", "100"}, {"mgm", "101"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.steps);
        std::unique_ptr<Tracker> tracker = makeTracker();
        std::string found;
        for (const char* step = c.steps; *step != '\0'; step++) {
            const TrackResult tracked = *step == 'm'   ? tracker->trackFrame(frame(1))
                                        : *step == 'b' ? tracker->trackBlankFrame()
                                                       : tracker->trackGap();
            ASSERT_TRUE(tracked.ok());
            found += static_cast<char>('0' + tracker->keys().rows[tracker->keys().count - 1].found);
        }
        EXPECT_EQ(found, c.found);
    }
}

// The report: a marker's row and the rows of the two frames it is held over
// carry its confidence and corners, a lost row only the points (none here).
TEST_F(WholeTracker, TheReportGivesHeldRowsTheMarkersConfidenceAndCorners) {
    std::unique_ptr<Tracker> tracker = makeTracker();
    ASSERT_TRUE(tracker->trackFrame(frame(1)).ok());
    for (int i = 0; i < 3; i++)
        ASSERT_TRUE(tracker->trackBlankFrame().ok());
    char* text = nullptr;
    size_t size = 0;
    std::FILE* file = open_memstream(&text, &size);
    putFrameReport(tracker->report(), file);
    std::fclose(file);
    std::istringstream lines(std::string(text, size));
    std::free(text);
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);)
        rows.push_back(line);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0], "frame,status,confidence,x0,y0,x1,y1,x2,y2,x3,y3,error,points");
    const auto fields = [](const std::string& row, size_t from, size_t to) {
        std::vector<std::string> all;
        std::istringstream split(row);
        for (std::string cell; std::getline(split, cell, ',');)
            all.push_back(cell);
        return all.size() == 13 ? std::vector(all.begin() + from, all.begin() + to) : all;
    };
    EXPECT_EQ(fields(rows[1], 1, 2), std::vector<std::string>{"marker"});
    const std::vector<std::string> seen = fields(rows[1], 2, 11);
    EXPECT_GT(std::stod(seen[0]), 0.5);
    for (int i : {2, 3}) {
        EXPECT_EQ(fields(rows[i], 1, 2), std::vector<std::string>{"held"}) << rows[i];
        EXPECT_EQ(fields(rows[i], 2, 11), seen) << rows[i];
        EXPECT_EQ(fields(rows[i], 12, 13), std::vector<std::string>{"4"}) << rows[i];
    }
    EXPECT_EQ(rows[4], "3,lost,,,,,,,,,,,0");
}

// A frame with more dark regions than detection's storage takes is a row
// without the marker; the run goes on, and the frame is counted.
TEST_F(WholeTracker, ABusyFrameIsANotFoundRowAndIsCounted) {
    TrackerSettings settings;
    settings.detection.labelCapacity = 3;
    std::unique_ptr<Tracker> tracker = makeTracker(settings);
    std::vector<unsigned char> busy = frames[1];
    for (int x = 2; x < 20; x += 4)  // four specks in the top row, away from the marker
        std::fill_n(&busy[(2 * SCENE_WIDTH + x) * 4], 3, 0);
    EXPECT_TRUE(tracker->trackFrame(frame(1)).ok());
    EXPECT_TRUE(tracker->trackFrame({busy.data(), SCENE_WIDTH, SCENE_HEIGHT}).ok());
    EXPECT_TRUE(tracker->trackFrame(frame(1)).ok());
    ASSERT_EQ(tracker->keys().count, 3);
    const KeyRow* rows = tracker->keys().rows;
    EXPECT_EQ(std::tuple(rows[0].found, rows[1].found, rows[2].found), std::tuple(1, 0, 1));
    EXPECT_EQ(tracker->busyFrames(), 1);
}

}  // namespace
