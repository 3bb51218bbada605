#include "app/tracker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "pose/marker_pose.h"
#include "tests/pose/pose_scene.h"

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
    std::vector<MarkerInfo> frameWith(const double truth[3][4]) {
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
// 0's pose, frame 2 is lost. The key holds the camera's position * 0.005.
TEST_F(TrackingStep, ContinuesFromThePreviousPoseUntilAFrameIsLost) {
    double truth[3][4], expected[3][4], previous[3][4];
    for (int frame = 0; frame < 4; frame++) {
        randomPose(rng, 0.8, truth);
        const MarkerSquare square = squareOf(camera, truth);
        std::memcpy(previous, state.cameraPose, sizeof previous);
        if (frame == 2) {  // the pattern's marker too weak to be chosen
            EXPECT_EQ(step({markerOf(square, 1, 1.0), markerOf(square, 0, 0.3)}), 0);
            EXPECT_EQ(state.chosenMarker, -1);
            EXPECT_EQ(state.poseContinues, 0);
            EXPECT_TRUE(samePose(state.cameraPose, previous));
            continue;
        }
        ASSERT_EQ(step(frameWith(truth)), 1);
        EXPECT_EQ(state.chosenMarker, 1);
        EXPECT_EQ(state.poseContinues, 1);
        if (frame == 1)
            arMarkerPoseCont(camera, square, previous, {0, 0}, MARKER_WIDTH, expected);
        else
            arMarkerPose(camera, square, {0, 0}, MARKER_WIDTH, expected);
        EXPECT_TRUE(samePose(state.cameraPose, expected)) << "frame " << frame;
        // The camera at p = -R^T t in marker coordinates, scaled by 0.005.
        double p[3] = {};
        for (int k = 0; k < 9; k++)
            p[k / 3] -= expected[k % 3][k / 3] * expected[k % 3][3];
        EXPECT_NEAR(key.x, 0.005 * p[0], 1e-9);
        EXPECT_NEAR(key.y, 0.005 * p[1], 1e-9);
        EXPECT_NEAR(key.z, 0.005 * p[2], 1e-9);
        CameraKey expectedKey;
        poseToCameraKey(expected, &expectedKey);
        EXPECT_EQ(std::memcmp(&key, &expectedKey, sizeof key), 0);
    }
}

// A failed pose keeps an earlier pose, or without one gives a not-found row;
// a non-finite pose (corners not numbers) is not stored and resets continuity.
TEST_F(TrackingStep, AFailedPoseKeepsAnEarlierPoseOnlyAndANonFinitePoseIsNotStored) {
    double truth[3][4];
    randomPose(rng, 0.8, truth);
    std::vector<MarkerInfo> good = frameWith(truth), broken = good, notANumber = good;
    broken[1].edgeLines[2] = broken[1].edgeLines[0];
    notANumber[1].vertices[1].x = NAN;
    EXPECT_EQ(step(broken), 0);
    EXPECT_EQ(state.poseContinues, 0);
    ASSERT_EQ(step(good), 1);
    CameraKey first = key;
    EXPECT_EQ(step({}), 0);
    ASSERT_EQ(step(broken), 1);
    EXPECT_EQ(std::memcmp(&key, &first, sizeof key), 0);
    EXPECT_EQ(state.poseContinues, 1);

    EXPECT_EQ(step(notANumber), 0);
    EXPECT_EQ(state.poseContinues, 0);
    EXPECT_EQ(state.poseKnown, 0);
    EXPECT_EQ(step(good), 1);
}

}  // namespace
