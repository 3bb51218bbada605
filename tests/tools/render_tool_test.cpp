#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <random>

#include "media/movie_file.h"
#include "tests/support/test_support.h"
#include "tools/camera/camera_file.h"
#include "tools/render/pose_truth.h"
#include "tools/render/scene_render.h"
#include "track/camera_key.h"

namespace {

TEST(RenderTool, MarkerLandsWhereThePoseProjectsIt) {
    // Strong barrel distortion: taken the wrong way round, it moves the marker by pixels.
    CameraParam camera;
    std::string error;
    ASSERT_EQ(makeCameraParam({320, 240, 300.0, 300.0, 161.0, 118.0, 60.0, 1.0}, camera, error), 0);
    // Quadrants as printed: red top-left, green top-right, blue, yellow below.
    Scene scene{makeRgbImage(2, 2, 0, 0, 0), 80.0, 20.0};
    scene.picture.rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0};
    RgbImage frame;
    // Views off the image centre, where the distortion moves points most.
    for (const CameraPose& pose :
         {lookAt({60, -150, 260}, {-70, -40, 0}, 0.0), lookAt({-100, 60, 280}, {60, 50, 0}, 35.0),
          lookAt({20, -250, 140}, {-30, 60, 0}, -80.0)}) {
        renderFrame(scene, camera, pose, 2, frame);
        const auto pixel = [&](double x, double y) {
            const ProjectedPoint p = projectMarkerPoint(camera, pose, x, y);
            const long px = std::lround(p.x), py = std::lround(p.y);
            EXPECT_TRUE(px >= 0 && py >= 0 && px < 320 && py < 240) << px << "," << py;
            return &frame.rgb[(std::clamp(py, 0L, 239L) * 320 + std::clamp(px, 0L, 319L)) * 3];
        };
        for (int i = 0; i < 12; ++i) {
            // Quadrant centres in their colours (ink 25..235); ink inside corners, paper outside.
            const int q = i / 3, k = i % 3;
            const double sx = q % 2 ? 1 : -1, sy = q < 2 ? 1 : -1;
            EXPECT_NEAR(pixel(10 * sx, 10 * sy)[k], scene.picture.rgb[i] ? 235 : 25, 12)
                << "quadrant " << q << " " << k;
            EXPECT_LT(pixel(36 * sx, 36 * sy)[k], 40) << "corner " << q;
            EXPECT_GT(pixel(44.8 * sx, 44.8 * sy)[k], 220) << "corner " << q;
        }
    }
}

// Numbered stills and a raw movie (odd width: padded rows), read by Lumeko's reader, agree;
// the picture may be a PNG.
TEST(RenderTool, CommandLineStillsAndRawMovieShowTheSameFrames) {
    lumeko_test::TempDir dir;
    const std::string tools = LUMEKO_TOOLS_DIR;
    std::string error;
    ASSERT_EQ(writeImage(dir.file("picture.png"), makeRgbImage(2, 2, 200, 0, 0), 90, error), 0);
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {tools + "/lumeko-render", "--camera", "cam.dat", "--picture",
                                   "picture.png", "--path", "approach", "--frames", "3"});
        return lumeko_test::runProcess(dir.path(), args).status;
    };
    ASSERT_EQ(lumeko_test::runProcess(dir.path(), {tools + "/lumeko-camera", "write", "cam.dat",
                                                   "--size", "161x121", "--hfov", "60"})
                  .status,
              0);
    ASSERT_EQ(run({"--output", "f_%03d.jpg"}), 0);
    ASSERT_EQ(run({"--output", "raw.avi", "--raw"}), 0);
    const std::string truth = lumeko_test::readFile(dir.file("truth.csv"));
    EXPECT_EQ(std::count(truth.begin(), truth.end(), '\n'), 4);
    EXPECT_EQ(lumeko_test::readFile(dir.file("raw.csv")), truth);
    MovieFile movie;
    ASSERT_EQ(movie.open(dir.file("raw.avi").c_str()), 0);
    ASSERT_EQ(movie.openVideoStream(), 0);
    EXPECT_EQ(movie.info().length, 3u);
    ASSERT_EQ(movie.openDecoder(1), 0);
    std::vector<unsigned char> pixels(161 * 121 * 4 + FRAME_CONVERT_SLACK);
    const FrameImage frame{pixels.data(), 161, 121};
    for (int i = 0; i < 3; ++i) {
        RgbImage still;
        ASSERT_EQ(readImage(dir.file("f_00" + std::to_string(i) + ".jpg"), still, error), 0);
        long long number = -1;
        ASSERT_EQ(movie.decodePicture(number), MovieFile::Found::Picture);
        EXPECT_EQ(number, i);
        ASSERT_TRUE(movie.convertPicture(frame));
        double mean = 0.0;  // of |movie - still|; the frame holds blue, green, red, 255
        for (int k = 0; k < 161 * 121 * 3; ++k) {
            const int got = pixels[k / 3 * 4 + k % 3];
            mean += std::abs(got - still.rgb[k - k % 3 + 2 - k % 3]) / (161.0 * 121 * 3);
        }
        EXPECT_LT(mean, 2.0) << "frame " << i;  // the stills' JPEG loss
    }
    EXPECT_EQ(run({"--output", "f.jpg"}), 1);  // more than one frame needs a number field
}

// The renderer's truth keys are derived on their own; they must agree with the
// tracker's conversion (and its inverse) on any pose the paths can produce.
TEST(RenderTool, TruthKeysAgreeWithTheTrackersConversion) {
    std::mt19937 random(5);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (int n = 0; n < 500; ++n) {
        const Point3 position{400.0 * unit(random), 400.0 * unit(random),
                              50.0 + 400.0 * (unit(random) + 1.0)};
        const CameraPose pose =
            lookAt(position, {20.0 * unit(random), 20.0 * unit(random), 0.0}, 180.0 * unit(random));
        const KeyValues truth = keyValuesOfPose(pose);
        const std::optional<CameraKey> key = poseToCameraKey(pose);
        ASSERT_TRUE(key);
        const KeyRow row = keyRowOfCameraKey(*key, 1);
        EXPECT_NEAR(row.translateX, truth.translateX, 1e-12);
        EXPECT_NEAR(row.translateY, truth.translateY, 1e-12);
        EXPECT_NEAR(row.translateZ, truth.translateZ, 1e-12);
        EXPECT_NEAR(row.rotateY, truth.rotateY, 1e-9);
        EXPECT_NEAR(row.rotateX, truth.rotateX, 1e-9);
        EXPECT_NEAR(row.rotateZ, truth.rotateZ, 1e-9);
        const Pose back =
            cameraKeyToPose(cameraKeyOfRow({1, truth.translateX, truth.translateY, truth.translateZ,
                                            truth.rotateY, truth.rotateX, truth.rotateZ}));
        for (int i = 0; i < 12; ++i) {
            EXPECT_NEAR(back.m[i / 4][i % 4], pose.m[i / 4][i % 4], i % 4 == 3 ? 1e-9 : 1e-12);
        }
    }
}

}  // namespace
