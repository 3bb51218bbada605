#include "app/tracker.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <vector>

#include "app/key_table.h"
#include "camera/camera_param.h"
#include "pose/marker_pose.h"
#include "tests/pose/pose_scene.h"
#include "tests/support/test_support.h"

namespace {

using namespace pose_scene;

MarkerInfo markerOf(const MarkerSquare& square, int id, double confidence) {
    MarkerInfo marker{};
    marker.area = 5000;
    marker.id = id;
    marker.direction = square.direction;
    marker.confidence = confidence;
    for (int k = 0; k < 4; k++) {
        marker.edgeLines[k] = square.edgeLines[k];
        marker.vertices[k] = square.vertices[k];
    }
    return marker;
}

TEST(ChooseMarker, TakesTheMostConfidentMarkerOfThePatternEarlierOnTies) {
    MarkerSquare square{};
    auto list = [&](std::vector<std::pair<int, double>> entries) {
        std::vector<MarkerInfo> markers;
        for (auto [id, confidence] : entries) {
            markers.push_back(markerOf(square, id, confidence));
        }
        return markers;
    };
    auto choose = [](const std::vector<MarkerInfo>& m) {
        return chooseMarker(m.data(), static_cast<int>(m.size()), 2);
    };
    EXPECT_EQ(choose({}), -1);
    EXPECT_EQ(choose(list({{1, 0.9}, {2, 0.49999}, {-1, 0.95}})), -1);
    EXPECT_EQ(choose(list({{1, 0.9}, {2, 0.5}, {2, 0.5}})), 1);
    EXPECT_EQ(choose(list({{2, 0.6}, {1, 0.99}, {2, 0.8}, {2, 0.8}, {2, 0.7}})), 2);
}

// A camera at (px, py, pz) in marker coordinates, turned any way, is stored
// as translateX 0.005 px, translateY 0.005 pz and translateZ -0.005 py.
TEST(PoseToCameraKey, ScalesTheCameraPositionIntoTheFileAxes) {
    std::mt19937 rng(51);
    std::uniform_real_distribution<double> turn(-3.0, 3.0);
    std::uniform_real_distribution<double> place(-900.0, 900.0);
    auto table = std::make_unique<KeyTable>();
    table->count = 0;
    for (int i = 0; i < 100; i++) {
        double position[3] = {place(rng), place(rng), place(rng)};
        double cameraInMarker[3][4], pose[3][4];
        makePose(turn(rng), std::fabs(turn(rng)), turn(rng), position, cameraInMarker);
        for (int r = 0; r < 3; r++) {
            pose[r][3] = 0.0;
            for (int k = 0; k < 3; k++) {
                pose[r][k] = cameraInMarker[k][r];
                pose[r][3] -= cameraInMarker[k][r] * position[k];
            }
        }
        CameraKey key;
        ASSERT_EQ(poseToCameraKey(pose, &key), 0);
        appendKeyRow(*table, 1, key.x, key.y, key.z, key.rotY, key.rotX, key.rotZ);
        const KeyRow& row = table->rows[i];
        EXPECT_NEAR(row.translateX, 0.005 * position[0], 1e-9);
        EXPECT_NEAR(row.translateY, 0.005 * position[2], 1e-9);
        EXPECT_NEAR(row.translateZ, -0.005 * position[1], 1e-9);
    }
}

TEST(PoseToCameraKey, LooksStraightDownAndRefusesNonFinitePoses) {
    // Camera 500 above the marker looking down its -z axis, image x along the
    // marker's x: b = pi exactly, where the angles must not come out NaN.
    double pose[3][4] = {{1, 0, 0, 0}, {0, -1, 0, 0}, {0, 0, -1, 500}};
    CameraKey key{};
    ASSERT_EQ(poseToCameraKey(pose, &key), 0);
    EXPECT_EQ(key.z, 2.5);
    EXPECT_DOUBLE_EQ(key.rotX, -90.0);
    EXPECT_DOUBLE_EQ(key.rotY, -90.0);
    pose[1][3] = NAN;
    EXPECT_EQ(poseToCameraKey(pose, &key), -1);
    pose[1][3] = 0.0;
    pose[0][0] = INFINITY;
    EXPECT_EQ(poseToCameraKey(pose, &key), -1);
}

class TrackingStep : public ::testing::Test {
  protected:
    void SetUp() override {
        arSetCameraParam(camera);
        state.patternId = 0;
        state.patternWidth = MARKER_WIDTH;
    }

