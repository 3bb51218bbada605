#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "app/movie_file.h"
#include "pose/rotation_angles.h"
#include "tests/support/test_support.h"
#include "tools/camera/camera_file.h"
#include "tools/render/avi_writer.h"
#include "tools/render/camera_path.h"
#include "tools/render/pose_truth.h"
#include "tools/render/scene_render.h"

namespace {

constexpr double WIDTH = 80.0;

// A 320 x 240 camera with strong barrel distortion, so that a renderer taking
// the distortion the wrong way round misplaces the marker by several pixels.
CameraParam distortedCamera() {
    CameraSettings settings{320, 240, 300.0, 300.0, 161.0, 118.0, 60.0, 1.0};
    CameraParam camera;
    std::string error;
    makeCameraParam(settings, camera, error);
    return camera;
}

// Quadrants of the marker's picture: red top-left, green top-right, blue
// bottom-left, yellow bottom-right (as printed, y up).
Scene quadrantScene() {
    Scene scene;
    scene.picture = makeRgbImage(2, 2, 0, 0, 0);
    const unsigned char colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};
    std::memcpy(scene.picture.rgb.data(), colours, sizeof colours);
    scene.markerWidth = WIDTH;
    scene.paperMargin = 20.0;
    return scene;
}

const unsigned char* pixelAt(const RgbImage& frame, const ProjectedPoint& p) {
    const int x = static_cast<int>(std::lround(p.x)), y = static_cast<int>(std::lround(p.y));
    EXPECT_TRUE(x >= 0 && y >= 0 && x < frame.width && y < frame.height) << x << "," << y;
    return &frame.rgb[(static_cast<size_t>(y) * frame.width + x) * 3];
}

TEST(RenderTool, MarkerLandsWhereThePoseProjectsIt) {
    const CameraParam camera = distortedCamera();
    const Scene scene = quadrantScene();
    // Views off the image centre, where the distortion moves points most.
    const CameraPose poses[] = {
        lookAt({60, -150, 260}, {-70, -40, 0}, 0.0),
        lookAt({-100, 60, 280}, {60, 50, 0}, 35.0),
        lookAt({20, -250, 140}, {-30, 60, 0}, -80.0),
    };
    RgbImage frame;
    for (const CameraPose& pose : poses) {
        renderFrame(scene, camera, pose, 2, frame);
        // Quadrant centres show their colours (ink range 25..235).
        const double q = WIDTH / 8;
        const double centres[4][2] = {{-q, q}, {q, q}, {-q, -q}, {q, -q}};
        for (int i = 0; i < 4; ++i) {
            const unsigned char* p =
                pixelAt(frame, projectMarkerPoint(camera, pose, centres[i][0], centres[i][1]));
            const unsigned char* want = &scene.picture.rgb[i * 3];
            for (int k = 0; k < 3; ++k) {
                EXPECT_NEAR(p[k], want[k] ? 235 : 25, 12) << "quadrant " << i << " channel " << k;
            }
        }
        // Just inside each corner of the black square is ink, just outside paper.
        const double corners[4][2] = {{-1, 1}, {1, 1}, {1, -1}, {-1, -1}};
        for (const auto& c : corners) {
            const unsigned char* in = pixelAt(
                frame, projectMarkerPoint(camera, pose, 0.45 * WIDTH * c[0], 0.45 * WIDTH * c[1]));
            const unsigned char* out = pixelAt(
                frame, projectMarkerPoint(camera, pose, 0.56 * WIDTH * c[0], 0.56 * WIDTH * c[1]));
            EXPECT_LT(in[0] + in[1] + in[2], 3 * 40);
            EXPECT_GT(out[0] + out[1] + out[2], 3 * 220);
        }
    }
}

