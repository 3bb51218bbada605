#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "pose/marker_pose.h"
#include "pose/pose_refine.h"
#include "pose/rotation_angles.h"
#include "tests/pose/pose_scene.h"

namespace {

using namespace pose_scene;

constexpr ImagePoint ORIGIN = {0.0, 0.0};

// Angle in radians of the rotation between two poses.
double rotationDifference(const double A[3][4], const double B[3][4]) {
    double trace = 0.0;
    for (int i = 0; i < 9; i++) {
        trace += A[i % 3][i / 3] * B[i % 3][i / 3];
    }
    return std::acos(std::fmax(-1.0, std::fmin(1.0, (trace - 1.0) / 2.0)));
}

// The passes stop below a mean squared error of one pixel, as close as the pose
// comes; the error returned is that of the pose.
void expectFits(const CameraParam& camera, double err, const double pose[3][4],
                const double truth[3][4]) {
    double sum = 0.0;
    for (int k = 0; k < 4; k++) {
        ImagePoint p = projectCorner(camera, pose, k), q = projectCorner(camera, truth, k);
        sum += (p.x - q.x) * (p.x - q.x) + (p.y - q.y) * (p.y - q.y);
    }
    EXPECT_TRUE(err >= 0.0 && err < 1.0) << err;
    EXPECT_NEAR(err, sum / 4.0, 1e-7);
    EXPECT_LT(rotationDifference(pose, truth), 8 * PI / 180);
    const double moved[3] = {pose[0][3] - truth[0][3], pose[1][3] - truth[1][3],
                             pose[2][3] - truth[2][3]};
    EXPECT_LT(std::hypot(moved[0], moved[1], moved[2]), 0.02 * truth[2][3]);
}

// Round trips; the clamps keep angles of near-rotations finite and in range.
TEST(RotationAngles, RoundTripAndNearRotationsGiveAnglesInRange) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> turn(-PI, PI), tilt(1e-3, PI - 1e-3), scale(0.97, 1.03);
    for (int i = 0; i < 2000; i++) {
        double a = turn(rng), b = tilt(rng), c = turn(rng), a2, b2, c2, R[3][3], copy[3][3],
               back[3][3];
        arAnglesToRotation(a, b, c, R);
        std::memcpy(copy, R, sizeof copy);
        arRotationToAngles(copy, &a2, &b2, &c2);
        EXPECT_NEAR(std::remainder(a2 - a, 2 * PI), 0.0, 1e-9);
        EXPECT_NEAR(b2, b, 1e-9);
        EXPECT_NEAR(std::remainder(c2 - c, 2 * PI), 0.0, 1e-9);
        arAnglesToRotation(a2, b2, c2, back);
        for (int k = 0; k < 9; k++) {
            EXPECT_NEAR(back[k / 3][k % 3], R[k / 3][k % 3], 1e-10);
            copy[k / 3][k % 3] = R[k / 3][k % 3] * scale(rng);
        }
        arRotationToAngles(copy, &a2, &b2, &c2);
        EXPECT_TRUE(std::fabs(a2) <= PI && b2 >= 0.0 && b2 <= PI && std::fabs(c2) <= PI) << i;
    }
}

// Turns about z (the identity among them) with R22 clamped from 1 + 1e-15; the
// z axis turned exactly round (b = pi) must not give NaN from 0 / 0.
TEST(RotationAngles, TurnsAboutZAndTheZAxisTurnedRound) {
    for (double theta : {0.0, 0.3, -2.9, PI / 2, 3.0}) {
        const double cs = std::cos(theta), sn = std::sin(theta);
        double a, b, c, back[3][3], Rz[3][3] = {{cs, -sn, 0}, {sn, cs, 0}, {0, 0, 1.0 + 1e-15}};
        arRotationToAngles(Rz, &a, &b, &c);
        EXPECT_TRUE(Rz[2][2] == 1.0 && a == 0.0 && b == 0.0) << theta;
        EXPECT_NEAR(c, theta, 1e-15);
        double round[3][3] = {{-cs, sn, 0}, {sn, cs, 0}, {0, 0, -1.0 - 1e-15}};
        arRotationToAngles(round, &a, &b, &c);
        EXPECT_TRUE(a == 0.0 && b == PI) << theta;
        arAnglesToRotation(a, b, c, back);
        for (int k = 0; k < 9; k++) {
            EXPECT_NEAR(back[k / 3][k % 3], round[k / 3][k % 3], 1e-15);
        }
    }
}