    // One frame's marker list: other patterns and a weak match around the
    // pattern's marker seen at `truth`.
    std::vector<MarkerInfo> frameWith(const double truth[3][4]) {
        MarkerSquare square = squareOf(camera, truth);
        return {markerOf(square, 1, 0.9), markerOf(square, 0, 0.7), markerOf(square, 0, 0.45)};
    }

    int step(const std::vector<MarkerInfo>& markers) {
        return trackMarkers(state, markers.data(), static_cast<int>(markers.size()), &key);
    }

    CameraParam camera = makeCamera(true);
    std::mt19937 rng{52};
    TrackerState state;
    CameraKey key{};
};

// Frames 1 and 2 with the marker, 3 without, 4 with: frames 1 and 4 start
// from the marker alone, frame 2 continues from frame 1's pose.
TEST_F(TrackingStep, ContinuesFromThePreviousPoseUntilAFrameIsLost) {
    double truth[4][3][4], expected[3][4], previous[3][4];
    for (auto& t : truth) {
        randomPose(rng, 0.8, t);
    }
    ASSERT_EQ(step(frameWith(truth[0])), 1);
    EXPECT_EQ(state.chosenMarker, 1);
    arMarkerPose(squareOf(camera, truth[0]), {0, 0}, MARKER_WIDTH, expected);
    EXPECT_TRUE(samePose(state.cameraPose, expected));
    EXPECT_EQ(state.poseContinues, 1);

    std::memcpy(previous, state.cameraPose, sizeof previous);
    ASSERT_EQ(step(frameWith(truth[1])), 1);
    arMarkerPoseCont(squareOf(camera, truth[1]), previous, {0, 0}, MARKER_WIDTH, expected);
    EXPECT_TRUE(samePose(state.cameraPose, expected));

    std::memcpy(previous, state.cameraPose, sizeof previous);
    MarkerSquare square = squareOf(camera, truth[2]);
    EXPECT_EQ(step({markerOf(square, 1, 1.0), markerOf(square, 0, 0.3)}), 0);
    EXPECT_EQ(state.chosenMarker, -1);
    EXPECT_EQ(state.poseContinues, 0);
    EXPECT_TRUE(samePose(state.cameraPose, previous));

    ASSERT_EQ(step(frameWith(truth[3])), 1);
    arMarkerPose(squareOf(camera, truth[3]), {0, 0}, MARKER_WIDTH, expected);
    EXPECT_TRUE(samePose(state.cameraPose, expected));
    CameraKey expectedKey;
    poseToCameraKey(expected, &expectedKey);
    EXPECT_EQ(std::memcmp(&key, &expectedKey, sizeof key), 0);
}

// Without any pose yet a failed first-frame pose gives a not-found row and
// the next frame starts afresh; with an earlier pose the kept pose is used.
TEST_F(TrackingStep, AFailedPoseKeepsAnEarlierPoseOnly) {
    double truth[3][4];
    randomPose(rng, 0.8, truth);
    std::vector<MarkerInfo> good = frameWith(truth);
    std::vector<MarkerInfo> broken = good;
    broken[1].edgeLines[2] = broken[1].edgeLines[0];
    EXPECT_EQ(step(broken), 0);
    EXPECT_EQ(state.poseContinues, 0);
    ASSERT_EQ(step(good), 1);
    CameraKey first = key;
    EXPECT_EQ(step({}), 0);
    ASSERT_EQ(step(broken), 1);
    EXPECT_EQ(std::memcmp(&key, &first, sizeof key), 0);
    EXPECT_EQ(state.poseContinues, 1);
}

// Corners that are not numbers make continuous mode produce a pose that is
// not finite: the frame is not found and the next one starts afresh.
TEST_F(TrackingStep, ANonFinitePoseIsNotStored) {
    double truth[3][4];
    randomPose(rng, 0.8, truth);
    std::vector<MarkerInfo> good = frameWith(truth);
    std::vector<MarkerInfo> broken = good;
    broken[1].vertices[1].x = NAN;
    ASSERT_EQ(step(good), 1);
    EXPECT_EQ(step(broken), 0);
    EXPECT_EQ(state.poseContinues, 0);
    EXPECT_EQ(state.poseKnown, 0);
    EXPECT_EQ(step(good), 1);
}

// The whole step on drawn frames: a camera file and a pattern file made
// here, frames with the marker drawn in perspective, one row per frame.
class TrackerRun : public ::testing::Test {
  protected:
    // A 16 x 16 picture that looks different in each of its four turns.
    static bool white(int r, int c) {
        return (r < 5 && c < 11) || (c < 4 && r < 13) || (r > 10 && c > 9);
    }

