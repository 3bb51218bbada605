// The pose functions either succeed with a finite pose or fail with a negative
// result and the pose untouched, whatever their input.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "pose/initial_rotation.h"
#include "pose/marker_pose.h"
#include "pose/pose_refine.h"
#include "tests/pose/pose_scene.h"

namespace {

using namespace pose_scene;

constexpr ImagePoint ORIGIN = {0.0, 0.0};

bool finitePose(const double pose[3][4]) {
    for (int i = 0; i < 12; i++) {
        if (!std::isfinite(pose[i / 4][i % 4]))
            return false;
    }
    return true;
}

// Focal lengths so small that the translation fit's normal equations have no
// usable pivot: the fit is singular. The passes used to go on with a partly
// inverted matrix, get NaN for every rotation and report the search's start
// value as the error of a NaN pose.
TEST(PoseContract, SingularTranslationFitFailsAndLeavesThePose) {
    const CameraParam camera = makeCamera(false);
    std::mt19937 rng(7);
    double truth[3][4];
    randomPose(rng, 0.5, truth);
    MarkerSquare square = squareOf(camera, truth);
    square.vertices[0].x += 0.25;  // a side off the exact projection: the first rotation exists
    square.edgeLines[0] = lineThrough(square.vertices[0], square.vertices[1]);
    CameraParam tiny = camera;
    tiny.mat[0][0] = tiny.mat[1][1] = 1e-12;
    tiny.mat[0][1] = 0.0;
    double pose[3][4] = {{7.0}};
    double R[3][3];
    ASSERT_EQ(arInitialRotation(square, tiny.mat, R), 0);
    EXPECT_EQ(arMarkerPose(tiny, square, ORIGIN, MARKER_WIDTH, pose), POSE_BROKE_DOWN);
    EXPECT_EQ(pose[0][0], 7.0);
    EXPECT_EQ(arMarkerPoseCont(tiny, square, truth, ORIGIN, MARKER_WIDTH, pose), POSE_BROKE_DOWN);
    EXPECT_EQ(pose[0][0], 7.0);

    // One image point repeated: the same singular fit, straight into a pass.
    const ImagePoint same[4] = {{300, 200}, {300, 200}, {300, 200}, {300, 200}};
    const double object[4][2] = {{-40, 40}, {40, 40}, {40, -40}, {-40, -40}};
    double before[3][3];
    std::memcpy(before, R, sizeof R);
    EXPECT_EQ(arRefinePose(R, same, object, 4, pose, camera.distFactor, camera.mat),
              POSE_BROKE_DOWN);
    EXPECT_EQ(std::memcmp(before, R, sizeof R), 0);
    EXPECT_EQ(pose[0][0], 7.0);
}

// A search in which every error is NaN has nothing to return: it fails and
// leaves R alone instead of returning its start value as an error.
TEST(PoseContract, SearchWithoutAFiniteErrorFails) {
    const CameraParam camera = makeCamera(false);
    const double points[4][3] = {{-40, 40, 0}, {40, 40, 0}, {40, -40, 0}, {-40, -40, 0}};
    const ImagePoint observed[4] = {{280, 200}, {360, 200}, {360, 280}, {280, 280}};
    double R[3][3] = {{1, 0, 0}, {0, -1, 0}, {0, 0, -1}};
    const double nanT[3] = {0.0, NAN, 500.0};
    EXPECT_EQ(arSearchRotation(R, nanT, camera.mat, points, observed, 4), -1.0);
    EXPECT_TRUE(R[0][0] == 1.0 && R[1][1] == -1.0 && R[2][2] == -1.0 && R[0][1] == 0.0);
    const double t[3] = {0.0, 0.0, 500.0};
    EXPECT_GE(arSearchRotation(R, t, camera.mat, points, observed, 4), 0.0);
}

// A continuing pose that cannot be computed (a previous pose of NaN) falls
// back to the first-frame method and takes its pose as it is.
TEST(PoseContract, FailedContinuationFallsBackToTheFreshPose) {
    const CameraParam camera = makeCamera(true);
    std::mt19937 rng(9);
    double truth[3][4], fresh[3][4], pose[3][4], broken[3][4];
    randomPose(rng, 0.6, truth);
    MarkerSquare square = squareOf(camera, truth);
    square.vertices[2].x += 0.25;
    square.edgeLines[1] = lineThrough(square.vertices[1], square.vertices[2]);
    square.edgeLines[2] = lineThrough(square.vertices[2], square.vertices[3]);
    const double freshErr = arMarkerPose(camera, square, ORIGIN, MARKER_WIDTH, fresh);
    ASSERT_GE(freshErr, 0.0);
    std::memcpy(broken, truth, sizeof broken);
    broken[1][1] = NAN;
    EXPECT_EQ(arMarkerPoseCont(camera, square, broken, ORIGIN, MARKER_WIDTH, pose), freshErr);
    EXPECT_TRUE(samePose(pose, fresh));
    EXPECT_EQ(arMarkerPoseFallback(camera, square, -1.0, ORIGIN, MARKER_WIDTH, pose), freshErr);
}

// Markers, centres, widths and cameras bent out of shape at random (huge,
// tiny, NaN and infinite values, points piled up): every call either fails
// with the pose untouched or returns a finite error and a finite pose.
TEST(PoseContract, AnyInputGivesAFinitePoseOrAFailure) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double odd[] = {NAN, INFINITY, -INFINITY, 1e300, -1e300, 1e-300, 0.0, 1e154};
    int succeeded = 0;
    for (int trial = 0; trial < 400; trial++) {
        CameraParam camera = makeCamera(trial % 2 == 1);
        double truth[3][4], previous[3][4];
        randomPose(rng, 1.2, truth);
        turnedPose(truth, 0.1, 0.1, previous);
        MarkerSquare square = squareOf(camera, truth);
        square.vertices[0].x += 0.25;
        square.edgeLines[0] = lineThrough(square.vertices[0], square.vertices[1]);
        ImagePoint centre = ORIGIN;
        double width = MARKER_WIDTH;
        for (int change = 0; change < 1 + trial % 3; change++) {
            const double v = odd[rng() % 8];
            switch (rng() % 6) {
                case 0:
                    (&square.vertices[0].x)[rng() % 8] = v;
                    break;
                case 1:
                    (&square.edgeLines[0].a)[rng() % 12] = v;
                    break;
                case 2:
                    (rng() % 2 ? centre.x : width) = v;
                    break;
                case 3:
                    camera.mat[rng() % 2][rng() % 4] = v;
                    break;
                case 4:
                    camera.distFactor[rng() % 4] = v;
                    break;
                default:
                    square.vertices[rng() % 4] = square.vertices[rng() % 4];
                    break;
            }
        }
        double pose[3][4] = {{7.0}};
        const double err = arMarkerPose(camera, square, centre, width, pose);
        EXPECT_TRUE(err < 0.0 ? pose[0][0] == 7.0 : std::isfinite(err) && finitePose(pose))
            << trial;
        double cont[3][4] = {{7.0}};
        const double contErr = arMarkerPoseCont(camera, square, previous, centre, width, cont);
        EXPECT_TRUE(contErr < 0.0 ? cont[0][0] == 7.0 : std::isfinite(contErr) && finitePose(cont))
            << trial;
        succeeded += err >= 0.0;
    }
    EXPECT_GT(succeeded, 40);  // the odd values did not make every call fail
}

}  // namespace
