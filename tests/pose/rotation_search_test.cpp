#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "pose/pose_refine.h"
#include "pose/rotation_angles.h"
#include "tests/pose/pose_scene.h"

namespace {

using namespace pose_scene;

bool sameRotation(const double A[3][3], const double B[3][3]) {
    return std::memcmp(A, B, sizeof(double[3][3])) == 0;
}

TEST(RotationAngles, RoundTripReproducesRotationAndAngles) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> turn(-PI, PI);
    std::uniform_real_distribution<double> tilt(1e-3, PI - 1e-3);
    for (int i = 0; i < 2000; i++) {
        double a = turn(rng), b = tilt(rng), c = turn(rng);
        double R[3][3], copy[3][3], back[3][3];
        arAnglesToRotation(a, b, c, R);
        std::memcpy(copy, R, sizeof copy);
        double a2, b2, c2;
        arRotationToAngles(copy, &a2, &b2, &c2);
        EXPECT_NEAR(std::remainder(a2 - a, 2 * PI), 0.0, 1e-9);
        EXPECT_NEAR(b2, b, 1e-9);
        EXPECT_NEAR(std::remainder(c2 - c, 2 * PI), 0.0, 1e-9);
        arAnglesToRotation(a2, b2, c2, back);
        for (int k = 0; k < 9; k++) {
            EXPECT_NEAR(back[k / 3][k % 3], R[k / 3][k % 3], 1e-10);
        }
    }
}

TEST(RotationAngles, IdentityTurnsAboutZAndClampedR22) {
    double a, b, c;
    for (double theta : {0.0, 0.3, -2.9, PI / 2}) {
        double R[3][3] = {{std::cos(theta), -std::sin(theta), 0},
                          {std::sin(theta), std::cos(theta), 0},
                          {0, 0, 1.0 + 1e-15}};
        arRotationToAngles(R, &a, &b, &c);
        EXPECT_EQ(R[2][2], 1.0);
        EXPECT_EQ(a, 0.0);
        EXPECT_EQ(b, 0.0);
        EXPECT_NEAR(c, theta, 1e-15);
    }
    // A zero sine keeps the angle positive: an exact half turn is +pi.
    double halfTurn[3][3] = {{-1, 0, 0}, {0, -1, 0}, {0, 0, 1}};
    arRotationToAngles(halfTurn, &a, &b, &c);
    EXPECT_EQ(c, PI);
}

// A z axis turned exactly round (b = pi) leaves only c - 2a determined; the
// angles must describe it rather than come out NaN from 0 / 0.
TEST(RotationAngles, ZAxisTurnedExactlyRoundIsDescribed) {
    for (double theta : {0.0, 0.4, -1.3, 3.0}) {
        double R[3][3] = {{-std::cos(theta), std::sin(theta), 0},
                          {std::sin(theta), std::cos(theta), 0},
                          {0, 0, -1.0 - 1e-15}};
        double a, b, c, back[3][3];
        arRotationToAngles(R, &a, &b, &c);
        EXPECT_EQ(a, 0.0);
        EXPECT_EQ(b, PI);
        arAnglesToRotation(a, b, c, back);
        for (int k = 0; k < 9; k++) {
            EXPECT_NEAR(back[k / 3][k % 3], R[k / 3][k % 3], 1e-15);
        }
    }
}

// Matrices a little off a rotation push cosines and sines past 1; the clamps
// keep every angle finite and in range.
TEST(RotationAngles, NearRotationsGiveAnglesInRange) {
    std::mt19937 rng(12);
    std::uniform_real_distribution<double> turn(-PI, PI);
    std::uniform_real_distribution<double> scale(0.97, 1.03);
    for (int i = 0; i < 2000; i++) {
        double R[3][3], a, b, c;
        arAnglesToRotation(turn(rng), std::fabs(turn(rng)), turn(rng), R);
        for (int k = 0; k < 9; k++) {
            R[k / 3][k % 3] *= scale(rng);
        }
        arRotationToAngles(R, &a, &b, &c);
        EXPECT_LE(std::fabs(a), PI);
        EXPECT_TRUE(b >= 0.0 && b <= PI);
        EXPECT_LE(std::fabs(c), PI);
    }
}

const double SQUARE[4][3] = {{-40, 40, 0}, {40, 40, 0}, {40, -40, 0}, {-40, -40, 0}};

class RotationSearch : public ::testing::Test {
  protected:
    // Random angles away from b = 0 and b = pi (where a and c blur into one),
    // as the search reads them back from their rotation R.
    void randomStart(double* a, double* b, double* c, double R[3][3]) {
        std::uniform_real_distribution<double> turn(-3.0, 3.0);
        std::uniform_real_distribution<double> tilt(1.0, 2.2);
        arAnglesToRotation(turn(rng), tilt(rng), turn(rng), R);
        double copy[3][3];
        std::memcpy(copy, R, sizeof copy);
        arRotationToAngles(copy, a, b, c);
    }

    void projectSquare(double a, double b, double c, ImagePoint points[4]) {
        double pose[3][4];
        makePose(a, b, c, t, pose);
        for (int i = 0; i < 4; i++) {
            points[i] = project(camera, pose, SQUARE[i][0], SQUARE[i][1]);
        }
    }