    // Block d of the pattern file is the picture read from marker corner d,
    // rows running towards corner d + 3 and columns towards corner d + 1.
    static bool whiteSeenFrom(int d, int r, int c) {
        switch (d) {
            case 0:
                return white(r, c);
            case 1:
                return white(c, 15 - r);
            case 2:
                return white(15 - r, 15 - c);
            default:
                return white(15 - c, r);
        }
    }

    void writeFiles() {
        std::ofstream pattern(dir.file("marker.pattern"));
        for (int d = 0; d < 4; d++) {
            for (int plane = 0; plane < 3; plane++) {
                for (int r = 0; r < 16; r++) {
                    for (int c = 0; c < 16; c++) {
                        pattern << (whiteSeenFrom(d, r, c) ? 255 : 0) << (c == 15 ? "\n" : " ");
                    }
                }
            }
        }
        unsigned char record[CAMERA_PARAM_RECORD_SIZE];
        arEncodeCameraParam(camera, record);
        std::string bytes(reinterpret_cast<char*>(record), sizeof record);
        std::filesystem::create_directory(dir.file("Data"));
        lumeko_test::writeFile(dir.file("Data/camera_para.dat"), bytes);
    }

    // White paper, with the marker seen at `pose` when one is given: each
    // pixel is traced back onto the marker plane.
    void draw(const double (*pose)[4]) {
        pixels.assign(640 * 480 * 4, 255);
        if (pose == nullptr) {
            return;
        }
        double H[3][3];
        for (int i = 0; i < 3; i++) {
            for (int j = 0; j < 3; j++) {
                int column = j < 2 ? j : 3;
                H[i][j] = j < 2 ? 0.0 : camera.mat[i][3];
                for (int k = 0; k < 3; k++) {
                    H[i][j] += camera.mat[i][k] * pose[k][column];
                }
            }
        }
        double inv[3][3];
        for (int i = 0; i < 3; i++) {
            for (int j = 0; j < 3; j++) {
                inv[j][i] = H[(i + 1) % 3][(j + 1) % 3] * H[(i + 2) % 3][(j + 2) % 3] -
                            H[(i + 1) % 3][(j + 2) % 3] * H[(i + 2) % 3][(j + 1) % 3];
            }
        }
        const double half = MARKER_WIDTH / 2;
        for (int y = 0; y < 480; y++) {
            for (int x = 0; x < 640; x++) {
                double m[3];
                for (int i = 0; i < 3; i++) {
                    m[i] = inv[i][0] * x + inv[i][1] * y + inv[i][2];
                }
                double mx = m[0] / m[2];
                double my = m[1] / m[2];
                if (std::fabs(mx) >= half || std::fabs(my) >= half) {
                    continue;
                }
                bool inPicture = std::fabs(mx) < half / 2 && std::fabs(my) < half / 2;
                int r = static_cast<int>((half / 2 - my) / half * 16);
                int c = static_cast<int>((mx + half / 2) / half * 16);
                unsigned char value = inPicture && white(r, c) ? 255 : 0;
                for (int p = 0; p < 3; p++) {
                    pixels[(y * 640 + x) * 4 + p] = value;
                }
            }
        }
    }

