#include "camera/camera_param.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "camera/distortion.h"
#include "tests/support/test_support.h"

namespace {

const CameraParam SAMPLE = {640,
                            480,
                            {{700.5, 0.25, 320.75, -1.5}, {0, 705.125, 240.5, 2}, {0, 0, 1, 0}},
                            {318.5, 242.25, 31.5, 0.9875}};

std::string encode(const CameraParam& param) {
    unsigned char record[CAMERA_PARAM_RECORD_SIZE];
    arEncodeCameraParam(param, record);
    return std::string(reinterpret_cast<const char*>(record), sizeof record);
}

bool sameCamera(const CameraParam& a, const CameraParam& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Records are big-endian field by field and load whole; a missing record
// fails and leaves the records alone.
TEST(CameraParamFile, LoadsWholeBigEndianRecordsOnly) {
    lumeko_test::TempDir dir;
    CameraParam other = SAMPLE, loaded[2]{};
    other.ysize = 481;
    const std::string two = encode(SAMPLE) + encode(other);
    EXPECT_EQ(two.substr(0, 16), std::string("\0\0\2\x80\0\0\1\xE0\x40\x85\xE4\0\0\0\0\0", 16));
    EXPECT_EQ(two.substr(128, 8), "\x3F\xEF\x99\x99\x99\x99\x99\x9A");
    lumeko_test::writeFile(dir.file("cam.dat"), two);
    ASSERT_TRUE(arLoadCameraParam(dir.file("cam.dat").c_str(), 2, loaded).ok());
    EXPECT_TRUE(sameCamera(loaded[0], SAMPLE) && sameCamera(loaded[1], other));
    EXPECT_EQ(arLoadCameraParam(dir.file("cam.dat").c_str(), 3, loaded).status,
              CameraStatus::TooShort);
    const CameraResult missing = arLoadCameraParam(dir.file("none.dat").c_str(), 1, loaded);
    EXPECT_EQ(missing.status, CameraStatus::CannotOpen);
    EXPECT_EQ(missing.error, ENOENT);
}

// A record that cannot be a camera is refused with a reason naming what is
// wrong, by the check and by the loader alike (naming the record); cameras at
// the edges of what is allowed pass. (Files without a record: the golden
// runs.)
TEST(CameraParamCheck, RefusesRecordsThatCannotBeACameraWithAReason) {
    const CameraParam plain = {
        640, 480, {{554.256, 0, 320, 0}, {0, 554.256, 240, 0}, {0, 0, 1, 0}}, {320, 240, 0, 1}};
    struct Case {
        void (*change)(CameraParam&);
        const char* reasonPart;  // empty: accepted
    };
    const Case cases[] = {
        {[](CameraParam& c) { c.distFactor[3] = 0; }, "distortion scale 0 is not"},
        {[](CameraParam& c) { c.mat[1][1] = -554; }, "not both positive"},
        {[](CameraParam& c) { c.distFactor[2] = 92.6; }, "folds the lens map"},
        {[](CameraParam& c) { c.distFactor[2] = -1e156; }, "too strong"},
        {[](CameraParam& c) { c.mat[2][3] = 1; }, "(0, 0, 1, 1), not (0, 0, 1, 0)"},
        {[](CameraParam& c) { c.mat[1][0] = 3; }, "starts with 3, not 0"},
        {[](CameraParam& c) { c.mat[0][2] = 640.5; }, "(640.5, 240) lies outside"},
        {[](CameraParam& c) { c.distFactor[0] = NAN; }, "not finite"},
        {[](CameraParam& c) { c.distFactor[1] = 481; }, "centre (320, 481) lies"},
        {[](CameraParam& c) { c.ysize = 0; }, "640 x 0 is not positive"},
        {[](CameraParam& c) { c.distFactor[3] = 1e-320; }, "too strong"},
        {[](CameraParam&) {}, ""},
        {[](CameraParam& c) { c.mat[0][2] = 640, c.mat[1][2] = 0; }, ""},
        {[](CameraParam& c) { c.mat[0][1] = 2, c.mat[1][3] = 5; }, ""},
        {[](CameraParam& c) { c.distFactor[2] = 85; }, ""},
        {[](CameraParam& c) { c.distFactor[2] = -500; }, ""},
    };
    lumeko_test::TempDir dir;
    for (const Case& c : cases) {
        CameraParam camera = plain, loaded[2];
        c.change(camera);
        const CameraStatus expected = *c.reasonPart ? CameraStatus::NotACamera : CameraStatus::Ok;
        const CameraResult check = arCheckCameraParam(camera);
        EXPECT_EQ(check.status, expected) << c.reasonPart << check.reason;
        EXPECT_NE(check.reason.find(c.reasonPart), std::string::npos) << c.reasonPart;
        lumeko_test::writeFile(dir.file("cam.dat"), encode(plain) + encode(camera));
        const CameraResult load = arLoadCameraParam(dir.file("cam.dat").c_str(), 2, loaded);
        EXPECT_EQ(load.status, expected);
        EXPECT_TRUE(load.ok() || load.reason.rfind("record 2 of 2: ", 0) == 0) << load.reason;
    }
}

// Resizing scales by the width ratio alone; it refuses sizes that are not
// positive, factors that overflow, and a scale of 1e-305 that undistorts the
// record's own picture to finite offsets (as a fuzzer found) but not a
// picture six times as wide, leaving the destination alone.
TEST(CameraParamResize, ScalesByTheWidthRatioAndRefusesValuesThatStopBeingFinite) {
    CameraParam resized{},
        expected = {320,
                    240,
                    {{350.25, 0.125, 160.375, -0.75}, {0, 352.5625, 120.25, 1}, {0, 0, 1, 0}},
                    {159.25, 121.125, 126, 0.9875}};
    ASSERT_EQ(arResizeCameraParam(SAMPLE, 320, 240, resized), CameraStatus::Ok);
    EXPECT_TRUE(sameCamera(resized, expected));
    CameraParam overflowing = SAMPLE, tiny = {640,
                                              480,
                                              {{1e-40, 0, 320, 0}, {0, 554, 240, 0}, {0, 0, 1, 0}},
                                              {0, 0, 0, 1e-305}};
    overflowing.distFactor[2] = 1e307;  // divided by the squared width ratio 1 / 64
    ASSERT_TRUE(arCheckCameraParam(tiny).ok());
    EXPECT_EQ(arResizeCameraParam(tiny, 640, 480, resized), CameraStatus::Ok);
    resized = SAMPLE;
    EXPECT_EQ(arResizeCameraParam(overflowing, 80, 60, resized), CameraStatus::NotResizable);
    EXPECT_EQ(arResizeCameraParam(tiny, 4000, 3000, resized), CameraStatus::NotResizable);
    EXPECT_EQ(arResizeCameraParam(SAMPLE, 0, 480, resized), CameraStatus::NotResizable);
    EXPECT_TRUE(sameCamera(resized, SAMPLE));
}

// The text printf's "%f" and "%7.5f " make: signed zeros, halves rounded as
// their binary values lie, numbers too wide for the field; printing writes
// exactly that text.
TEST(CameraParamPrint, FormatsAsPrintfDoesAndPrintsTheSameText) {
    const CameraParam camera{7,
                             -3,
                             {{-0.0, 5e-6, 4.999999e-6, 123456789.125},
                              {1000.0, -5e-6, 0.5, -2.0},
                              {0.0, 0.0, 1.0, 0.0}},
                             {-0.0, 0.0000005, 1e20, -12.3456785}};
    const std::string rule = "--------------------------------------\n";
    const std::string expected =
        rule + "SIZE = 7, -3\nDistortion factor = -0.000000 0.000000 " +
        "100000000000000000000.000000 -12.345678\n-0.00000 0.00001 0.00000 123456789.12500 \n" +
        "1000.00000 -0.00001 0.50000 -2.00000 \n0.00000 0.00000 1.00000 0.00000 \n" + rule;
    EXPECT_EQ(arFormatCameraParam(camera), expected);
    testing::internal::CaptureStdout();
    arPrintCameraParam(camera);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
}

// Three Newton steps: round trips come back within their reach, not exactly;
// the centre maps onto itself.
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

}  // namespace
