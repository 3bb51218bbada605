// Running out of memory during set-up.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/movie_reader.h"
#include "camera/camera_param.h"
#include "tests/support/media_fixtures.h"
#include "tests/support/test_support.h"

namespace {

using namespace lumeko_test;

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUMEKO_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define LUMEKO_ASAN 1
#endif

// Lumeko under an address-space limit that grows in steps of a megabyte
// across its set-up (detection storage, key table, frame, decoder): every run
// ends with status 0, or status 1 after "can not malloc" and the pause, and
// never with a signal (no std::bad_alloc escapes). Below the limit at which
// the program loads at all, the loader refuses it (127) before main.
TEST(OutOfMemory, SetUpFailsWithTheDocumentedMessageAndNeverAborts) {
#ifdef LUMEKO_ASAN
    GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit allows";
#endif
    TempDir dir;
    std::filesystem::create_directory(dir.file("Data"));
    const CameraParam camera = {
        640, 480, {{554, 0, 320, 0}, {0, 554, 240, 0}, {0, 0, 1, 0}}, {320, 240, 0, 1}};
    unsigned char record[CAMERA_PARAM_RECORD_SIZE];
    arEncodeCameraParam(camera, record);
    writeFile(dir.file("Data/camera_para.dat"), std::string(record, record + sizeof record));
    writeFile(dir.file("marker.pat"), markerScenePattern());
    const int width = 1920, height = 1080;
    const std::vector<unsigned char> white(size_t{width} * height * 3, 255);
    writeJpeg(dir.file("big.jpg"), white.data(), width, height, JpegColour::Rgb);
    writeMovie(dir.file("big.avi"), {width, height, 25, 1, MovieCodec::Mjpeg}, {white});

    auto runWithin = [&](long kilobytes, const char* kind, const char* input) {
        const std::string command = "ulimit -v " + std::to_string(kilobytes) + "; exec " +
                                    LUMEKO_BINARY + " marker.pat 80 0 " + kind + " " + input;
        return runProcess(dir.path(), {"/bin/sh", "-c", command});
    };
    // The least limit at which the program starts, to the megabyte.
    long low = 16 * 1024, high = 2048 * 1024;
    while (high - low > 1024) {
        const long mid = (low + high) / 2;
        (runWithin(mid, "I", "big.jpg").status == 127 ? low : high) = mid;
    }
    for (const auto& [kind, input] : {std::pair{"I", "big.jpg"}, std::pair{"M", "big.avi"}}) {
        int refused = 0;
        for (long kilobytes = high; kilobytes < high + 40 * 1024; kilobytes += 1024) {
            SCOPED_TRACE(std::string(input) + " within " + std::to_string(kilobytes) + " KB");
            const ProcessResult result = runWithin(kilobytes, kind, input);
            ASSERT_TRUE(result.status == 0 || result.status == 1) << result.status << result.err;
            if (result.status == 1) {
                // (after the warning that the camera file is of another shape)
                EXPECT_TRUE(result.err.ends_with("\ncan not malloc\n")) << result.err;
                EXPECT_TRUE(result.out.ends_with("--- HIT SPACE KEY ---\n")) << result.out;
                refused++;
            }
        }
        EXPECT_GT(refused, 0) << input << ": the limits never reached the set-up";
    }
}

}  // namespace
