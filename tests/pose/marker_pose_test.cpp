#include "pose/marker_pose.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "pose/initial_rotation.h"
#include "tests/pose/pose_scene.h"

namespace {

using namespace pose_scene;

constexpr ImagePoint ORIGIN = {0.0, 0.0};

double translationError(const double pose[3][4], const double truth[3][4]) {
    return std::hypot(pose[0][3] - truth[0][3], pose[1][3] - truth[1][3],
                      pose[2][3] - truth[2][3]) /
           truth[2][3];
}

// Random markers facing the camera. Without distortion the sides are turned
// a little, as a real edge fit leaves them: exactly perpendicular vanishing
// directions are a case of their own (below). GetParam(): lens distortion.
class MarkerPoseScene : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override { arSetCameraParam(camera); }

    MarkerSquare nextSquare(double truth[3][4]) {
        randomPose(rng, 50 * PI / 180, truth);
        MarkerSquare square = squareOf(camera, truth);
        if (!GetParam()) {
            jitterEdges(rng, square, 0.2 * PI / 180);
        }
        return square;
    }

    // The passes stop at a mean squared error below one pixel, which is as
    // close as the pose comes; the error returned is that of the pose.
    void expectFits(double err, const double pose[3][4], const double truth[3][4]) {
        ASSERT_GE(err, 0.0);
        EXPECT_LT(err, 1.0);
        EXPECT_NEAR(err, cornerError(camera, pose, truth), 1e-7);
        EXPECT_LT(rotationDifference(pose, truth), 8 * PI / 180);
        EXPECT_LT(translationError(pose, truth), 0.02);
    }

    CameraParam camera = makeCamera(GetParam());
    std::mt19937 rng{41};
};

TEST_P(MarkerPoseScene, FirstFrameAndContinuousPosesFitRandomMarkers) {
    for (int i = 0; i < 200; i++) {
        double truth[3][4], previous[3][4], pose[3][4], same[3][4];
        MarkerSquare square = nextSquare(truth);
        expectFits(arMarkerPose(square, ORIGIN, MARKER_WIDTH, pose), pose, truth);
        turnedPose(truth, 0.04, -0.05, previous);
        double err = arMarkerPoseCont(square, previous, ORIGIN, MARKER_WIDTH, pose);
        expectFits(err, pose, truth);
        // The tracking step passes its one stored pose as both arrays.
        std::memcpy(same, previous, sizeof same);
        EXPECT_EQ(arMarkerPoseCont(square, same, ORIGIN, MARKER_WIDTH, same), err);
        EXPECT_TRUE(samePose(same, pose));
    }
}

TEST_P(MarkerPoseScene, NumberingAndEdgeLineSignsDoNotChangeThePose) {
    for (int i = 0; i < 40; i++) {
        double truth[3][4], previous[3][4], first[3][4], cont[3][4], pose[3][4];
        MarkerSquare square = nextSquare(truth);
        turnedPose(truth, 0.08, 0.05, previous);
        double err = arMarkerPose(square, ORIGIN, MARKER_WIDTH, first);
        double contErr = arMarkerPoseCont(square, previous, ORIGIN, MARKER_WIDTH, cont);
        for (int d = 1; d < 4; d++) {
            MarkerSquare turned = renumbered(square, d);
            EXPECT_EQ(arMarkerPose(turned, ORIGIN, MARKER_WIDTH, pose), err);
            EXPECT_TRUE(samePose(pose, first)) << "direction " << d;
            EXPECT_EQ(arMarkerPoseCont(turned, previous, ORIGIN, MARKER_WIDTH, pose), contErr);
            EXPECT_TRUE(samePose(pose, cont)) << "direction " << d;
        }
        for (int k = i % 2; k < 4; k += 2) {
            EdgeLine& line = square.edgeLines[k];
            line = {-line.a, -line.b, -line.c};
        }
        EXPECT_EQ(arMarkerPose(square, ORIGIN, MARKER_WIDTH, pose), err);
        EXPECT_TRUE(samePose(pose, first));
    }
}

TEST_P(MarkerPoseScene, FailedInitialRotationKeepsThePoseAndContinuousModeStands) {
    double truth[3][4], previous[3][4], fromPrevious[3][4];
    MarkerSquare square = nextSquare(truth);
    square.edgeLines[2] = square.edgeLines[0];  // no vanishing direction
    double pose[3][4] = {{7.0}};
    EXPECT_EQ(arMarkerPose(square, ORIGIN, MARKER_WIDTH, pose), -1.0);
    EXPECT_EQ(pose[0][0], 7.0);
    // A corner far enough off that continuous mode ends above its threshold.
    square.vertices[2].x += 6.0;
    turnedPose(truth, 0.04, 0.05, previous);
    double err = arMarkerPoseFromPrevious(square, previous, ORIGIN, MARKER_WIDTH, fromPrevious);
    EXPECT_GT(err, POSE_CONT_ERROR_MAX);
    EXPECT_EQ(arMarkerPoseCont(square, previous, ORIGIN, MARKER_WIDTH, pose), err);
    EXPECT_TRUE(samePose(pose, fromPrevious));
}

