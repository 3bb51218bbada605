#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "bridge/bridge_fit.h"
#include "bridge/plane_anchor.h"
#include "bridge/point_follow.h"
#include "bridge/scene_bridge.h"
#include "pose/pose_projection.h"
#include "tests/support/test_support.h"

namespace {

// A 640 x 480 pinhole camera without lens distortion (its working picture is
// half as wide), 600 units above the marker's plane and slightly tilted.
const CameraParam CAMERA = {
    640, 480, {{554.256, 0, 320, 0}, {0, 554.256, 240, 0}, {0, 0, 1, 0}}, {320, 240, 0, 1}};

Pose truePose() {
    const double c = std::cos(0.2), s = std::sin(0.2);
    const double R[3][3] = {{1, 0, 0}, {0, -c, -s}, {0, s, -c}}, t[3] = {15, -10, 600};
    return arPoseOf(R, t);
}

// Followed points made by hand: each seen at an ideal point of the frame and
// placed somewhere on the plane.
struct Scene {
    BridgeStorage storage;
    PlaneMap map;
    std::mt19937 random{11};

    Scene() {
        EXPECT_EQ(prepareFollowing(storage, 640, 480), BridgeStatus::Ok);  // working scale 2
        EXPECT_EQ(planeMapOfPose(CAMERA, truePose(), map), BridgeStatus::Ok);
    }
    void add(ImagePoint seen, cv::Point2d placed) {
        storage.at.emplace_back(static_cast<float>((seen.x + 0.5) / 2 - 0.5),
                                static_cast<float>((seen.y + 0.5) / 2 - 0.5));
        storage.plane.push_back(placed);
        storage.weight.push_back(1);
    }
    // A point of the frame in the box (fractions of the picture) around its
    // middle that spans `share` of it each way.
    ImagePoint somewhere(double share, double shareY = 0.0) {
        std::uniform_real_distribution<double> u(0.5 - share / 2, 0.5 + share / 2);
        shareY = shareY > 0.0 ? shareY : share;
        std::uniform_real_distribution<double> v(0.5 - shareY / 2, 0.5 + shareY / 2);
        return {u(random) * 640, v(random) * 480};
    }
    // `count` points on the plane, each seen `shift` pixels to the right or
    // (every other one) to the left of where the pose shows it.
    void onPlane(int count, double share = 0.9, double shift = 0.0, double shareY = 0.0) {
        for (int i = 0; i < count; i++) {
            const ImagePoint seen = somewhere(share, shareY);
            cv::Point2d placed;
            ASSERT_EQ(idealToPlane(map, seen, &placed), BridgeStatus::Ok);
            add({seen.x + (i % 2 == 0 ? shift : -shift), seen.y}, placed);
        }
    }
    // `count` points whose places have nothing to do with where they are seen.
    void astray(int count) {
        std::uniform_real_distribution<double> place(-300.0, 300.0);
        for (int i = 0; i < count; i++)
            add(somewhere(0.9), {place(random), place(random)});
    }
    // `count` points 100 units above the plane (towards the camera), placed
    // where they stand on it, seen away from the picture's middle (where they
    // would lie near their place).
    void abovePlane(int count) {
        const Pose pose = truePose();
        std::uniform_real_distribution<double> place(-250.0, 250.0);
        while (count > 0) {
            const double point[3] = {place(random), place(random), 100.0};
            const MarkerPointView view = arViewMarkerPoint(CAMERA, pose, point);
            if (std::fabs(view.ideal.x - 320) < 150 || view.ideal.x < 10 || view.ideal.x > 630 ||
                view.ideal.y < 10 || view.ideal.y > 470)
                continue;
            add(view.ideal, {point[0], point[1]});
            count--;
        }
    }
};

// Each rule alone decides, the other limits met: points followed, points
// agreeing (29 of 100 is below the share of 0.3, 30 is not), their spread
// over the picture (a box of 0.3 of it each way) and their root mean square
// distance (2 pixels here; the limit is per working scale, 2).
TEST(BridgeFit, EachAcceptanceRuleDecidesAlone) {
    struct Case {
        const char* name;
        int onPlane;
        double share, shift;
        int astray, above;
        double errorMax;
        BridgeStatus expected;
        double shareY = 0.0;  // of the picture's height, when not `share`
    };
    const Case cases[] = {
        {"enough points", 20, 0.9, 0.0, 0, 0, 2.0, BridgeStatus::Ok},
        {"too few points", 19, 0.9, 0.0, 0, 0, 2.0, BridgeStatus::TooFewPoints},
        {"spread over the picture", 60, 0.34, 0.0, 0, 0, 2.0, BridgeStatus::Ok},
        {"clustered", 60, 0.26, 0.0, 0, 0, 2.0, BridgeStatus::TooClustered},
        {"in a band across", 60, 0.9, 0.0, 0, 0, 2.0, BridgeStatus::TooClustered, 0.26},
        {"in a band up and down", 60, 0.26, 0.0, 0, 0, 2.0, BridgeStatus::TooClustered, 0.9},
        {"near their places", 60, 0.9, 2.0, 0, 0, 1.05, BridgeStatus::Ok},
        {"too far from their places", 60, 0.9, 2.0, 0, 0, 0.95, BridgeStatus::TooFar},
        {"a share agreeing", 30, 0.9, 0.0, 70, 0, 2.0, BridgeStatus::Ok},
        {"an outlier majority", 29, 0.9, 0.0, 71, 0, 2.0, BridgeStatus::TooFewAgree},
        {"all astray", 0, 0.9, 0.0, 60, 0, 2.0, BridgeStatus::TooFewPoints},
        {"points off the plane", 40, 0.9, 0.0, 0, 25, 2.0, BridgeStatus::Ok},
    };
    const Pose truth = truePose();
    for (const Case& c : cases) {
        Scene scene;
        scene.onPlane(c.onPlane, c.share, c.shift, c.shareY);
        scene.astray(c.astray);
        scene.abovePlane(c.above);
        BridgeLimits limits;
        limits.errorMax = c.errorMax;
        const BridgeFit fit = fitBridgePose(scene.storage, CAMERA, limits);
        EXPECT_EQ(fit.status, c.expected) << c.name;
        const int all = c.onPlane + c.astray + c.above;
        EXPECT_EQ(fit.points, fit.ok() ? c.onPlane : all) << c.name;
        if (!fit.ok())
            continue;
        // The points on the plane alone, and the true camera: no worse than
        // it (the shift), or to rounding when they are exact.
        for (int i = 0; i < all; i++)
            EXPECT_EQ(scene.storage.inlier[i], i < c.onPlane) << c.name << i;
        EXPECT_LE(fit.error, std::max(c.shift, 2.5e-5)) << c.name;
        for (int v = 0; v < 12 && c.shift == 0.0; v++)
            EXPECT_NEAR(fit.pose.m[v / 4][v % 4], truth.m[v / 4][v % 4], v % 4 < 3 ? 1e-7 : 8e-6)
                << c.name << v;
    }
}

// A marker's pose checks the followed points: those seen within 6 ideal
// pixels of where it puts their places stay, their places moved half way to
// what it gives (one pose before, weight 1), and those farther leave.
TEST(BridgeAnchor, APoseKeepsAndMovesThePointsNearTheirPlacesOnly) {
    for (const auto& [shift, kept] : {std::pair{5.9, true}, {6.1, false}}) {
        Scene scene;
        scene.onPlane(10, 0.9, shift);
        const std::vector<cv::Point2d> before = scene.storage.plane;
        ASSERT_EQ(anchorPoints(scene.storage, CAMERA, truePose(), 6.0, 0, true), BridgeStatus::Ok);
        ASSERT_EQ(scene.storage.at.size(), kept ? 10u : 0u) << shift;
        for (size_t i = 0; i < scene.storage.at.size(); i++) {
            cv::Point2d placed;
            ASSERT_EQ(
                idealToPlane(scene.map, idealOfWork(scene.storage, CAMERA, scene.storage.at[i]),
                             &placed),
                BridgeStatus::Ok);
            EXPECT_LT(cv::norm(scene.storage.plane[i] - (before[i] + placed) / 2), 1e-9);
            EXPECT_EQ(scene.storage.weight[i], 2);
        }
    }
}

// A pose that sees the plane edge-on gives no map: anchoring says so and
// leaves the points alone.
TEST(BridgeAnchor, APoseThatSeesThePlaneEdgeOnIsRefused) {
    const double R[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, t[3] = {10, 0, 0};
    Scene scene;
    scene.onPlane(5);
    EXPECT_EQ(anchorPoints(scene.storage, CAMERA, arPoseOf(R, t), 6.0, 0, true),
              BridgeStatus::EdgeOn);
    EXPECT_EQ(scene.storage.at.size(), 5u);
    const std::unique_ptr<SceneBridge> bridge = SceneBridge::create(CAMERA);
    ASSERT_NE(bridge, nullptr);
    std::vector<unsigned char> blank(640 * 480 * 4, 255);
    EXPECT_EQ(bridge->markerFrame({blank.data(), 640, 480}, arPoseOf(R, t)), BridgeStatus::EdgeOn);
}

// A textured floor seen by a still camera: frame `bend` has its picture's
// rows bent by up to `bend` pixels towards its sides (no plane looks so: the
// points stop agreeing with any camera, as points off the plane do once the
// camera moves).
std::vector<unsigned char> floorFrame(double bend) {
    std::vector<unsigned char> pixels(640 * 480 * 4, 255);
    for (int y = 0; y < 480; y++) {
        for (int x = 0; x < 640; x++) {
            const double u = (x - 320) / 320.0, v = y - bend * u * u;
            const double level = 128 + 70 * std::sin(x / 6.0) * std::sin(v / 7.0) +
                                 40 * std::sin((x + 2 * v) / 17.0);
            for (int c = 0; c < 3; c++)
                pixels[(y * 640 + x) * 4 + c] = static_cast<unsigned char>(level);
        }
    }
    return pixels;
}

// Once the bridged points' error grows past twice the least since anchoring
// plus a pixel (half a pixel a working step), no frame is bridged until the
// marker anchors them again; a smaller growth is borne.
TEST(SceneBridge, PointsThatStopAgreeingWithThePlaneBridgeNothingTillAnchored) {
    struct Case {
        double bend;
        BridgeStatus expected;
    };
    std::vector<unsigned char> flat = floorFrame(0.0);
    const FrameImage still{flat.data(), 640, 480};
    for (const Case c : {Case{3.0, BridgeStatus::Ok}, Case{8.0, BridgeStatus::PlaneDoubted}}) {
        const std::unique_ptr<SceneBridge> bridge = SceneBridge::create(CAMERA);
        ASSERT_NE(bridge, nullptr);
        ASSERT_EQ(bridge->markerFrame(still, truePose()), BridgeStatus::Ok);
        ASSERT_EQ(bridge->follow(still), BridgeStatus::Ok);
        const BridgeFit first = bridge->bridge();
        ASSERT_TRUE(first.ok()) << c.bend;
        std::vector<unsigned char> bent = floorFrame(c.bend);
        ASSERT_EQ(bridge->follow({bent.data(), 640, 480}), BridgeStatus::Ok);
        const BridgeFit later = bridge->bridge();
        EXPECT_EQ(later.status, c.expected)
            << c.bend << ": " << first.error << " then " << later.error;
        // The doubt lasts till the marker anchors the points again.
        ASSERT_EQ(bridge->follow(still), BridgeStatus::Ok);
        EXPECT_EQ(bridge->bridge().status, c.expected) << c.bend;
        ASSERT_EQ(bridge->markerFrame(still, truePose()), BridgeStatus::Ok);
        ASSERT_EQ(bridge->follow(still), BridgeStatus::Ok);
        EXPECT_TRUE(bridge->bridge().ok()) << c.bend;
    }
}

// A speckled floor (random levels on an 8-pixel grid, blended between),
// moved `shift` pixels to the right.
std::vector<unsigned char> speckledFloor(double shift) {
    std::mt19937 random(5);
    std::uniform_int_distribution<int> level(30, 225);
    std::vector<int> grid(160 * 61);
    for (int& g : grid)
        g = level(random);
    std::vector<unsigned char> pixels(640 * 480 * 4, 255);
    for (int y = 0; y < 480; y++) {
        for (int x = 0; x < 640; x++) {
            const double u = (x - shift + 480) / 8.0, v = y / 8.0;
            const int i = static_cast<int>(u), j = static_cast<int>(v);
            const double a = u - i, b = v - j;
            const auto at = [&](int di, int dj) { return grid[(j + dj) * 160 + i + di]; };
            const double value = (1 - b) * ((1 - a) * at(0, 0) + a * at(1, 0)) +
                                 b * ((1 - a) * at(0, 1) + a * at(1, 1));
            for (int c = 0; c < 3; c++)
                pixels[(y * 640 + x) * 4 + c] = static_cast<unsigned char>(value);
        }
    }
    return pixels;
}

// A camera looking straight down glides over the floor, 20 pixels a frame
// (10 working pixels): in a long run of marker frames the points are anchored
// only now and then, each time searched for where the marker's pose puts them
// (four frames' glide is beyond plain following), and the newest marker frame
// kept is anchored on when the marker is lost, so that the next frame's
// points are only a frame's glide away.
TEST(SceneBridge, ALongRunOfMarkerFramesIsAnchoredNowAndThenAndTheLastOneWhenLost) {
    const double glide = 20.0 * 600.0 / 554.256;  // units a frame
    const auto poseAt = [&](int k) {
        const double R[3][3] = {{1, 0, 0}, {0, -1, 0}, {0, 0, -1}}, t[3] = {k * glide, 0, 600};
        return arPoseOf(R, t);
    };
    const std::unique_ptr<SceneBridge> bridge = SceneBridge::create(CAMERA);
    ASSERT_NE(bridge, nullptr);
    const int lost = PLANE_WEIGHT_MAX + 2 * BRIDGE_RENEW_INTERVAL + 2;
    for (int k = 0; k <= lost; k++) {
        std::vector<unsigned char> pixels = speckledFloor(20.0 * k);
        const FrameImage frame{pixels.data(), 640, 480};
        if (k < lost) {
            ASSERT_EQ(bridge->markerFrame(frame, poseAt(k)), BridgeStatus::Ok) << k;
            continue;
        }
        ASSERT_EQ(bridge->follow(frame), BridgeStatus::Ok);
        const BridgeFit fit = bridge->bridge();
        ASSERT_TRUE(fit.ok()) << static_cast<int>(fit.status);
        EXPECT_NEAR(fit.pose.m[0][3], lost * glide, 0.01);
        EXPECT_GE(fit.points, 100);
    }
}

// New points are placed only where the sight meets the plane at 25 degrees
// or more: a camera 600 units up looking 30 degrees below the horizon (its
// picture's rows from about 7 to 53 degrees) over the speckled floor gets
// points only in the rows below the sight of 25 degrees, and down to it.
TEST(BridgeAnchor, NewPointsAreNotPlacedWhereTheSightGrazesThePlane) {
    const double c = std::cos(M_PI / 6), s = std::sin(M_PI / 6);
    const double R[3][3] = {{1, 0, 0}, {0, -s, -c}, {0, c, -s}}, centre[3] = {0, -1000, 600};
    double t[3];
    for (int i = 0; i < 3; i++)
        t[i] = -(R[i][0] * centre[0] + R[i][1] * centre[1] + R[i][2] * centre[2]);
    std::vector<unsigned char> floor = speckledFloor(0.0);
    Scene scene;
    ASSERT_EQ(takePicture(scene.storage, {floor.data(), 640, 480}), BridgeStatus::Ok);
    ASSERT_EQ(followPoints(scene.storage), BridgeStatus::Ok);
    ASSERT_EQ(anchorPoints(scene.storage, CAMERA, arPoseOf(R, t), 6.0, 100, false),
              BridgeStatus::Ok);
    ASSERT_GE(scene.storage.at.size(), 30u);
    double shallowest = 90.0;
    for (const cv::Point2d& placed : scene.storage.plane) {
        const double across = std::hypot(placed.x - centre[0], placed.y - centre[1]);
        shallowest = std::min(shallowest, std::atan2(centre[2], across) * 180.0 / M_PI);
    }
    EXPECT_GE(shallowest, PLACE_SIGHT_MIN_DEGREES);
    EXPECT_LT(shallowest, PLACE_SIGHT_MIN_DEGREES + 2.0);
}

// The working picture: reduced towards 320 pixels wide but by 3 at most, with
// a pyramid level more for each doubling of its width from 640.
TEST(PointFollow, TheWorkingPictureIsReducedByThreeAtMost) {
    struct Case {
        int width, height, scale, levels;
    };
    for (const Case c : {Case{320, 240, 1, 2},
                         {640, 480, 2, 2},
                         {1280, 720, 3, 2},
                         {1920, 1080, 3, 3},
                         {3840, 2160, 3, 4}}) {
        BridgeStorage storage;
        ASSERT_EQ(prepareFollowing(storage, c.width, c.height), BridgeStatus::Ok);
        EXPECT_EQ(storage.scale, c.scale) << c.width;
        EXPECT_EQ(storage.workSize.width, c.width / c.scale) << c.width;
        EXPECT_EQ(storage.levels, c.levels) << c.width;
    }
}

// A blank smeared frame in a long run is followed into at once (a sharp one
// would only be kept), losing the points; a bridged frame fills up few at once.
TEST(SceneBridge, AFastCameraKeepsNoSmearedFrameAndFillsUpFewPointsAtOnce) {
    std::vector<unsigned char> floor = speckledFloor(0.0), blank(640 * 480 * 4, 255);
    const std::unique_ptr<SceneBridge> bridge = SceneBridge::create(CAMERA);
    for (int k = 0; k < PLANE_WEIGHT_MAX + 2; k++)
        bridge->markerFrame({(k == PLANE_WEIGHT_MAX ? blank : floor).data(), 640, 480}, truePose(),
                            true);
    bridge->follow({floor.data(), 640, 480});
    EXPECT_FALSE(bridge->bridge().ok());
    for (const auto& [count, bridged] : {std::pair{39, true}, {40, true}, {39, false}}) {
        Scene scene;
        takePicture(scene.storage, {floor.data(), 640, 480});
        followPoints(scene.storage);
        scene.onPlane(count);
        scene.storage.framesSinceFill = 0;
        anchorPoints(scene.storage, CAMERA, truePose(), 6.0, 100, !bridged);
        EXPECT_EQ(scene.storage.at.size() > 40u, bridged && count < 40) << count;
    }
}

// OpenCV's exceptions stop at the bridge: a failed call on storage it cannot
// work with, and memory that runs out (in a child process whose address
// space is held to what it has), come back as statuses.
TEST(BridgeOpenCv, FailuresAndMemoryRunningOutComeBackAsStatuses) {
    BridgeStorage unprepared;
    unprepared.at.emplace_back(10.0f, 10.0f);
    unprepared.plane.emplace_back(0.0, 0.0);
    unprepared.weight.push_back(1);
    unprepared.hasPrevious = true;
    EXPECT_EQ(followPoints(unprepared), BridgeStatus::OpenCvFailed);
    if (lumeko_test::UNDER_ADDRESS_SANITIZER)
        GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit allows";
    const auto runOutOfMemory = [] {
        FILE* statm = std::fopen("/proc/self/statm", "r");
        unsigned long pages = 0;
        if (statm == nullptr || std::fscanf(statm, "%lu", &pages) != 1)
            std::exit(2);
        std::fclose(statm);
        const rlim_t held = pages * 4096ul + (64ul << 20);
        const rlimit limit{held, held};
        setrlimit(RLIMIT_AS, &limit);
        BridgeStorage storage;
        CameraParam huge = CAMERA;
        huge.xsize = 20000;
        huge.ysize = 15000;
        const bool refused =
            prepareFollowing(storage, huge.xsize, huge.ysize) == BridgeStatus::OutOfMemory &&
            SceneBridge::create(huge) == nullptr;
        std::exit(refused ? 0 : 1);
    };
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(runOutOfMemory(), testing::ExitedWithCode(0), "");
}

}  // namespace
