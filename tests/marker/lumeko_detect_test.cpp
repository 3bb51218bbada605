#include <gtest/gtest.h>

#include <string>

#include "tests/marker/test_frames.h"
#include "tests/support/test_support.h"

namespace {

TEST(LumekoDetect, DrawsTheMarkersOfAFrameAndListsThem) {
    lumeko_test::TempDir dir;
    const lumeko_test::Picture picture = lumeko_test::randomPicture(31);
    lumeko_test::TestFrame frame(320, 240);
    frame.drawMarker({150.5, 120.5}, 100, 0.1, picture);
    std::string ppm = "P6\n320 240\n255\n";
    for (size_t i = 0; i < frame.pixels.size(); i += 4) {
        ppm += {static_cast<char>(frame.pixels[i + 2]), static_cast<char>(frame.pixels[i + 1]),
                static_cast<char>(frame.pixels[i])};
    }
    lumeko_test::writeFile(dir.file("frame.ppm"), ppm);
    lumeko_test::writeFile(dir.file("marker.pat"), lumeko_test::patternFileText(picture));
    const auto result = lumeko_test::runProcess(
        dir.path(), {LUMEKO_DETECT_BINARY, "frame.ppm", "seen.png", "--pattern", "marker.pat"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("1 markers\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("marker 0: id 0 direction"), std::string::npos) << result.out;
    const std::string png = lumeko_test::readFile(dir.file("seen.png"));
    ASSERT_GT(png.size(), 320u * 240u * 3u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
}

}  // namespace
