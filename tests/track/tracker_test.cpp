#include "track/tracker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "pose/marker_pose.h"
#include "tests/pose/pose_scene.h"
#include "tests/support/media_fixtures.h"
#include "tests/support/test_support.h"

namespace {

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
    int step(const std::vector<MarkerInfo>& markers) {
        return trackMarkers(state, camera, markers.data(), static_cast<int>(markers.size()), &key);
    }
    CameraParam camera = makeCamera(true);
    std::mt19937 rng{52};
    TrackerState state;
    CameraKey key{};
};

// Frames 0 and 3 start from the marker alone, frame 1 continues from frame
// 0's pose, frame 2 is lost. The key is the pose's (the conversion: the
// camera-motion and renderer tests).
TEST_F(TrackingStep, ContinuesFromThePreviousPoseUntilAFrameIsLost) {
    for (int frame = 0; frame < 4; frame++) {
        const Pose truth = randomPose(rng, 0.8), previous = state.cameraPose;
        const MarkerSquare square = squareOf(camera, truth);
        if (frame == 2) {  // the pattern's marker too weak to be chosen
            EXPECT_EQ(step({markerOf(square, 1, 1.0), markerOf(square, 0, 0.3)}), 0);
            EXPECT_EQ(std::pair(state.chosenMarker, state.poseContinues), std::pair(-1, 0));
            EXPECT_TRUE(samePose(state.cameraPose, previous));
            continue;
        }
        ASSERT_EQ(step(frameWith(truth)), 1);
        EXPECT_EQ(std::pair(state.chosenMarker, state.poseContinues), std::pair(1, 1));
        const PoseFit expected =
            frame == 1 ? arMarkerPoseCont(camera, square, previous, {0, 0}, MARKER_WIDTH)
                       : arMarkerPose(camera, square, {0, 0}, MARKER_WIDTH);
        EXPECT_TRUE(samePose(state.cameraPose, expected.pose)) << "frame " << frame;
        const CameraKey expectedKey = *poseToCameraKey(expected.pose);
        EXPECT_EQ(std::memcmp(&key, &expectedKey, sizeof key), 0);
    }
}

// A pose without a start keeps an earlier pose, or without one gives a
// not-found row; a non-finite pose (corners not numbers) is not stored and
// resets continuity.
TEST_F(TrackingStep, AFailedPoseKeepsAnEarlierPoseOnlyAndANonFinitePoseIsNotStored) {
    const Pose truth = randomPose(rng, 0.8);
    std::vector<MarkerInfo> good = frameWith(truth), broken = good, notANumber = good;
    broken[1].edgeLines[2] = broken[1].edgeLines[0];
    notANumber[1].vertices[1].x = NAN;
    EXPECT_EQ(step(broken), 0);
    EXPECT_EQ(state.poseContinues, 0);
    ASSERT_EQ(step(good), 1);
    const CameraKey first = key;
    EXPECT_EQ(step({}), 0);
    ASSERT_EQ(step(broken), 1);
    EXPECT_EQ(std::memcmp(&key, &first, sizeof key), 0);
    EXPECT_EQ(state.poseContinues, 1);
    EXPECT_EQ(step(notANumber), 0);
    EXPECT_EQ(std::pair(state.poseContinues, state.poseKnown), std::pair(0, 0));
    EXPECT_EQ(step(good), 1);
}

// Whole trackers on the small test scene: frames 1, 2 and 4 show the marker.
class WholeTracker : public ::testing::Test {
  protected:
    void SetUp() override {
        CameraParam file = makeCamera(false);
        arResizeCameraParam(file, lumeko_test::SCENE_WIDTH, lumeko_test::SCENE_HEIGHT, camera);
        lumeko_test::writeFile(patternFile, lumeko_test::markerScenePattern());
        for (const std::vector<unsigned char>& bgr :
             lumeko_test::markerScenes({false, true, true, false, true})) {
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
    FrameImage frame(int i) {
        return {frames[i].data(), lumeko_test::SCENE_WIDTH, lumeko_test::SCENE_HEIGHT};
    }
    lumeko_test::TempDir dir;
    std::string patternFile = dir.file("scene.pattern");
    CameraParam camera;
    std::vector<std::vector<unsigned char>> frames;
};

// Failures come back as statuses, with nothing printed and nothing stored.
TEST_F(WholeTracker, FailuresAreStatusesAndPrintNothing) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    std::unique_ptr<Tracker> tracker = Tracker::create(camera, MARKER_WIDTH);
    // The other reasons: the detector's tests.
    EXPECT_EQ(tracker->loadPattern(dir.file("absent.pattern").c_str()).status,
              MarkerStatus::PatternCannotOpen);
    EXPECT_EQ(tracker->track({frames[0].data(), 100, 100}), TrackStatus::DetectionFailed);
    EXPECT_EQ(tracker->keys().count, 0);
    for (int i = 0; i < KEY_TABLE_SIZE; i++)
        ASSERT_EQ(tracker->track(frame(0)), TrackStatus::Tracked);
    EXPECT_EQ(tracker->track(frame(0)), TrackStatus::TableFull);
    EXPECT_EQ(tracker->keys().count, KEY_TABLE_SIZE);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// A frame with more dark regions than detection's storage takes is a row
// without the marker; the run goes on, and the frame is counted.
TEST_F(WholeTracker, ABusyFrameIsANotFoundRowAndIsCounted) {
    TrackerSettings settings;
    settings.labelCapacity = 3;
    std::unique_ptr<Tracker> tracker = makeTracker(settings);
    std::vector<unsigned char> busy = frames[1];
    for (int x = 2; x < 20; x += 4)  // four specks in the top row, away from the marker
        std::fill_n(&busy[(2 * lumeko_test::SCENE_WIDTH + x) * 4], 3, 0);
    EXPECT_EQ(tracker->track(frame(1)), TrackStatus::Tracked);
    EXPECT_EQ(tracker->track({busy.data(), lumeko_test::SCENE_WIDTH, lumeko_test::SCENE_HEIGHT}),
              TrackStatus::Tracked);
    EXPECT_EQ(tracker->track(frame(1)), TrackStatus::Tracked);
    ASSERT_EQ(tracker->keys().count, 3);
    const KeyRow* rows = tracker->keys().rows;
    EXPECT_EQ(std::tuple(rows[0].found, rows[1].found, rows[2].found), std::tuple(1, 0, 1));
    EXPECT_EQ(tracker->busyFrames(), 1);
}

}  // namespace
