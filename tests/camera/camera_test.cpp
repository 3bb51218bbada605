#include "camera/camera_param.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "camera/distortion.h"
#include "tests/support/test_support.h"

const CameraParam SAMPLE = {640,
                            480,
                            {{700.5, 0.25, 320.75, -1.5}, {0, 705.125, 240.5, 2}, {0, 0, 1, 0}},
                            {318.5, 242.25, 31.5, 0.9875}};

static std::string encode(const CameraParam& param) {
    unsigned char record[CAMERA_PARAM_RECORD_SIZE];
    arEncodeCameraParam(param, record);
    return std::string(reinterpret_cast<const char*>(record), sizeof record);
}

static bool sameCamera(const CameraParam& a, const CameraParam& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Records are big-endian field by field and load whole. A short file, too
// many records, a missing file and a record without a usable camera (size not
// positive, a value not finite) fail and leave the records alone.
TEST(CameraParamFile, LoadsWholeUsableBigEndianRecordsOnly) {
    lumeko_test::TempDir dir;
    CameraParam other = {320, 240, {}, {1, 2, 3, 4}}, loaded[2]{};
    CameraParam bad[4] = {other, other, other, other};
    bad[0].xsize = 0;
    bad[1].ysize = -480;
    bad[2].mat[2][3] = NAN;
    bad[3].distFactor[2] = -INFINITY;
    std::string two = encode(SAMPLE) + encode(other);
    EXPECT_EQ(two.substr(0, 16), std::string("\0\0\2\x80\0\0\1\xE0\x40\x85\xE4\0\0\0\0\0", 16));
    EXPECT_EQ(two.substr(128, 8), "\x3F\xEF\x99\x99\x99\x99\x99\x9A");
    lumeko_test::writeFile(dir.file("cam.dat"), two);
    lumeko_test::writeFile(dir.file("short.dat"), two.substr(0, 135));
    for (int i = 0; i < 4; i++)
        lumeko_test::writeFile(dir.file(std::to_string(i)), encode(bad[i]));
    ASSERT_EQ(arLoadCameraParam(dir.file("cam.dat").c_str(), 2, loaded), 0);
    EXPECT_TRUE(sameCamera(loaded[0], SAMPLE) && sameCamera(loaded[1], other));
    EXPECT_EQ(arLoadCameraParam(dir.file("cam.dat").c_str(), 3, loaded), -1);
    for (const char* name : {"short.dat", "missing.dat", "0", "1", "2", "3"}) {
        EXPECT_EQ(arLoadCameraParam(dir.file(name).c_str(), 1, loaded), -1) << name;
        EXPECT_TRUE(sameCamera(loaded[0], SAMPLE)) << name;
    }
}

TEST(CameraParamResize, ScalesByTheWidthRatioOnly) {
    CameraParam resized{},
        expected = {320,
                    0,
                    {{350.25, 0.125, 160.375, -0.75}, {0, 352.5625, 120.25, 1}, {0, 0, 1, 0}},
                    {159.25, 121.125, 126, 0.9875}};
    for (int height : {240, 480}) {
        expected.ysize = height;
        ASSERT_EQ(arResizeCameraParam(SAMPLE, 320, height, resized), 0);
        EXPECT_TRUE(sameCamera(resized, expected)) << height;
    }
}

TEST(CameraParamPrint, PrintsTheFixedLayout) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(arPrintCameraParam(SAMPLE), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "--------------------------------------\n"
              "SIZE = 640, 480\n"
              "Distortion factor = 318.500000 242.250000 31.500000 0.987500\n"
              "700.50000 0.25000 320.75000 -1.50000 \n"
              "0.00000 705.12500 240.50000 2.00000 \n"
              "0.00000 0.00000 1.00000 0.00000 \n"
              "--------------------------------------\n");
}

// The formatted text is what printf's "%f" and "%7.5f " make in the C locale,
// for numbers of every size and sign; printing writes exactly that text.
TEST(CameraParamPrint, FormatsAsPrintfDoesAndPrintsTheSameText) {
    std::mt19937 rng(8);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-8, 40);
    const double special[] = {0.0, -0.0, 5e-6, -5e-6, 4.999999e-6, 1e300, -0.000005, 123456789.125};
    for (int trial = 0; trial < 200; trial++) {
        CameraParam camera{trial, -trial, {}, {}};
        double* values = &camera.mat[0][0];
        for (int i = 0; i < 16; i++) {
            const double v = trial < 16 ? special[(trial + i) % 8]
                                        : mantissa(rng) * std::pow(10.0, exponent(rng));
            (i < 12 ? values[i] : camera.distFactor[i - 12]) = v;
        }
        char line[800];
        std::string expected = "--------------------------------------\n";
        std::snprintf(line, sizeof line, "SIZE = %d, %d\nDistortion factor =", camera.xsize,
                      camera.ysize);
        expected += line;
        for (double f : camera.distFactor) {
            std::snprintf(line, sizeof line, " %f", f);
            expected += line;
        }
        expected += "\n";
        for (int i = 0; i < 12; i++) {
            std::snprintf(line, sizeof line, "%7.5f %s", values[i], i % 4 == 3 ? "\n" : "");
            expected += line;
        }
        expected += "--------------------------------------\n";
        ASSERT_EQ(arFormatCameraParam(camera), expected) << trial;
        testing::internal::CaptureStdout();
        EXPECT_EQ(arPrintCameraParam(camera), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
    }
}

// Three Newton steps: round trips come back within their reach, not exactly.
TEST(Distortion, InvertsWithThreeNewtonStepsAndKeepsTheCentre) {
    std::mt19937 r(20261206);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    double ix, iy, bx, by;
    for (int i = 0; i < 500; i++) {
        const double f[4] = {290 + 64 * u(r), 210 + 64 * u(r), 60 * u(r), 0.9 + 0.2 * u(r)};
        const double ox = 640 * u(r), oy = 480 * u(r);
        arObservedToIdeal(f, ox, oy, &ix, &iy);
        arIdealToObserved(f, ix, iy, &bx, &by);
        EXPECT_LT(std::hypot(bx - ox, by - oy), 1e-6) << i;
    }
    const double strong[4] = {320.0, 240.0, 60.0, 1.0};
    arObservedToIdeal(strong, 640.0, 480.0, &ix, &iy);
    arIdealToObserved(strong, ix, iy, &bx, &by);
    EXPECT_TRUE(std::fabs(bx - 640.0) > 1e-9 && std::fabs(bx - 640.0) < 1e-6) << bx;
    arIdealToObserved(strong, 320.0, 240.0, &bx, &by);
    arObservedToIdeal(strong, 320.0, 240.0, &ix, &iy);
    EXPECT_TRUE(bx == 320.0 && by == 240.0 && ix == 320.0 && iy == 240.0);
}
