#include <gtest/gtest.h>

#include <cmath>

#include "camera/camera_param.h"
#include "tests/support/test_support.h"
#include "tools/camera/camera_file.h"

namespace {

const std::string CAMERA_TOOL = std::string(LUMEKO_TOOLS_DIR) + "/lumeko-camera";

TEST(CameraTool, WrittenFileReadsBackAsTheGivenCamera) {
    lumeko_test::TempDir dir;
    CameraSettings settings;
    settings.width = 1280;
    settings.height = 720;
    settings.fx = 1001.5;
    settings.fy = 998.25;
    settings.cx = 641.75;
    settings.cy = 355.5;
    settings.distortionCoefficient = 12.5;
    settings.distortionScale = 0.995;
    CameraParam param;
    std::string error;
    ASSERT_EQ(makeCameraParam(settings, param, error), 0) << error;
    ASSERT_EQ(writeCameraFile(dir.file("cam.dat"), &param, 1, error), 0) << error;
    EXPECT_EQ(lumeko_test::readFile(dir.file("cam.dat")).size(), 136u);

    CameraParam back;
    ASSERT_EQ(arLoadCameraParam(dir.file("cam.dat").c_str(), 1, &back), 0);
    EXPECT_EQ(back.xsize, 1280);
    EXPECT_EQ(back.ysize, 720);
    const double mat[3][4] = {{1001.5, 0, 641.75, 0}, {0, 998.25, 355.5, 0}, {0, 0, 1, 0}};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) {
            EXPECT_EQ(back.mat[r][c], mat[r][c]) << r << "," << c;
        }
    }
    const double dist[4] = {641.75, 355.5, 12.5, 0.995};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(back.distFactor[i], dist[i]) << i;
    }
}

TEST(CameraTool, FieldOfViewGivesTheFocalLength) {
    EXPECT_DOUBLE_EQ(focalFromHorizontalFov(640, 90.0), 320.0);
    EXPECT_NEAR(focalFromHorizontalFov(640, 60.0), 320.0 * std::sqrt(3.0), 1e-9);
}

TEST(CameraTool, RefusesCamerasThatMakeNoSense) {
    const CameraSettings good{640, 480, 500, 500, 320, 240, 0, 1};
    CameraParam param;
    std::string error;
    ASSERT_EQ(makeCameraParam(good, param, error), 0);
    CameraSettings bad[] = {good, good, good, good, good, good};
    bad[0].width = 0;
    bad[1].height = -480;
    bad[2].fx = 0.0;
    bad[3].fy = -1.0;
    bad[4].distortionScale = 0.0;
    bad[5].cx = NAN;
    for (const CameraSettings& settings : bad) {
        EXPECT_EQ(makeCameraParam(settings, param, error), -1);
        EXPECT_FALSE(error.empty());
    }
}

TEST(CameraTool, CommandLineWritesPrintsAndRefuses) {
    lumeko_test::TempDir dir;
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), CAMERA_TOOL);
        return lumeko_test::runProcess(dir.path(), args);
    };
    auto written = run({"write", "cam.dat", "--size", "640x480", "--hfov", "90"});
    ASSERT_EQ(written.status, 0) << written.err;
    auto printed = run({"print", "cam.dat"});
    EXPECT_EQ(printed.status, 0);
    EXPECT_EQ(printed.out,
              "--------------------------------------\n"
              "SIZE = 640, 480\n"
              "Distortion factor = 320.000000 240.000000 0.000000 1.000000\n"
              "320.00000 0.00000 320.00000 0.00000 \n"
              "0.00000 320.00000 240.00000 0.00000 \n"
              "0.00000 0.00000 1.00000 0.00000 \n"
              "--------------------------------------\n");

    auto refused = run({"write", "bad.dat", "--size", "640x480", "--focal", "-5,500"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("focal lengths must be positive"), std::string::npos);
    EXPECT_FALSE(lumeko_test::fileExists(dir.file("bad.dat")));
    EXPECT_EQ(run({"write", "bad.dat", "--size", "0x480", "--hfov", "60"}).status, 1);
    EXPECT_EQ(run({"write", "bad.dat", "--size", "640x480"}).status, 1);
    EXPECT_EQ(run({"print", "missing.dat"}).status, 1);
    EXPECT_EQ(run({"--help"}).status, 0);
}

}  // namespace