// The search halves its step (from SEARCH_START_STEP = s) after each sweep
// that keeps the centre, also when only c moved. With the best fit at the
// start it keeps the centre throughout; 3/4 of the last step (s / 512) away,
// it keeps the centre in the first nine sweeps and steps once in the tenth.
// With the best fit 1.4 s away in c alone (d = +1 or -1) it must: move d s
// and keep s; keep the centre (s/2); move d s/2; keep it twice (s/4, s/8);
// move -d s/8; keep it twice; move d s/32; keep it. Halving after a sweep that
// moved only c, or not halving after one that kept the centre, ends elsewhere.
TEST(RotationSearch, HalvesItsStepExactlyAfterTheSweepsThatKeepTheCentre) {
    const double square[4][3] = {{-40, 40, 0}, {40, 40, 0}, {40, -40, 0}, {-40, -40, 0}};
    const double t[3] = {12.0, -7.0, 520.0}, s = SEARCH_START_STEP, last = s / 512.0;
    // The best fit's offset in c, and the steps the search takes (added in turn, as it does).
    const std::vector<double> cases[4] = {{0.0},
                                          {0.75 * last, last},
                                          {1.4 * s, s, s / 2, -s / 8, s / 32},
                                          {-1.4 * s, -s, -s / 2, s / 8, -s / 32}};
    const CameraParam camera = makeCamera(false);
    std::mt19937 rng(32);
    std::uniform_real_distribution<double> turn(-2.5, 2.5), tilt(1.2, 2.0);
    for (int i = 0; i < 60; i++) {
        const std::vector<double>& steps = cases[i % 4];
        double a, b, c, R[3][3], copy[3][3], expected[3][3], pose[3][4];
        arAnglesToRotation(turn(rng), tilt(rng), turn(rng), R);
        std::memcpy(copy, R, sizeof copy);
        arRotationToAngles(copy, &a, &b, &c);  // the angles the search starts from
        makePose(a, b, c + steps[0], t, pose);
        ImagePoint observed[4];
        for (int k = 0; k < 4; k++)
            observed[k] = projectCorner(camera, pose, k);
        const double err = arSearchRotation(R, t, camera.mat, square, observed, 4);
        double end = c;
        for (size_t k = 1; k < steps.size(); k++)
            end += steps[k];
        arAnglesToRotation(a, b, end, expected);
        EXPECT_EQ(std::memcmp(R, expected, sizeof R), 0) << i;
        EXPECT_LT(err, i % 4 == 0 ? 1e-18 : i % 4 == 1 ? 1e-3 : INFINITY);
    }
}

TEST(RefinePass, RefusesPointCountsOutsideItsBuffers) {
    static ImagePoint image[POSE_POINT_MAX + 1];
    static double object[POSE_POINT_MAX + 1][2], R[3][3] = {{5.0}}, pose[3][4] = {{5.0}};
    const CameraParam camera = makeCamera(false);
    for (int n : {0, POSE_POINT_MAX + 1}) {
        EXPECT_EQ(arRefinePose(R, image, object, n, pose, camera.distFactor, camera.mat), -1.0);
        EXPECT_TRUE(R[0][0] == 5.0 && pose[0][0] == 5.0);
    }
}

class MarkerPoseScene : public ::testing::TestWithParam<bool> {};

