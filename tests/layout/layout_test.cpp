// The layout's geometry on exact scenes: the mirror pose of a small far
// square, the links' choice between poses by agreement across views, and a
// marker its frames place loosely.

#include <gtest/gtest.h>

#include <algorithm>

#include "layout/layout_adjust.h"
#include "layout/layout_links.h"
#include "pose/marker_pose.h"
#include "tests/pose/pose_scene.h"

namespace {

using namespace pose_scene;

// The further a square, the more nearly its mirror fits its corners; both
// fits end at the corners, one of them at the truth.
TEST(MarkerPoseMirror, ASmallFarSquareHasAMirrorThatFitsItsCornersAlmostAsWell) {
    const struct {
        double distance, tilt, mirrorTurnLeast, mirrorErrorMost;
    } cases[] = {{2500, 0.5, 45, 0.05}, {1500, 0.35, 30, 0.25}, {900, 0.25, 20, 1.1}};
    for (const auto& c : cases) {
        const double t[3] = {40, -30, c.distance};
        const Pose truth = makePose(0.3, PI - c.tilt, 0.7, t);
        const CameraParam camera = makeCamera(false);
        const MarkerSquare square = squareOf(camera, truth);
        const PoseFit fit = arMarkerPose(camera, square, {0, 0}, MARKER_WIDTH, {true});
        const PoseFit mirror =
            arMarkerPoseMirror(camera, square, fit.pose, {0, 0}, MARKER_WIDTH, {true});
        ASSERT_TRUE(fit.ok() && mirror.ok()) << c.distance;
        EXPECT_LT(
            std::min(turnBetweenDegrees(fit.pose, truth), turnBetweenDegrees(mirror.pose, truth)),
            1e-3)
            << c.distance;
        EXPECT_GT(turnBetweenDegrees(mirror.pose, fit.pose), c.mirrorTurnLeast) << c.distance;
        EXPECT_LT(mirror.error, c.mirrorErrorMost) << c.distance;  // squared pixels
    }
}

// Three markers, seen by cameras about them: 0 and 1 together in every frame,
// 1 and 2 in frames `shared` only; in frames `fooled` every marker's first
// pose is a wrong one (a turn that differs frame by frame) with the smaller
// error: the pose other frames agree with wins, and in a pair seen once, the
// poses with the smaller errors.
TEST(LinkMarkers, AgreementAcrossViewsAndThenTheErrorChooseEachMarkersPose) {
    const struct {
        int frames, shared;
        std::vector<int> fooled;
    } cases[] = {{6, 6, {0, 2, 4}}, {6, 1, {1, 2, 3}}, {5, 2, {0, 1}}};
    for (const auto& c : cases) {
        const double places[3][3] = {{0, 0, 0}, {300, 40, 0}, {500, 300, 80}};
        std::vector<Pose> truth;
        for (int m = 0; m < 3; m++)
            truth.push_back(makePose(0.2 * m, 0.4 * m, -0.3 * m, places[m]));
        std::vector<MarkerSighting> sightings;
        for (int f = 0; f < c.frames; f++) {
            const double eye[3] = {100.0 * f, -200, 900};
            const Pose camera = makePose(0.1 * f, PI - 0.3, 0.05 * f, eye);
            const bool fooled = std::find(c.fooled.begin(), c.fooled.end(), f) != c.fooled.end();
            for (int m = 0; m < 3; m++) {
                if (m == 2 && f >= c.shared)
                    continue;
                MarkerSighting s{f, m, {}, 2, {}, {0.2, 0.3}};
                const double turn = 0.3 + 0.12 * (3 * f + m);  // each wrong pose its own
                const double zero[3] = {0, 0, 0};
                s.poses[0] = s.poses[1] = arPoseCompose(camera, truth[m]);
                if (fooled)
                    s.poses[0] = arPoseCompose(s.poses[1], makePose(turn, turn, 0, zero));
                else
                    s.poses[1] = arPoseCompose(s.poses[0], makePose(turn, turn, 0, zero));
                sightings.push_back(s);
            }
        }
        MarkerLayout layout;
        ASSERT_TRUE(linkMarkers(sightings, {80, 80, 80}, layout).ok());
        for (int m = 1; m < 3; m++) {
            ASSERT_TRUE(layout.markers[m].linked);
            EXPECT_LT(turnBetweenDegrees(layout.markers[m].toWorld, truth[m]), 1e-4)
                << c.frames << " " << m;
        }
    }
}

// Three markers seen together by eight cameras. Where marker 2's squares
// put it wanders from frame to frame (`wander`, in widths, as smeared or
// misread squares do): when its place is uncertain by a tenth of its width
// it is left out and marker 1 is placed from the rest as if it were never
// there; a little wandering keeps it.
TEST(PlaceMarkers, AMarkerItsFramesPlaceLooselyIsLeftOut) {
    const CameraParam camera = makeCamera(false);
    const double places[3][3] = {{0, 0, 0}, {300, 40, 0}, {100, 250, 0}};
    for (const double wander : {0.0, 0.02, 0.5}) {
        std::vector<MarkerSighting> sightings;
        for (int f = 0; f < 8; f++) {
            const double eye[3] = {-150.0 + 40 * f, -100, 1200};
            const Pose view = makePose(0.05 * f, PI - 0.2, 0.02 * f, eye);
            for (int m = 0; m < 3; m++) {
                double at[3] = {places[m][0], places[m][1], 0.0};
                if (m == 2)
                    at[f % 2] += (f % 4 < 2 ? 1 : -1) * wander * MARKER_WIDTH;
                const Pose toCamera = arPoseCompose(view, makePose(0, 0, 0, at));
                MarkerSighting s{f, m, {}, 1, {toCamera, {}}, {0.0, 0.0}};
                for (int k = 0; k < 4; k++)
                    s.corners[k] = projectCorner(camera, toCamera, k);
                sightings.push_back(s);
            }
        }
        MarkerLayout layout;
        std::vector<bool> loose;
        const LayoutResult placed =
            placeMarkers(sightings, {80, 80, 80}, camera.mat, layout, loose);
        ASSERT_TRUE(placed.ok()) << static_cast<int>(placed.status) << " " << wander;
        const bool left = wander > LOOSE_PLACE_SHARE;
        EXPECT_EQ(loose, (std::vector<bool>{false, false, left})) << wander;
        EXPECT_EQ(layout.markers[2].linked, !left) << wander;
        const double zero[3] = {0, 0, 0};
        const Pose first = makePose(0, 0, 0, zero);
        const Pose oneToFirst = arPoseCompose(arPoseInvert(first), makePose(0, 0, 0, places[1]));
        // Exact where no wandering square is left in (a kept one pulls the
        // cameras it shares, and marker 1 with them).
        if (wander == 0.0 || left) {
            EXPECT_NEAR(layout.markers[1].toWorld.m[0][3], oneToFirst.m[0][3], 1e-3) << wander;
        }
        EXPECT_LT(layout.markers[2].sigmaPosition, left ? 1e-9 : 0.05 * MARKER_WIDTH) << wander;
    }
}

}  // namespace