TEST(RenderTool, KeyValuesOfKnownCameras) {
    struct Case {
        CameraPose pose;
        double keys[6];  // translateX, translateY, translateZ, rotateY, rotateX, rotateZ
    };
    const double s60 = std::sqrt(3.0) / 2.0;
    // Camera 400 away, 60 degrees up: south of the marker, turned 30 degrees
    // about its view, and east of the marker.
    const Case cases[] = {
        {lookAt({0, -200, 400 * s60}, {0, 0, 0}, 0.0), {0.0, 2 * s60, 1.0, 0.0, -60.0, 0.0}},
        {lookAt({0, -200, 400 * s60}, {0, 0, 0}, 30.0), {0.0, 2 * s60, 1.0, 0.0, -60.0, -30.0}},
        {lookAt({200, 0, 400 * s60}, {0, 0, 0}, 0.0), {1.0, 2 * s60, 0.0, 90.0, -60.0, 0.0}},
    };
    for (const Case& c : cases) {
        const KeyValues k = keyValuesOfPose(c.pose);
        const double got[6] = {k.translateX, k.translateY, k.translateZ,
                               k.rotateY,    k.rotateX,    k.rotateZ};
        for (int i = 0; i < 6; ++i) {
            EXPECT_NEAR(got[i], c.keys[i], 1e-9) << "value " << i;
        }
    }
}

TEST(RenderTool, KeyValuesRebuildTheCameraOfAnyPose) {
    std::mt19937 generator(5);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int trial = 0; trial < 200; ++trial) {
        const Point3 position{300 * u(generator), 300 * u(generator),
                              50 + 300 * (u(generator) + 1)};
        const Point3 target{50 * u(generator), 50 * u(generator), 0.0};
        const CameraPose pose = lookAt(position, target, 180.0 * u(generator));
        const KeyValues k = keyValuesOfPose(pose);
        EXPECT_NEAR(k.translateX, 0.005 * position.x, 1e-9);
        EXPECT_NEAR(k.translateY, 0.005 * position.z, 1e-9);
        EXPECT_NEAR(k.translateZ, -0.005 * position.y, 1e-9);
        // a = rotateY + 90, b = 90 - rotateX, c = a - rotateZ - 90, in degrees.
        const double deg = M_PI / 180.0;
        const double a = (k.rotateY + 90.0) * deg, b = (90.0 - k.rotateX) * deg;
        const double c = a - (k.rotateZ + 90.0) * deg;
        double camera[3][3];
        arAnglesToRotation(a, b, c, camera);
        for (int r = 0; r < 3; ++r) {
            for (int col = 0; col < 3; ++col) {
                // the camera-to-marker rotation is the transpose of the pose's
                EXPECT_NEAR(camera[r][col], pose.m[col][r], 1e-9) << trial;
            }
        }
    }
}

TEST(RenderTool, PathsKeepTheirPromises) {
    CameraSettings settings{640, 480, 554.256, 554.256, 320, 240, 0, 1};
    CameraParam camera;
    std::string error;
    ASSERT_EQ(makeCameraParam(settings, camera, error), 0);
    const PathKind always[] = {PathKind::Orbit, PathKind::Approach, PathKind::Shake};
    for (PathKind kind : always) {
        for (int i = 0; i < 60; ++i) {
            EXPECT_EQ(viewOfMarker(camera, pathPose(kind, i, 60, WIDTH, 5 * WIDTH), WIDTH).visible,
                      1)
                << static_cast<int>(kind) << " frame " << i;
        }
    }
    int hidden = 0;
    for (int i = 0; i < 60; ++i) {
        hidden +=
            1 -
            viewOfMarker(camera, pathPose(PathKind::Exit, i, 60, WIDTH, 5 * WIDTH), WIDTH).visible;
    }
    EXPECT_GT(hidden, 10);
    const double nearSide =
        viewOfMarker(camera, pathPose(PathKind::Approach, 59, 60, WIDTH, 400), WIDTH).minSide;
    const double farSide =
        viewOfMarker(camera, pathPose(PathKind::Approach, 0, 60, WIDTH, 400), WIDTH).minSide;
    EXPECT_GT(nearSide, 3.5 * farSide);
}

// Fills a frame with a pattern that shows any misplaced row, column or channel.
RgbImage testCard(int width, int height, int seed) {
    RgbImage frame = makeRgbImage(width, height, 0, 0, 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char* p = &frame.rgb[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = static_cast<unsigned char>(x * 4 + seed);
            p[1] = static_cast<unsigned char>(y * 4);
            p[2] = static_cast<unsigned char>((x / 8 + y / 8) % 2 ? 200 : 40);
        }
    }
    return frame;
}

