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
// many records and a missing file fail and leave the records alone (records
// without a usable camera: below).
TEST(CameraParamFile, LoadsWholeBigEndianRecordsOnly) {
    lumeko_test::TempDir dir;
    CameraParam other = {320,
                         240,
                         {{300, 0, 160, 0}, {0, 300, 120, 0}, {0, 0, 1, 0}},
                         {1, 2, 3, 4}},
                loaded[2]{};
    std::string two = encode(SAMPLE) + encode(other);
    EXPECT_EQ(two.substr(0, 16), std::string("\0\0\2\x80\0\0\1\xE0\x40\x85\xE4\0\0\0\0\0", 16));
    EXPECT_EQ(two.substr(128, 8), "\x3F\xEF\x99\x99\x99\x99\x99\x9A");
    lumeko_test::writeFile(dir.file("cam.dat"), two);
    lumeko_test::writeFile(dir.file("short.dat"), two.substr(0, 135));
    ASSERT_EQ(arLoadCameraParam(dir.file("cam.dat").c_str(), 2, loaded), 0);
    EXPECT_TRUE(sameCamera(loaded[0], SAMPLE) && sameCamera(loaded[1], other));
    EXPECT_EQ(arLoadCameraParam(dir.file("cam.dat").c_str(), 3, loaded), -1);
    for (const char* name : {"short.dat", "missing.dat"}) {
        EXPECT_EQ(arLoadCameraParam(dir.file(name).c_str(), 1, loaded), -1) << name;
        EXPECT_TRUE(sameCamera(loaded[0], SAMPLE)) << name;
    }
}

