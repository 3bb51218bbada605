// Lumeko refuses a camera file that cannot describe a camera before it
// tracks anything: the documented message, a line with the reason, the
// pause, status 1 and no camera-motion file.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "camera/camera_param.h"
#include "tests/support/media_fixtures.h"
#include "tests/support/test_support.h"

namespace {

using namespace lumeko_test;

const CameraParam SCENE_CAMERA = {
    SCENE_WIDTH, SCENE_HEIGHT, {{160, 0, 80, 0}, {0, 160, 60, 0}, {0, 0, 1, 0}}, {80, 60, 0, 1}};

std::string encoded(const CameraParam& camera) {
    unsigned char record[CAMERA_PARAM_RECORD_SIZE];
    arEncodeCameraParam(camera, record);
    return std::string(record, record + sizeof record);
}

TEST(CameraRefusal, EachImplausibleRecordIsRefusedWithItsReason) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("Data"));
    writeFile(dir.file("marker.pat"), markerScenePattern());
    writeMarkerStill(dir.file("still.jpg"), JpegColour::Rgb);
    auto withCamera = [](void (*change)(CameraParam&)) {
        CameraParam camera = SCENE_CAMERA;
        change(camera);
        return encoded(camera);
    };
    // Half the frame's width: resizing doubles a focal length of 1e308.
    CameraParam half = SCENE_CAMERA;
    half.xsize = 80;
    half.mat[0][0] = 1e308;
    half.mat[0][2] = half.distFactor[0] = 40;
    // The checks' other reasons are the camera tests'; a short record is a golden run.
    const std::pair<std::string, std::string> cases[] = {
        {withCamera([](CameraParam& c) { c.distFactor[3] = 0; }),
         "the distortion scale 0 is not positive"},
        {encoded(half),
         "resized to the 161 x 120 frame, its values or its lens map are no longer finite"},
    };
    for (const auto& [file, reason] : cases) {
        SCOPED_TRACE(reason);
        writeFile(dir.file("Data/camera_para.dat"), file);
        const ProcessResult result =
            runProcess(dir.path(), {LUMEKO_BINARY, "marker.pat", "80", "0", "I", "still.jpg"});
        EXPECT_EQ(result.status, 1);
        // A camera file of another shape is first warned about; the refusal follows.
        const std::string err = result.err.substr(result.err.find("can not load"));
        const std::string expected =
            "can not load camera parameter <./Data/camera_para.dat>\n./Data/camera_para.dat: " +
            reason;
        EXPECT_EQ(err.substr(0, expected.size()), expected) << result.err;
        EXPECT_EQ(err.find('\n', expected.size()), err.size() - 1) << "two lines";
        EXPECT_EQ(result.out, "--- HIT SPACE KEY ---\n");
        EXPECT_FALSE(fileExists(dir.file("Lumeko.cm2")));
    }
    writeFile(dir.file("Data/camera_para.dat"), encoded(SCENE_CAMERA));
    const ProcessResult accepted =
        runProcess(dir.path(), {LUMEKO_BINARY, "marker.pat", "80", "0", "I", "still.jpg"});
    EXPECT_EQ(accepted.status, 0) << accepted.err;
}

}  // namespace