    // Without skew, as calibrated cameras usually are.
    static CameraParam unskewed() {
        CameraParam camera = makeCamera(false);
        camera.mat[0][1] = 0.0;
        return camera;
    }

    lumeko_test::TempDir dir;
    CameraParam camera = unskewed();
    std::vector<unsigned char> pixels;
};

TEST_F(TrackerRun, TracksDrawnFramesIntoKeyRows) {
    writeFiles();
    std::string home = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    setupTracker(dir.file("marker.pattern").c_str(), MARKER_WIDTH, 640, 480);
    std::filesystem::current_path(home);

    const double t1[3] = {20.0, -10.0, 420.0};
    const double t2[3] = {24.0, -8.0, 415.0};
    const double t3[3] = {-30.0, 15.0, 500.0};
    double poses[3][3][4];
    makePose(0.4, PI - 0.5, 1.1, t1, poses[0]);
    makePose(0.45, PI - 0.48, 1.12, t2, poses[1]);
    // Square on to the camera with its sides along the pixel rows and
    // columns: the marker's z axis comes out exactly opposite the camera's.
    makePose(0.0, PI, 0.0, t3, poses[2]);
    const double(*frames[])[4] = {poses[0], poses[1], nullptr, nullptr, nullptr, poses[2]};
    int first = keyRowCount();
    for (const auto* pose : frames) {
        draw(pose);
        trackFrame(FrameImage{pixels.data(), 640, 480});
    }
    ASSERT_EQ(keyRowCount(), first + 6);
    const KeyRow* rows = keyRows() + first;
    EXPECT_EQ(rows[4].found, 0);
    for (int i : {0, 1, 5}) {
        const double(*truth)[4] = frames[i];
        CameraKey expected;
        ASSERT_EQ(poseToCameraKey(truth, &expected), 0);
        ASSERT_EQ(rows[i].found, 1) << "frame " << i;
        double distance = std::hypot(expected.x, expected.y, expected.z);
        EXPECT_NEAR(rows[i].translateX, expected.x, 0.02 * distance) << "frame " << i;
        EXPECT_NEAR(rows[i].translateY, expected.z, 0.02 * distance) << "frame " << i;
        EXPECT_NEAR(rows[i].translateZ, -expected.y, 0.02 * distance) << "frame " << i;
        EXPECT_NEAR(rows[i].rotateX, expected.rotX, 3.0) << "frame " << i;
        if (i != 5) {  // looking straight at the marker only rotateX is determined
            EXPECT_NEAR(rows[i].rotateY, expected.rotY, 3.0) << "frame " << i;
            EXPECT_NEAR(rows[i].rotateZ, expected.rotZ, 3.0) << "frame " << i;
        }
    }
}

TEST_F(TrackerRun, SetupEndsTheProgramWithoutItsFiles) {
    std::string home = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    EXPECT_EXIT(
        {
            std::freopen("/dev/null", "r", stdin);
            setupTracker("marker.pattern", MARKER_WIDTH, 640, 480);
        },
        ::testing::ExitedWithCode(1), "can not load camera parameter <./Data/camera_para.dat>");
    writeFiles();
    EXPECT_EXIT(
        {
            std::freopen("/dev/null", "r", stdin);
            setupTracker("missing.pattern", MARKER_WIDTH, 640, 480);
        },
        ::testing::ExitedWithCode(1), "can not load pattern <missing.pattern>");
    std::filesystem::current_path(home);
}

}  // namespace