// A record that cannot be a camera is refused with a reason naming what is
// wrong, by the check and by the loader alike; cameras at the edges of what is
// allowed pass.
TEST(CameraParamCheck, RefusesRecordsThatCannotBeACameraWithAReason) {
    const CameraParam plain = {
        640, 480, {{554.256, 0, 320, 0}, {0, 554.256, 240, 0}, {0, 0, 1, 0}}, {320, 240, 0, 1}};
    struct Case {
        const char* what;
        void (*change)(CameraParam&);
        const char* reasonPart;
    };
    const Case refused[] = {
        {"scale 0", [](CameraParam& c) { c.distFactor[3] = 0; }, "distortion scale 0 is not"},
        {"negative scale", [](CameraParam& c) { c.distFactor[3] = -1; }, "scale -1 is not"},
        {"focal 0", [](CameraParam& c) { c.mat[0][0] = 0; }, "focal lengths (0, 554.256)"},
        {"negative fy", [](CameraParam& c) { c.mat[1][1] = -554; }, "not both positive"},
        {"factor 1e156", [](CameraParam& c) { c.distFactor[2] = 1e156; }, "folds the lens map"},
        {"factor just past the fold", [](CameraParam& c) { c.distFactor[2] = 92.6; }, "folds"},
        {"factor -1e156", [](CameraParam& c) { c.distFactor[2] = -1e156; }, "too strong"},
        {"third row", [](CameraParam& c) { c.mat[2][3] = 1; }, "(0, 0, 1, 1), not (0, 0, 1, 0)"},
        {"zero matrix", [](CameraParam& c) { c.mat[2][2] = 0; }, "third row"},
        {"lower triangle", [](CameraParam& c) { c.mat[1][0] = 3; }, "starts with 3, not 0"},
        {"centre right", [](CameraParam& c) { c.mat[0][2] = 640.5; }, "(640.5, 240) lies outside"},
        {"centre above", [](CameraParam& c) { c.mat[1][2] = -1; }, "outside the 640 x 480"},
        {"not finite", [](CameraParam& c) { c.distFactor[0] = NAN; }, "not finite"},
        {"lens centre", [](CameraParam& c) { c.distFactor[1] = 481; }, "centre (320, 481) lies"},
        {"height 0", [](CameraParam& c) { c.ysize = 0; }, "640 x 0 is not positive"},
        {"tiny scale", [](CameraParam& c) { c.distFactor[3] = 1e-320; }, "too strong"},
    };
    lumeko_test::TempDir dir;
    std::string reason;
    for (const Case& c : refused) {
        CameraParam camera = plain;
        c.change(camera);
        reason.clear();
        EXPECT_EQ(arCheckCameraParam(camera, &reason), -1) << c.what;
        EXPECT_NE(reason.find(c.reasonPart), std::string::npos) << c.what << ": " << reason;
        lumeko_test::writeFile(dir.file("cam.dat"), encode(plain) + encode(camera));
        CameraParam loaded[2];
        EXPECT_EQ(arLoadCameraParam(dir.file("cam.dat").c_str(), 2, loaded, &reason), -1);
        EXPECT_EQ(reason.rfind("record 2 of 2: ", 0), 0u) << reason;
    }
    EXPECT_EQ(arCheckCameraParam(plain, nullptr), 0);
    const Case accepted[] = {
        {"plain", [](CameraParam&) {}, ""},
        {"centre on the corner", [](CameraParam& c) { c.mat[0][2] = 640, c.mat[1][2] = 0; }, ""},
        {"skew and offsets", [](CameraParam& c) { c.mat[0][1] = 2, c.mat[1][3] = 5; }, ""},
        {"strong barrel", [](CameraParam& c) { c.distFactor[2] = 85; }, ""},
        {"pincushion", [](CameraParam& c) { c.distFactor[2] = -500; }, ""},
        {"scale", [](CameraParam& c) { c.distFactor[3] = 0.5; }, ""},
    };
    for (const Case& c : accepted) {
        CameraParam camera = plain;
        c.change(camera);
        EXPECT_EQ(arCheckCameraParam(camera, &reason), 0) << c.what << ": " << reason;
    }

    // A text file in place of the camera file, an empty one, a short one, none.
    std::string text;
    for (int line = 0; line < 12; line++)
        text += "camera 640 480 focal 554.256 centre 320 240\n";
    lumeko_test::writeFile(dir.file("text.dat"), text);
    lumeko_test::writeFile(dir.file("empty.dat"), "");
    lumeko_test::writeFile(dir.file("short.dat"), encode(plain).substr(0, 100));
    const std::pair<const char*, const char*> files[] = {
        {"text.dat", "third row"},
        {"empty.dat", "the file is empty"},
        {"short.dat", "the file ends 100 bytes into the 136-byte record"},
        {"missing.dat", "No such file"},
        {"", "Is a directory"}};
    for (const auto& [name, reasonPart] : files) {
        CameraParam loaded;
        EXPECT_EQ(arLoadCameraParam(dir.file(name).c_str(), 1, &loaded, &reason), -1) << name;
        EXPECT_NE(reason.find(reasonPart), std::string::npos) << name << ": " << reason;
    }
}

// Resizing refuses sizes that are not positive and factors that overflow, and
// leaves the destination alone then.
TEST(CameraParamResize, RefusesValuesThatStopBeingFinite) {
    CameraParam camera = SAMPLE, resized = SAMPLE;
    camera.distFactor[2] = 1e307;  // divided by the squared width ratio 1 / 64
    EXPECT_EQ(arResizeCameraParam(camera, 80, 60, resized), -1);
    camera = SAMPLE;
    camera.mat[0][0] = 1e308;  // times the width ratio 4
    EXPECT_EQ(arResizeCameraParam(camera, 2560, 1920, resized), -1);
    EXPECT_EQ(arResizeCameraParam(SAMPLE, 0, 480, resized), -1);
    // A scale of 1e-305 undistorts the record's own picture to finite offsets
    // (as a fuzzer found) but not a picture six times as wide.
    camera = {640, 480, {{1e-40, 0, 320, 0}, {0, 554, 240, 0}, {0, 0, 1, 0}}, {0, 0, 0, 1e-305}};
    ASSERT_EQ(arCheckCameraParam(camera, nullptr), 0);
    EXPECT_EQ(arResizeCameraParam(camera, 640, 480, resized), 0);
    resized = SAMPLE;
    EXPECT_EQ(arResizeCameraParam(camera, 4000, 3000, resized), -1);
    EXPECT_EQ(arResizeCameraParam(SAMPLE, 640, -1, resized), -1);
    EXPECT_TRUE(sameCamera(resized, SAMPLE));
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
        arPrintCameraParam(camera);
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