TEST(RenderTool, MoviesReadBackThroughLumekosMovieReader) {
    lumeko_test::TempDir dir;
    const int width = 61, height = 33;  // odd width: rows need padding
    for (bool motionJpeg : {false, true}) {
        const std::string path = dir.file(motionJpeg ? "mjpeg.avi" : "raw.avi");
        AviWriter writer;
        std::string error;
        ASSERT_EQ(aviOpen(writer, path, width, height, 25, motionJpeg, 95, error), 0) << error;
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(aviWriteFrame(writer, testCard(width, height, i * 50), error), 0) << error;
        }
        ASSERT_EQ(aviClose(writer, error), 0) << error;

        const std::string bytes = lumeko_test::readFile(path);
        uint32_t riffSize = 0;
        std::memcpy(&riffSize, bytes.data() + 4, 4);  // little-endian host
        EXPECT_EQ(riffSize + 8, bytes.size());

        ASSERT_EQ(openMovieFile(path.c_str()), 0);
        ASSERT_EQ(openMovieVideoStream(), 0);
        const MovieInfo info = movieFileInfo();
        EXPECT_EQ(info.width, width);
        EXPECT_EQ(info.height, height);
        EXPECT_EQ(info.rate / static_cast<double>(info.scale), 25.0);
        EXPECT_EQ(info.length, 3u);
        ASSERT_EQ(openMovieDecoder(1), 0);
        MovieFrame frame;
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(readMovieFrame(frame), 1);
            EXPECT_EQ(frame.number, i);
            const RgbImage card = testCard(width, height, i * 50);
            double worst = 0.0, mean = 0.0;
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    for (int k = 0; k < 3; ++k) {
                        const int got = frame.rows[y * frame.stride + x * 3 + k];
                        const int want = card.rgb[(y * width + x) * 3 + (2 - k)];
                        worst = std::max(worst, std::fabs(got - want) + 0.0);
                        mean += std::fabs(got - want) / (3.0 * width * height);
                    }
                }
            }
            if (!motionJpeg) {
                EXPECT_EQ(worst, 0.0) << "frame " << i;
            }
            EXPECT_LT(mean, motionJpeg ? 3.0 : 0.5) << "frame " << i;
        }
        EXPECT_EQ(readMovieFrame(frame), 0);
        closeMovieFile();
    }
}

TEST(RenderTool, CommandLineWritesNumberedStillsAndTheirTruth) {
    lumeko_test::TempDir dir;
    const std::string tools = LUMEKO_TOOLS_DIR;
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), tools + "/lumeko-render");
        return lumeko_test::runProcess(dir.path(), args);
    };
    ASSERT_EQ(lumeko_test::runProcess(dir.path(), {tools + "/lumeko-camera", "write", "cam.dat",
                                                   "--size", "160x120", "--hfov", "60"})
                  .status,
              0);
    std::string error;
    ASSERT_EQ(writeImage(dir.file("picture.ppm"), quadrantScene().picture, 90, error), 0);
    const std::vector<std::string> scene = {"--camera",    "cam.dat", "--picture",
                                            "picture.ppm", "--path",  "approach"};
    auto stills = scene;
    stills.insert(stills.end(), {"--frames", "3", "--output", "f_%03d.jpg"});
    auto rendered = run(stills);
    ASSERT_EQ(rendered.status, 0) << rendered.err;
    for (const char* name : {"f_000.jpg", "f_001.jpg", "f_002.jpg"}) {
        EXPECT_TRUE(lumeko_test::fileExists(dir.file(name))) << name;
    }
    const std::string truth = lumeko_test::readFile(dir.file("truth.csv"));
    EXPECT_EQ(truth.rfind("frame,visible,min_side_px,area_px,centre_x,centre_y,r00,", 0), 0u);
    EXPECT_EQ(std::count(truth.begin(), truth.end(), '\n'), 4);

    auto unnumbered = scene;
    unnumbered.insert(unnumbered.end(), {"--frames", "2", "--output", "f.jpg"});
    EXPECT_EQ(run(unnumbered).status, 1);
    auto raw = scene;
    raw.insert(raw.end(), {"--frames", "2", "--raw", "--output", "m.avi", "--truth", "t.csv"});
    EXPECT_EQ(run(raw).status, 0);
    EXPECT_TRUE(lumeko_test::fileExists(dir.file("t.csv")));
    EXPECT_EQ(run({"--output", "x.avi", "--camera", "missing.dat"}).status, 1);
}

}  // namespace