// Random markers, with lens distortion or with sides turned a little (exactly
// perpendicular vanishing directions are a case of their own, below). Both
// poses fit; renumbered for direction 1, 2, 3 or with opposite sides' signs
// flipped, the same pose; centred at c, the translation moves by -R c.
TEST_P(MarkerPoseScene, PosesFitRandomMarkersWhateverTheNumberingSignsAndCentre) {
    const CameraParam camera = makeCamera(GetParam());
    std::mt19937 rng(41);
    std::uniform_real_distribution<double> turn(-0.2 * PI / 180, 0.2 * PI / 180);
    for (int i = 0; i < 200; i++) {
        double truth[3][4], previous[3][4], first[3][4], cont[3][4], pose[3][4];
        randomPose(rng, 50 * PI / 180, truth);
        MarkerSquare square = squareOf(camera, truth), turned = square;
        for (int k = 0; k < 4 && !GetParam(); k++) {  // each side turned about its midpoint
            const ImagePoint p = square.vertices[k], q = square.vertices[(k + 1) % 4];
            const double angle = turn(rng), cs = std::cos(angle), sn = std::sin(angle);
            EdgeLine& line = square.edgeLines[k];
            line = {line.a * cs - line.b * sn, line.a * sn + line.b * cs, 0.0};
            line.c = -(line.a * (p.x + q.x) + line.b * (p.y + q.y)) / 2.0;
        }
        turnedPose(truth, 0.04, -0.05, previous);
        const double err = arMarkerPose(camera, square, ORIGIN, MARKER_WIDTH, first);
        const double contErr =
            arMarkerPoseCont(camera, square, previous, ORIGIN, MARKER_WIDTH, cont);
        expectFits(camera, err, first, truth);
        expectFits(camera, contErr, cont, truth);
        for (int d = 1; d < 4; d++) {
            turned.direction = d;
            for (int k = 0; k < 4; k++) {
                turned.vertices[(k + 4 - d) % 4] = square.vertices[k];
                turned.edgeLines[(k + 4 - d) % 4] = square.edgeLines[k];
            }
            EXPECT_EQ(arMarkerPose(camera, turned, ORIGIN, MARKER_WIDTH, pose), err);
            EXPECT_TRUE(samePose(pose, first)) << "direction " << d;
            EXPECT_EQ(arMarkerPoseCont(camera, turned, previous, ORIGIN, MARKER_WIDTH, pose),
                      contErr);
            EXPECT_TRUE(samePose(pose, cont)) << "direction " << d;
        }
        EXPECT_EQ(arMarkerPose(camera, square, {16.0, -24.0}, MARKER_WIDTH, pose), err);
        for (int r = 0; r < 3; r++) {
            EXPECT_EQ(std::memcmp(pose[r], first[r], 3 * sizeof(double)), 0);
            EXPECT_EQ(pose[r][3],
                      first[r][0] * -16.0 + first[r][1] * 24.0 + first[r][2] * -0.0 + first[r][3]);
        }
        EXPECT_EQ(arMarkerPoseCont(camera, square, previous, ORIGIN, MARKER_WIDTH, previous),
                  contErr);
        EXPECT_TRUE(samePose(previous, cont));  // one stored pose passed as both arrays
        for (int k = i % 2; k < 4; k += 2) {
            EdgeLine& line = square.edgeLines[k];
            line = {-line.a, -line.b, -line.c};
        }
        EXPECT_EQ(arMarkerPose(camera, square, ORIGIN, MARKER_WIDTH, pose), err);
        EXPECT_TRUE(samePose(pose, first));
    }
}

