#include <gtest/gtest.h>

#include <string>

#include "tests/marker/test_frames.h"
#include "tests/support/test_support.h"

namespace {

using lumeko_test::runProcess;

std::string ppmOf(const lumeko_test::TestFrame& frame) {
    std::string bytes =
        "P6\n" + std::to_string(frame.width) + " " + std::to_string(frame.height) + "\n255\n";
    for (int y = 0; y < frame.height; y++) {
        for (int x = 0; x < frame.width; x++) {
            const lumeko_test::Colour c = frame.at(x, y);
            bytes += static_cast<char>(c.r);
            bytes += static_cast<char>(c.g);
            bytes += static_cast<char>(c.b);
        }
    }
    return bytes;
}

TEST(LumekoDetect, DrawsTheMarkersOfAFrameAndListsThem) {
    lumeko_test::TempDir dir;
    const lumeko_test::Picture picture = lumeko_test::randomPicture(31);
    lumeko_test::TestFrame frame(320, 240);
    frame.drawMarker({150.5, 120.5}, 100, 0.1, picture);
    lumeko_test::writeFile(dir.file("frame.ppm"), ppmOf(frame));
    lumeko_test::writeFile(dir.file("marker.pat"), lumeko_test::patternFileText(picture));

    const auto result = runProcess(
        dir.path(), {LUMEKO_DETECT_BINARY, "frame.ppm", "seen.png", "--pattern", "marker.pat"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("1 markers"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("marker 0: id 0 direction"), std::string::npos) << result.out;
    const std::string png = lumeko_test::readFile(dir.file("seen.png"));
    ASSERT_GT(png.size(), 320u * 240u * 3u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
}

TEST(LumekoDetect, BadArgumentsAndMissingFilesFailWithAMessage) {
    lumeko_test::TempDir dir;
    const std::vector<std::vector<std::string>> calls = {
        {LUMEKO_DETECT_BINARY},
        {LUMEKO_DETECT_BINARY, "missing.jpg", "out.png"},
        {LUMEKO_DETECT_BINARY, "missing.jpg", "out.gif"},
        {LUMEKO_DETECT_BINARY, "a.jpg", "out.png", "--threshold", "x"},
    };
    for (const auto& call : calls) {
        const auto result = runProcess(dir.path(), call);
        EXPECT_EQ(result.status, 1);
        EXPECT_NE(result.err.find("lumeko-detect: "), std::string::npos);
    }
    EXPECT_EQ(runProcess(dir.path(), {LUMEKO_DETECT_BINARY, "--help"}).status, 0);
}

}  // namespace