    CameraParam camera = makeCamera(false);
    std::mt19937 rng{31};
    const double t[3] = {12.0, -7.0, 520.0};
};

// With the best fit three quarters of the last sweep's step away from the
// start, the search keeps its centre and halves the step in each of the
// first nine sweeps; the tenth, at 10 degrees / 2^9, steps once. With the
// best fit at the start it keeps the centre throughout.
TEST_F(RotationSearch, HalvesItsStepInEverySweepThatKeepsTheCentre) {
    const double lastStep = SEARCH_START_STEP / 512.0;
    for (int i = 0; i < 100; i++) {
        double a, b, c, R[3][3], expected[3][3];
        randomStart(&a, &b, &c, R);
        double offset = i % 2 == 0 ? 0.0 : 0.75 * lastStep;
        ImagePoint observed[4];
        projectSquare(a, b, c + offset, observed);
        double err = arSearchRotation(R, t, camera.mat, SQUARE, observed, 4);
        arAnglesToRotation(a, b, offset == 0.0 ? c : c + lastStep, expected);
        EXPECT_TRUE(sameRotation(R, expected)) << i;
        EXPECT_LT(err, offset == 0.0 ? 1e-18 : 1e-3);
    }
}

// A single point at the object origin projects the same under every
// rotation: all 27 candidates tie, the first (-1, -1, -1) wins every sweep
// and the step never halves.
TEST_F(RotationSearch, TiesGoToTheCandidateEvaluatedFirst) {
    const double origin[1][3] = {{0.0, 0.0, 0.0}};
    const ImagePoint observed[1] = {{300.0, 200.0}};
    double a, b, c, R[3][3], expected[3][3];
    randomStart(&a, &b, &c, R);
    arSearchRotation(R, t, camera.mat, origin, observed, 1);
    for (int sweep = 0; sweep < SEARCH_SWEEPS; sweep++) {
        a += SEARCH_START_STEP * -1;
        b += SEARCH_START_STEP * -1;
        c += SEARCH_START_STEP * -1;
    }
    arAnglesToRotation(a, b, c, expected);
    EXPECT_TRUE(sameRotation(R, expected));
}

TEST_F(RotationSearch, ErrorsNeverBelowTheStartValueLeaveTheIdentity) {
    ImagePoint faraway[4] = {{1e6, 1e6}, {1e6, 1e6}, {1e6, 1e6}, {1e6, 1e6}};
    double a, b, c, R[3][3];
    randomStart(&a, &b, &c, R);
    EXPECT_EQ(arSearchRotation(R, t, camera.mat, SQUARE, faraway, 4), SEARCH_ERROR_START / 4);
    for (int k = 0; k < 9; k++) {
        EXPECT_EQ(R[k / 3][k % 3], k % 4 == 0 ? 1.0 : 0.0);
    }
}

// Object points around another centre give the same rotation and error, and
// the translation of the caller's origin, t + R * o for the centring offset o.
TEST(RefinePass, MovesTheTranslationBackToTheCallersOrigin) {
    CameraParam camera = makeCamera(true);
    std::mt19937 rng(32);
    for (int i = 0; i < 30; i++) {
        double truth[3][4], start[3][4];
        randomPose(rng, 0.8, truth);
        turnedPose(truth, 0.05, -0.05, start);
        MarkerSquare square = squareOf(camera, truth);
        double centred[4][2], shifted[4][2];
        for (int k = 0; k < 4; k++) {
            centred[k][0] = SQUARE[k][0];
            centred[k][1] = SQUARE[k][1];
            shifted[k][0] = SQUARE[k][0] + 16.0;
            shifted[k][1] = SQUARE[k][1] - 24.0;
        }
        double R1[3][3], R2[3][3], pose1[3][4], pose2[3][4];
        for (int r = 0; r < 3; r++) {
            std::memcpy(R1[r], start[r], sizeof R1[r]);
            std::memcpy(R2[r], start[r], sizeof R2[r]);
        }
        const double* dist = camera.distFactor;
        EXPECT_EQ(arRefinePose(R1, square.vertices, centred, 4, pose1, dist, camera.mat),
                  arRefinePose(R2, square.vertices, shifted, 4, pose2, dist, camera.mat));
        for (int r = 0; r < 3; r++) {
            EXPECT_TRUE(std::memcmp(pose1[r], pose2[r], 3 * sizeof(double)) == 0);
            EXPECT_EQ(pose2[r][3],
                      pose1[r][0] * -16.0 + pose1[r][1] * 24.0 + pose1[r][2] * -0.0 + pose1[r][3]);
        }
    }
}

TEST(RefinePass, RefusesPointCountsOutsideItsBuffers) {
    CameraParam camera = makeCamera(false);
    double R[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    double pose[3][4] = {{5.0}};
    static ImagePoint image[POSE_POINT_MAX + 1];
    static double object[POSE_POINT_MAX + 1][2];
    for (int n : {0, POSE_POINT_MAX + 1}) {
        EXPECT_EQ(arRefinePose(R, image, object, n, pose, camera.distFactor, camera.mat), -1.0);
        EXPECT_EQ(pose[0][0], 5.0);
    }
}

}  // namespace