INSTANTIATE_TEST_SUITE_P(Lens, MarkerPoseScene, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Distorted" : "Pinhole"; });

// Exact corners and sides through a camera without distortion give exactly
// perpendicular vanishing directions. Rounding decides: a discriminant below
// zero fails the initial rotation, otherwise it is the true rotation (to the
// square-root precision of a discriminant near zero).
TEST(MarkerPoseExact, PerpendicularVanishingDirectionsEitherFailOrAreExact) {
    CameraParam camera = makeCamera(false);
    arSetCameraParam(camera);
    std::mt19937 rng(42);
    int failed = 0;
    for (int i = 0; i < 100; i++) {
        double truth[3][4], pose[3][4] = {{7.0}};
        randomPose(rng, 50 * PI / 180, truth);
        double err = arMarkerPose(squareOf(camera, truth), ORIGIN, MARKER_WIDTH, pose);
        if (err == -1.0) {
            failed++;
            EXPECT_EQ(pose[0][0], 7.0);
        } else {
            EXPECT_LT(err, 1e-6);
            EXPECT_LT(rotationDifference(pose, truth), 1e-5);
        }
    }
    EXPECT_GT(failed, 0);
    EXPECT_LT(failed, 100);
}

// Exactly perpendicular axes make both candidates of each axis the axis
// itself, told apart only by the sign of a zero; all four pairings score 0
// and the last, (X-, Y-), wins.
TEST(OrthogonaliseAxes, EqualScoresGoToTheLaterPairing) {
    double X[3] = {1.0, 0.0, 0.0};
    double Y[3] = {0.0, 1.0, 0.0};
    ASSERT_EQ(arOrthogonaliseAxes(X, Y), 0);
    EXPECT_TRUE(X[0] == 1.0 && X[1] == 0.0 && std::signbit(X[1]));
    EXPECT_TRUE(Y[1] == 1.0 && Y[0] == 0.0 && std::signbit(Y[0]));
    double parallel[3] = {0.6, 0.8, 0.0};
    EXPECT_EQ(arOrthogonaliseAxes(X, parallel), 0);
    EXPECT_EQ(arOrthogonaliseAxes(parallel, parallel), -1);
}

class ContinuousFallback : public ::testing::Test {
  protected:
    void SetUp() override {
        arSetCameraParam(camera);
        double truth[3][4];
        randomPose(rng, 0.6, truth);
        good = squareOf(camera, truth);
        poor = good;
        poor.vertices[2].x += 6.0;  // no pose fits within a pixel
    }

    CameraParam camera = makeCamera(true);
    std::mt19937 rng{43};
    MarkerSquare good{};
    MarkerSquare poor{};
};

TEST_F(ContinuousFallback, RunsOnlyAboveTheThreshold) {
    double fresh[3][4], pose[3][4] = {{7.0}};
    double freshErr = arMarkerPose(good, ORIGIN, MARKER_WIDTH, fresh);
    ASSERT_TRUE(freshErr >= 0.0 && freshErr < 1.0);
    EXPECT_EQ(arMarkerPoseFallback(good, 1.0, ORIGIN, MARKER_WIDTH, pose), 1.0);
    EXPECT_EQ(pose[0][0], 7.0);
    double justAbove = std::nextafter(1.0, 2.0);
    EXPECT_EQ(arMarkerPoseFallback(good, justAbove, ORIGIN, MARKER_WIDTH, pose), freshErr);
    EXPECT_TRUE(samePose(pose, fresh));
}

TEST_F(ContinuousFallback, KeepsTheContinuousPoseUnlessStrictlyBeaten) {
    double fresh[3][4], pose[3][4] = {{7.0}};
    double freshErr = arMarkerPose(poor, ORIGIN, MARKER_WIDTH, fresh);
    ASSERT_GT(freshErr, POSE_CONT_ERROR_MAX);
    EXPECT_EQ(arMarkerPoseFallback(poor, freshErr, ORIGIN, MARKER_WIDTH, pose), freshErr);
    EXPECT_EQ(pose[0][0], 7.0);
    double worse = std::nextafter(freshErr, 1e300);
    EXPECT_EQ(arMarkerPoseFallback(poor, worse, ORIGIN, MARKER_WIDTH, pose), freshErr);
    EXPECT_TRUE(samePose(pose, fresh));
    // A first-frame method that fails leaves the continuous pose.
    poor.edgeLines[3] = poor.edgeLines[1];
    pose[0][0] = 7.0;
    EXPECT_EQ(arMarkerPoseFallback(poor, 50.0, ORIGIN, MARKER_WIDTH, pose), 50.0);
    EXPECT_EQ(pose[0][0], 7.0);
}

}  // namespace
