#include <gtest/gtest.h>

#include <string>

#include "tests/marker/test_frames.h"
#include "tests/support/test_support.h"
#include "tools/common/image_io.h"

namespace {

// The markers are listed and drawn; with --refine the refined corners follow,
// each moved by under a pixel.
TEST(LumekoDetect, DrawsTheMarkersOfAFrameAndListsThemPlainAndRefined) {
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
        dir.path(),
        {LUMEKO_DETECT_BINARY, "frame.ppm", "seen.png", "--pattern", "marker.pat", "--refine"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("1 markers\nmarker 0: id 0 direction"), std::string::npos)
        << result.out;
    size_t at = result.out.find("marker 0 refined:\n");
    ASSERT_NE(at, std::string::npos) << result.out;
    for (int k = 0; k < 4; ++k) {
        at = result.out.find("moved ", at + 1);
        ASSERT_NE(at, std::string::npos) << result.out;
        EXPECT_LT(std::stod(result.out.substr(at + 6)), 1.0) << result.out;
    }
    RgbImage seen;
    ASSERT_TRUE(readPicture(dir.file("seen.png"), seen).ok());
    EXPECT_EQ(std::pair(seen.width, seen.height), std::pair(320, 240));
}

}  // namespace
