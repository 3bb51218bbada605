#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "pose/initial_rotation.h"
#include "pose/marker_pose.h"
#include "pose/pose_projection.h"
#include "pose/pose_refine.h"
#include "pose/rotation_angles.h"
#include "tests/pose/pose_scene.h"

namespace {

using namespace pose_scene;

constexpr ImagePoint ORIGIN = {0.0, 0.0};
const double SQUARE[4][2] = {{-40, 40}, {40, 40}, {40, -40}, {-40, -40}};

// Angle in radians of the rotation between two poses.
double rotationDifference(const Pose& a, const Pose& b) {
    double trace = 0.0;
    for (int i = 0; i < 9; i++)
        trace += a.m[i % 3][i / 3] * b.m[i % 3][i / 3];
    return std::acos(std::fmax(-1.0, std::fmin(1.0, (trace - 1.0) / 2.0)));
}

double distance(const Pose& a, const Pose& b) {
    return std::hypot(a.m[0][3] - b.m[0][3], a.m[1][3] - b.m[1][3], a.m[2][3] - b.m[2][3]);
}

// The passes stop below a mean squared error of one pixel, as close as the
// pose comes; the error given is that of the pose.
void expectFits(const CameraParam& camera, const PoseFit& fit, const Pose& truth) {
    ASSERT_TRUE(fit.ok());
    double sum = 0.0;
    for (int k = 0; k < 4; k++) {
        const ImagePoint p = projectCorner(camera, fit.pose, k),
                         q = projectCorner(camera, truth, k);
        sum += (p.x - q.x) * (p.x - q.x) + (p.y - q.y) * (p.y - q.y);
    }
    EXPECT_TRUE(fit.error >= 0.0 && fit.error < 1.0) << fit.error;
    EXPECT_NEAR(fit.error, sum / 4.0, 1e-7);
    EXPECT_LT(rotationDifference(fit.pose, truth), 8 * PI / 180);
    EXPECT_LT(distance(fit.pose, truth), 0.02 * truth.m[2][3]);
}

// Turns about z (the identity among them) with R22 just above 1 give a = b =
// 0; the z axis turned exactly round (b = pi) must not give NaN from 0 / 0.
// Near-rotations give angles in range.
TEST(RotationAngles, TurnsAboutZTheZAxisTurnedRoundAndNearRotations) {
    for (double theta : {0.0, 0.3, -2.9, PI / 2, 3.0}) {
        const double cs = std::cos(theta), sn = std::sin(theta);
        double a, b, c, back[3][3];
        const double Rz[3][3] = {{cs, -sn, 0}, {sn, cs, 0}, {0, 0, 1.0 + 1e-15}};
        arRotationToAngles(Rz, &a, &b, &c);
        EXPECT_TRUE(a == 0.0 && b == 0.0 && std::fabs(c - theta) < 1e-15) << theta;
        const double round[3][3] = {{-cs, sn, 0}, {sn, cs, 0}, {0, 0, -1.0 - 1e-15}};
        arRotationToAngles(round, &a, &b, &c);
        EXPECT_TRUE(a == 0.0 && b == PI) << theta;
        arAnglesToRotation(a, b, c, back);
        for (int k = 0; k < 9; k++)
            EXPECT_NEAR(back[k / 3][k % 3], round[k / 3][k % 3], 2e-15);
    }
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> turn(-PI, PI), scale(0.97, 1.03);
    for (int i = 0; i < 200; i++) {
        double a, b, c, R[3][3];
        arAnglesToRotation(turn(rng), turn(rng) / 2 + PI / 2, turn(rng), R);
        for (int k = 0; k < 9; k++)
            R[k / 3][k % 3] *= scale(rng);
        arRotationToAngles(R, &a, &b, &c);
        EXPECT_TRUE(std::fabs(a) <= PI && b >= 0.0 && b <= PI && std::fabs(c) <= PI) << i;
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
        const Pose truth = randomPose(rng, 50 * PI / 180);
        const Pose previous = turnedPose(truth, 0.04, -0.05);
        MarkerSquare square = squareOf(camera, truth), turned = square;
        for (int k = 0; k < 4 && !GetParam(); k++) {  // each side turned about its midpoint
            const ImagePoint p = square.vertices[k], q = square.vertices[(k + 1) % 4];
            const double angle = turn(rng), cs = std::cos(angle), sn = std::sin(angle);
            EdgeLine& line = square.edgeLines[k];
            line = {line.a * cs - line.b * sn, line.a * sn + line.b * cs, 0.0};
            line.c = -(line.a * (p.x + q.x) + line.b * (p.y + q.y)) / 2.0;
        }
        const PoseFit first = arMarkerPose(camera, square, ORIGIN, MARKER_WIDTH);
        const PoseFit cont = arMarkerPoseCont(camera, square, previous, ORIGIN, MARKER_WIDTH);
        expectFits(camera, first, truth);
        expectFits(camera, cont, truth);
        for (int d = 1; d < 4; d++) {
            turned.direction = d;
            for (int k = 0; k < 4; k++) {
                turned.vertices[(k + 4 - d) % 4] = square.vertices[k];
                turned.edgeLines[(k + 4 - d) % 4] = square.edgeLines[k];
            }
            const PoseFit again = arMarkerPose(camera, turned, ORIGIN, MARKER_WIDTH);
            EXPECT_TRUE(again.error == first.error && samePose(again.pose, first.pose)) << d;
            const PoseFit contAgain =
                arMarkerPoseCont(camera, turned, previous, ORIGIN, MARKER_WIDTH);
            EXPECT_TRUE(contAgain.error == cont.error && samePose(contAgain.pose, cont.pose)) << d;
        }
        const PoseFit moved = arMarkerPose(camera, square, {16.0, -24.0}, MARKER_WIDTH);
        EXPECT_EQ(moved.error, first.error);
        for (int r = 0; r < 3; r++) {
            const double* f = first.pose.m[r];
            EXPECT_EQ(std::memcmp(moved.pose.m[r], f, 3 * sizeof(double)), 0);
            EXPECT_EQ(moved.pose.m[r][3], f[0] * -16.0 + f[1] * 24.0 + f[2] * -0.0 + f[3]);
        }
        for (int k = i % 2; k < 4; k += 2) {
            EdgeLine& line = square.edgeLines[k];
            line = {-line.a, -line.b, -line.c};
        }
        const PoseFit flipped = arMarkerPose(camera, square, ORIGIN, MARKER_WIDTH);
        EXPECT_TRUE(flipped.error == first.error && samePose(flipped.pose, first.pose));
    }
}

INSTANTIATE_TEST_SUITE_P(Lens, MarkerPoseScene, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Distorted" : "Pinhole"; });

// The first-frame method runs only above an error of 1.0 and its fit is taken
// only when strictly better, for a marker fitting well and one fitting no
// pose within a pixel; after a continuing fit that failed (a previous pose of
// NaN) it is taken as it is; one that fails changes nothing.
TEST(ContinuousFallback, RunsOnlyAboveTheThresholdAndKeepsThePoseUnlessStrictlyBeaten) {
    CameraParam camera = makeCamera(true);
    std::mt19937 rng(43);
    const Pose truth = randomPose(rng, 0.6);
    MarkerSquare square = squareOf(camera, truth);
    const double somewhere[3] = {1.0, 2.0, 3.0};
    const Pose marked = makePose(0.1, 0.2, 0.3, somewhere);
    auto fallback = [&](const PoseFit& continued) {
        return arMarkerPoseFallback(camera, square, continued, ORIGIN, MARKER_WIDTH);
    };
    auto same = [](const PoseFit& a, const PoseFit& b) {
        return a.status == b.status && a.error == b.error && samePose(a.pose, b.pose);
    };
    const PoseFit broke = poseFailure(PoseStatus::BrokeDown);
    for (bool poor : {false, true}) {
        square.vertices[2].x += poor ? 6.0 : 0.0;
        const PoseFit fresh = arMarkerPose(camera, square, ORIGIN, MARKER_WIDTH);
        ASSERT_TRUE(fresh.ok() && (fresh.error > POSE_CONT_ERROR_MAX) == poor) << fresh.error;
        const double kept = poor ? fresh.error : 1.0, beaten = std::nextafter(kept, 2.0 * kept);
        EXPECT_TRUE(same(fallback({PoseStatus::Ok, marked, kept}), {PoseStatus::Ok, marked, kept}));
        EXPECT_TRUE(same(fallback({PoseStatus::Ok, marked, beaten}), fresh));
        EXPECT_TRUE(same(fallback(broke), fresh));
        Pose broken = truth;
        broken.m[1][1] = NAN;
        EXPECT_TRUE(same(arMarkerPoseCont(camera, square, broken, ORIGIN, MARKER_WIDTH), fresh));
    }
    square.edgeLines[3] = square.edgeLines[1];  // no vanishing direction
    EXPECT_TRUE(same(fallback({PoseStatus::Ok, marked, 50.0}), {PoseStatus::Ok, marked, 50.0}));
    EXPECT_EQ(fallback(broke).status, PoseStatus::BrokeDown);
}

// A small or far square fits two poses. A refined fit continued on the
// wrong one gives way to its mirror where that fits the corners four times
// better (exactly, or ten times better with a corner moved); not where it
// fits only 2.5 times better, nor where both fit within 0.05 squared pixels
// (the farthest square); never in the plain fit.
TEST(ContinuousFallback, ARefinedFitOnTheWrongPoseOfTwoGivesWayToItsMirror) {
    const struct {
        double distance, tilt, moved;
        bool givesWay;
    } cases[] = {{900, 0.25, 0.6, true},
                 {1500, 0.35, 0.0, true},
                 {1500, 0.35, 0.8, false},
                 {2500, 0.5, 0.0, false}};
    const CameraParam camera = makeCamera(false);
    const auto degrees = [](const Pose& a, const Pose& b) {
        return arPoseTurnBetween(a, b) * 180.0 / PI;
    };
    for (const auto& c : cases) {
        const double t[3] = {40, -30, c.distance};
        const Pose truth = makePose(0.3, PI - c.tilt, 0.7, t);
        MarkerSquare square = squareOf(camera, truth);
        square.vertices[0].x += c.moved;
        square.vertices[0].y -= c.moved;
        for (int k = 0; k < 4; k++)
            square.edgeLines[k] = lineThrough(square.vertices[k], square.vertices[(k + 1) % 4]);
        const PoseFit right = arMarkerPose(camera, square, ORIGIN, MARKER_WIDTH, {true});
        const PoseFit wrong =
            arMarkerPoseMirror(camera, square, right.pose, ORIGIN, MARKER_WIDTH, {true});
        ASSERT_TRUE(right.ok() && wrong.ok() && degrees(wrong.pose, truth) > 20.0);
        const PoseFit refined =
            arMarkerPoseCont(camera, square, wrong.pose, ORIGIN, MARKER_WIDTH, {true});
        const PoseFit plain = arMarkerPoseCont(camera, square, wrong.pose, ORIGIN, MARKER_WIDTH);
        ASSERT_TRUE(refined.ok() && plain.ok()) << c.distance;
        EXPECT_LT(degrees(refined.pose, c.givesWay ? right.pose : wrong.pose), 0.05)
            << c.distance << ", errors " << right.error << " and " << wrong.error;
        EXPECT_GT(degrees(plain.pose, truth), 10.0) << c.distance;
    }
}

// Corners and sides exactly where the pinhole camera puts them (ideal
// coordinates, whatever the lens): the refined fit finds the true pose to
// rounding, first frame and continuing, through a distorted camera too. The
// plain fit through the pinhole camera either has no start (rounding decides
// whether a discriminant of these exactly perpendicular vanishing directions
// falls below zero) or is exact; the refined one then starts from the
// bisecting start.
TEST(RefinedFit, RecoversTheTruePoseFromIdealCorners) {
    std::mt19937 rng(52);
    for (const bool distorted : {false, true}) {
        const CameraParam camera = makeCamera(distorted);
        int plainFailed = 0;  // poses the plain start could not give
        for (int i = 0; i < 60; i++) {
            const Pose truth = randomPose(rng, 60 * PI / 180);
            const Pose previous = turnedPose(truth, 0.05, -0.04);
            MarkerSquare square{};
            for (int k = 0; k < 4; k++)
                square.vertices[k] = projectCorner(camera, truth, k);
            for (int k = 0; k < 4; k++)
                square.edgeLines[k] = lineThrough(square.vertices[k], square.vertices[(k + 1) % 4]);
            const PoseFit plain = arMarkerPose(camera, square, ORIGIN, MARKER_WIDTH);
            plainFailed += plain.status == PoseStatus::NoStart;
            EXPECT_TRUE(distorted || !plain.ok() ||
                        (plain.error < 1e-6 && rotationDifference(plain.pose, truth) < 1e-5));
            const PoseFit first = arMarkerPose(camera, square, ORIGIN, MARKER_WIDTH, {true});
            const PoseFit cont =
                arMarkerPoseCont(camera, square, previous, ORIGIN, MARKER_WIDTH, {true});
            for (const PoseFit& fit : {first, cont}) {
                ASSERT_TRUE(fit.ok()) << i;
                EXPECT_LT(fit.error, 1e-12);
                EXPECT_LT(rotationDifference(fit.pose, truth), 1e-7) << i;
                EXPECT_LT(distance(fit.pose, truth), 1e-7 * truth.m[2][3]) << i;
            }
        }
        EXPECT_TRUE(plainFailed > 0 && plainFailed < 60) << plainFailed;
    }
}

// The polish starts from a pose a degree and a few units off and ends at the
// pose the points were made from; it refuses point counts outside its
// buffers and points behind the camera.
TEST(PolishPose, ConvergesFromNearbyAndRefusesWhatItCannotUse) {
    const CameraParam camera = makeCamera(false);
    const double t[3] = {20.0, -15.0, 500.0};
    const Pose truth = makePose(0.3, PI - 0.5, -1.1, t);
    ImagePoint image[4];
    for (int k = 0; k < 4; k++)
        image[k] = projectCorner(camera, truth, k);
    Pose start = turnedPose(truth, 0.02, -0.015);
    start.m[0][3] = 24.0;
    start.m[1][3] = -11.0;
    start.m[2][3] = 520.0;
    const PoseFit fit = arPolishPose(image, SQUARE, 4, camera.mat, start);
    ASSERT_TRUE(fit.ok());
    EXPECT_LT(fit.error, 1e-16);
    EXPECT_LT(rotationDifference(fit.pose, truth), 1e-9);
    EXPECT_NEAR(fit.pose.m[2][3], 500.0, 1e-7);
    EXPECT_EQ(arPolishPose(image, SQUARE, 0, camera.mat, start).status, PoseStatus::BadPointCount);
    start.m[2][3] = -500.0;
    EXPECT_EQ(arPolishPose(image, SQUARE, 4, camera.mat, start).status, PoseStatus::BrokeDown);
}

// Focal lengths so small that the translation fit's normal equations have no
// usable pivot, and one image point four times over: the fit is singular and
// breaks down (it used to go on with a partly inverted matrix and report a
// NaN pose). Point counts outside the passes' arrays are refused.
TEST(PoseContract, SingularFitsBreakDownAndPointCountsAreChecked) {
    const CameraParam camera = makeCamera(false);
    std::mt19937 rng(7);
    const Pose truth = randomPose(rng, 0.5);
    MarkerSquare square = squareOf(camera, truth);
    square.vertices[0].x += 0.25;  // a side off the exact projection: the first rotation exists
    square.edgeLines[0] = lineThrough(square.vertices[0], square.vertices[1]);
    CameraParam tiny = camera;
    tiny.mat[0][0] = tiny.mat[1][1] = 1e-12;
    tiny.mat[0][1] = 0.0;
    double R[3][3];
    ASSERT_EQ(arInitialRotation(square, tiny.mat, R), PoseStatus::Ok);
    EXPECT_EQ(arMarkerPose(tiny, square, ORIGIN, MARKER_WIDTH).status, PoseStatus::BrokeDown);
    EXPECT_EQ(arMarkerPoseCont(tiny, square, truth, ORIGIN, MARKER_WIDTH).status,
              PoseStatus::BrokeDown);
    const ImagePoint same[4] = {{300, 200}, {300, 200}, {300, 200}, {300, 200}};
    EXPECT_EQ(arRefinePose(R, same, SQUARE, 4, camera.distFactor, camera.mat).status,
              PoseStatus::BrokeDown);
    static ImagePoint image[POSE_POINT_MAX + 1];
    static double object[POSE_POINT_MAX + 1][2];
    for (int n : {0, POSE_POINT_MAX + 1})
        EXPECT_EQ(arRefinePose(R, image, object, n, camera.distFactor, camera.mat).status,
                  PoseStatus::BadPointCount);
}

}  // namespace

// A camera matrix with a translation column: a marker point lands where the
// composed projection, the plane's homography and the camera's own projection
// of the moved point all put it (here by hand: (500 X + 320 Z + 30) / Z,
// (500 Y + 240 Z - 20) / Z), and the lens model then moves it.
TEST(PoseProjection, ThePathsToTheImageAgreeAndKeepTheTranslationColumn) {
    CameraParam camera = {
        640, 480, {{500, 0, 320, 30}, {0, 500, 240, -20}, {0, 0, 1, 0}}, {320, 240, 40, 1}};
    const double still[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, ahead[3] = {0, 0, 100};
    const double point[3] = {10, -4, 0};
    const MarkerPointView straight = arViewMarkerPoint(camera, arPoseOf(still, ahead), point);
    EXPECT_NEAR(straight.ideal.x, 370.3, 1e-12);
    EXPECT_NEAR(straight.ideal.y, 219.8, 1e-12);
    EXPECT_EQ(straight.depth, 100.0);
    double ox, oy;
    arIdealToObserved(camera.distFactor, 370.3, 219.8, &ox, &oy);
    EXPECT_NEAR(straight.observed.x - ox, 0.0, 1e-12);
    const Pose pose = makePose(0.4, 2.7, -1.1, ahead);
    const MarkerPointView view = arViewMarkerPoint(camera, pose, point);
    double M[3][4], H[3][3];
    arPoseProjection(camera.mat, pose, M);
    arPlaneHomography(camera.mat, pose, H);
    for (int j = 0; j < 2; j++) {
        const double viaM =
            (M[j][0] * 10 - M[j][1] * 4 + M[j][3]) / (M[2][0] * 10 - M[2][1] * 4 + M[2][3]);
        const double viaH =
            (H[j][0] * 10 - H[j][1] * 4 + H[j][2]) / (H[2][0] * 10 - H[2][1] * 4 + H[2][2]);
        EXPECT_NEAR(viaM, j == 0 ? view.ideal.x : view.ideal.y, 1e-9);
        EXPECT_NEAR(viaH, viaM, 1e-12);
    }
}