INSTANTIATE_TEST_SUITE_P(Lens, MarkerPoseScene, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Distorted" : "Pinhole"; });

// Two cameras used alternately each give their own (different) poses, so no
// call leaves state behind for the next. The Pose overloads are the same
// functions.
TEST(ExplicitCamera, CamerasAlternateWithoutSharingState) {
    CameraParam cameras[2] = {makeCamera(false), makeCamera(true)};
    cameras[1].mat[0][0] = 760.0;
    cameras[1].mat[1][1] = 745.0;
    std::mt19937 rng(44);
    for (int i = 0; i < 30; i++) {
        double truth[3][4], previous[3][4], first[2][3][4], cont[2][3][4], pose[3][4];
        double err[2], contErr[2];
        randomPose(rng, 50 * PI / 180, truth);
        turnedPose(truth, 0.04, -0.05, previous);
        MarkerSquare square = squareOf(cameras[i % 2], truth);
        square.vertices[0].x += 0.25;  // exact sides may fail the initial rotation (below)
        square.edgeLines[0] = lineThrough(square.vertices[0], square.vertices[1]);
        square.edgeLines[3] = lineThrough(square.vertices[3], square.vertices[0]);
        for (int c = 0; c < 2; c++) {
            err[c] = arMarkerPose(cameras[c], square, ORIGIN, MARKER_WIDTH, first[c]);
            contErr[c] =
                arMarkerPoseCont(cameras[c], square, previous, ORIGIN, MARKER_WIDTH, cont[c]);
            ASSERT_TRUE(err[c] >= 0.0 && contErr[c] >= 0.0) << i;
        }
        EXPECT_FALSE(samePose(first[0], first[1]));
        EXPECT_FALSE(samePose(cont[0], cont[1]));
        for (int round = 0; round < 4; round++) {
            const int c = round % 2;
            EXPECT_EQ(arMarkerPose(cameras[c], square, ORIGIN, MARKER_WIDTH, pose), err[c]);
            EXPECT_TRUE(samePose(pose, first[c])) << i << " camera " << c;
            EXPECT_EQ(arMarkerPoseCont(cameras[c], square, previous, ORIGIN, MARKER_WIDTH, pose),
                      contErr[c]);
            EXPECT_TRUE(samePose(pose, cont[c])) << i << " camera " << c;
        }
        Pose value, before;
        std::memcpy(before.m, previous, sizeof before.m);
        EXPECT_EQ(arMarkerPose(cameras[1], square, ORIGIN, MARKER_WIDTH, value), err[1]);
        EXPECT_TRUE(samePose(value.m, first[1]));
        EXPECT_EQ(arMarkerPoseCont(cameras[1], square, before, ORIGIN, MARKER_WIDTH, value),
                  contErr[1]);
        EXPECT_TRUE(samePose(value.m, cont[1]));
    }
}

// Exact sides through a pinhole camera: rounding decides whether a discriminant
// falls below zero, failing the initial rotation (the pose left alone), or the
// true rotation comes out (to the square-root precision of a near-zero one).
TEST(MarkerPoseExact, PerpendicularVanishingDirectionsEitherFailOrAreExact) {
    CameraParam camera = makeCamera(false);
    std::mt19937 rng(42);
    int failed = 0;
    for (int i = 0; i < 100; i++) {
        double truth[3][4], pose[3][4] = {{7.0}};
        randomPose(rng, 50 * PI / 180, truth);
        double err = arMarkerPose(camera, squareOf(camera, truth), ORIGIN, MARKER_WIDTH, pose);
        failed += err == -1.0;
        EXPECT_TRUE(err == -1.0 ? pose[0][0] == 7.0
                                : err < 1e-6 && rotationDifference(pose, truth) < 1e-5)
            << i;
    }
    EXPECT_TRUE(failed > 0 && failed < 100) << failed;
}

// The first-frame method runs only above an error of 1.0 and its pose is taken
// only when strictly better, for a marker fitting well and one fitting no pose
// within a pixel; one that fails changes nothing.
TEST(ContinuousFallback, RunsOnlyAboveTheThresholdAndKeepsThePoseUnlessStrictlyBeaten) {
    CameraParam camera = makeCamera(true);
    std::mt19937 rng(43);
    double truth[3][4], fresh[3][4], pose[3][4];
    randomPose(rng, 0.6, truth);
    MarkerSquare square = squareOf(camera, truth);
    for (bool poor : {false, true}) {
        square.vertices[2].x += poor ? 6.0 : 0.0;
        const double freshErr = arMarkerPose(camera, square, ORIGIN, MARKER_WIDTH, fresh);
        ASSERT_TRUE(freshErr >= 0.0 && (freshErr > POSE_CONT_ERROR_MAX) == poor) << freshErr;
        const double kept = poor ? freshErr : 1.0, beaten = std::nextafter(kept, 2.0 * kept);
        pose[0][0] = 7.0;
        EXPECT_EQ(arMarkerPoseFallback(camera, square, kept, ORIGIN, MARKER_WIDTH, pose), kept);
        EXPECT_EQ(pose[0][0], 7.0);
        EXPECT_EQ(arMarkerPoseFallback(camera, square, beaten, ORIGIN, MARKER_WIDTH, pose),
                  freshErr);
        EXPECT_TRUE(samePose(pose, fresh));
    }
    square.edgeLines[3] = square.edgeLines[1];  // no vanishing direction
    pose[0][0] = 7.0;
    EXPECT_EQ(arMarkerPoseFallback(camera, square, 50.0, ORIGIN, MARKER_WIDTH, pose), 50.0);
    EXPECT_EQ(pose[0][0], 7.0);
}

// Corners and sides exactly where the pinhole camera puts them (ideal
// coordinates, whatever the lens): the refined fit finds the true pose to
// rounding, first frame and continuing, through a distorted camera too, also
// where the plain start fails; the default settings give the plain fit bit
// for bit.
TEST(RefinedFit, RecoversTheTruePoseFromIdealCornersAndTheDefaultIsThePlainFit) {
    std::mt19937 rng(52);
    for (const bool distorted : {false, true}) {
        const CameraParam camera = makeCamera(distorted);
        int plainFailed = 0;  // poses the plain start could not give
        for (int i = 0; i < 60; i++) {
            double truth[3][4], previous[3][4], pose[3][4], plain[3][4], other[3][4];
            randomPose(rng, 60 * PI / 180, truth);
            turnedPose(truth, 0.05, -0.04, previous);
            MarkerSquare square{};
            for (int k = 0; k < 4; k++) {
                square.vertices[k] = projectCorner(camera, truth, k);
            }
            for (int k = 0; k < 4; k++) {
                square.edgeLines[k] = lineThrough(square.vertices[k], square.vertices[(k + 1) % 4]);
            }
            const double plainErr = arMarkerPose(camera, square, ORIGIN, MARKER_WIDTH, plain);
            EXPECT_EQ(arMarkerPose(camera, square, ORIGIN, MARKER_WIDTH, other, PoseSettings{}),
                      plainErr);
            if (plainErr >= 0.0) {
                EXPECT_TRUE(samePose(other, plain));
            }
            const double err =
                arMarkerPose(camera, square, ORIGIN, MARKER_WIDTH, pose, PoseSettings{true});
            // Exact sides can fail the plain start (above); the refined fit then
            // starts from the bisecting one and never fails.
            ASSERT_GE(err, 0.0) << i;
            EXPECT_LT(err, 1e-12);
            plainFailed += plainErr < 0.0;
            const double contErr = arMarkerPoseCont(camera, square, previous, ORIGIN, MARKER_WIDTH,
                                                    other, PoseSettings{true});
            for (const auto* fit : {&pose, &other}) {
                EXPECT_LT(rotationDifference(*fit, truth), 1e-7) << i;
                const double moved =
                    std::hypot((*fit)[0][3] - truth[0][3], (*fit)[1][3] - truth[1][3],
                               (*fit)[2][3] - truth[2][3]);
                EXPECT_LT(moved, 1e-7 * truth[2][3]) << i;
            }
            EXPECT_LT(contErr, 1e-12);
        }
        EXPECT_GT(plainFailed, 0);  // the case of the bisecting start did come up
    }
}

// The polish starts from a pose a degree and a few units off and ends at the
// pose the points were made from; it refuses point counts outside its
// buffers and points behind the camera, leaving the pose alone.
TEST(PolishPose, ConvergesFromNearbyAndRefusesWhatItCannotUse) {
    const CameraParam camera = makeCamera(false);
    double truth[3][4], pose[3][4];
    const double t[3] = {20.0, -15.0, 500.0};
    makePose(0.3, PI - 0.5, -1.1, t, truth);
    ImagePoint image[4];
    const double object[4][2] = {{-40, 40}, {40, 40}, {40, -40}, {-40, -40}};
    for (int k = 0; k < 4; k++) {
        image[k] = projectCorner(camera, truth, k);
    }
    turnedPose(truth, 0.02, -0.015, pose);
    pose[0][3] = 24.0;
    pose[1][3] = -11.0;
    pose[2][3] = 520.0;
    EXPECT_LT(arPolishPose(image, object, 4, camera.mat, pose), 1e-16);
    EXPECT_LT(rotationDifference(pose, truth), 1e-9);
    EXPECT_NEAR(pose[2][3], 500.0, 1e-7);
    double before[3][4];
    std::memcpy(before, pose, sizeof before);
    EXPECT_EQ(arPolishPose(image, object, 0, camera.mat, pose), -1.0);
    pose[2][3] = -500.0;
    std::memcpy(before, pose, sizeof before);
    EXPECT_EQ(arPolishPose(image, object, 4, camera.mat, pose), -1.0);
    EXPECT_TRUE(samePose(pose, before));
}

}  // namespace
