#include "camera/camera_param.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "tests/support/test_support.h"

namespace {

CameraParam sampleCamera() {
    CameraParam param{};
    param.xsize = 640;
    param.ysize = 480;
    double mat[3][4] = {
        {700.5, 0.25, 320.75, -1.5}, {0.0, 705.125, 240.5, 2.0}, {0.0, 0.0, 1.0, 0.0}};
    for (int r = 0; r < 3; r++) {
        for (int c = 0; c < 4; c++)
            param.mat[r][c] = mat[r][c];
    }
    param.distFactor[0] = 318.5;
    param.distFactor[1] = 242.25;
    param.distFactor[2] = 31.5;
    param.distFactor[3] = 0.9875;
    return param;
}

std::string encode(const CameraParam& param) {
    unsigned char record[CAMERA_PARAM_RECORD_SIZE];
    arEncodeCameraParam(param, record);
    return std::string(reinterpret_cast<const char*>(record), sizeof record);
}

void expectSameCamera(const CameraParam& a, const CameraParam& b) {
    EXPECT_EQ(a.xsize, b.xsize);
    EXPECT_EQ(a.ysize, b.ysize);
    for (int r = 0; r < 3; r++) {
        for (int c = 0; c < 4; c++)
            EXPECT_EQ(a.mat[r][c], b.mat[r][c]) << r << "," << c;
    }
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(a.distFactor[i], b.distFactor[i]) << i;
}

TEST(CameraParamFile, RecordIsBigEndianFieldByField) {
    CameraParam param = sampleCamera();
    param.mat[0][0] = 1.0;
    param.distFactor[3] = -2.0;
    std::string bytes = encode(param);
    ASSERT_EQ(bytes.size(), 136u);
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x00\x00\x02\x80\x00\x00\x01\xE0", 8));
    EXPECT_EQ(bytes.substr(8, 8), std::string("\x3F\xF0\x00\x00\x00\x00\x00\x00", 8));
    EXPECT_EQ(bytes.substr(128, 8), std::string("\xC0\x00\x00\x00\x00\x00\x00\x00", 8));

    CameraParam decoded{};
    arSwapCameraParam(reinterpret_cast<const unsigned char*>(bytes.data()), decoded);
    expectSameCamera(decoded, param);
}

TEST(CameraParamFile, LoadsWholeRecordsAndRejectsShortFiles) {
    lumeko_test::TempDir dir;
    CameraParam first = sampleCamera();
    CameraParam second = sampleCamera();
    second.xsize = 320;
    second.mat[1][2] = 99.0;
    std::string two = encode(first) + encode(second);
    lumeko_test::writeFile(dir.file("cam.dat"), two);
    lumeko_test::writeFile(dir.file("short.dat"), two.substr(0, 135));

    CameraParam loaded[2]{};
    ASSERT_EQ(arLoadCameraParam(dir.file("cam.dat").c_str(), 2, loaded), 0);
    expectSameCamera(loaded[0], first);
    expectSameCamera(loaded[1], second);

    ASSERT_EQ(arLoadCameraParam(dir.file("cam.dat").c_str(), 1, loaded), 0);
    expectSameCamera(loaded[0], first);

    EXPECT_EQ(arLoadCameraParam(dir.file("short.dat").c_str(), 1, loaded), -1);
    EXPECT_EQ(arLoadCameraParam(dir.file("cam.dat").c_str(), 3, loaded), -1);
    EXPECT_EQ(arLoadCameraParam(dir.file("cam.dat").c_str(), 0, loaded), -1);
    EXPECT_EQ(arLoadCameraParam(dir.file("missing.dat").c_str(), 1, loaded), -1);
}

TEST(CameraParamFile, RecordsWithoutAUsableCameraFailToLoad) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    lumeko_test::TempDir dir;
    std::string path = dir.file("cam.dat");
    auto loads = [&](const CameraParam& param) {
        lumeko_test::writeFile(path, encode(param));
        CameraParam loaded = sampleCamera();
        loaded.xsize = 7;
        int result = arLoadCameraParam(path.c_str(), 1, &loaded);
        if (result != 0) {
            EXPECT_EQ(loaded.xsize, 7) << "a failed load must leave the record alone";
        }
        return result;
    };
    CameraParam bad = sampleCamera();
    EXPECT_EQ(loads(bad), 0);
    bad.xsize = 0;
    EXPECT_EQ(loads(bad), -1);
    bad = sampleCamera();
    bad.ysize = -480;
    EXPECT_EQ(loads(bad), -1);
    bad = sampleCamera();
    bad.mat[2][3] = nan;
    EXPECT_EQ(loads(bad), -1);
    bad = sampleCamera();
    bad.distFactor[2] = -inf;
    EXPECT_EQ(loads(bad), -1);
}

TEST(CameraParamResize, ScalesByTheWidthRatioOnly) {
    CameraParam source = sampleCamera();
    CameraParam half{}, tall{};
    ASSERT_EQ(arResizeCameraParam(source, 320, 240, half), 0);
    ASSERT_EQ(arResizeCameraParam(source, 320, 480, tall), 0);
    EXPECT_EQ(half.xsize, 320);
    EXPECT_EQ(half.ysize, 240);
    for (int c = 0; c < 4; c++) {
        EXPECT_EQ(half.mat[0][c], source.mat[0][c] * 0.5);
        EXPECT_EQ(half.mat[1][c], source.mat[1][c] * 0.5);
        EXPECT_EQ(half.mat[2][c], source.mat[2][c]);
    }
    EXPECT_EQ(half.distFactor[0], source.distFactor[0] * 0.5);
    EXPECT_EQ(half.distFactor[1], source.distFactor[1] * 0.5);
    EXPECT_EQ(half.distFactor[2], source.distFactor[2] * 4.0);
    EXPECT_EQ(half.distFactor[3], source.distFactor[3]);

    tall.ysize = 240;
    expectSameCamera(tall, half);
}

TEST(CameraParamPrint, PrintsTheFixedLayout) {
    CameraParam param = sampleCamera();
    param.mat[0][3] = -1234.567891;
    testing::internal::CaptureStdout();
    EXPECT_EQ(arPrintCameraParam(param), 0);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed,
              "--------------------------------------\n"
              "SIZE = 640, 480\n"
              "Distortion factor = 318.500000 242.250000 31.500000 0.987500\n"
              "700.50000 0.25000 320.75000 -1234.56789 \n"
              "0.00000 705.12500 240.50000 2.00000 \n"
              "0.00000 0.00000 1.00000 0.00000 \n"
              "--------------------------------------\n");
}

}  // namespace
