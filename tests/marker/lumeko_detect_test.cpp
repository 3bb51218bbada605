#include <gtest/gtest.h>

#include <string>

#include "tests/marker/test_frames.h"
#include "tests/support/test_support.h"
#include "tools/common/image_io.h"

namespace {

// With --refine the plain pass's markers are listed as without it, the
// refined corners after them, each moved by under a pixel, and the picture of
// what was seen comes out.
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
    const std::vector<std::string> args = {LUMEKO_DETECT_BINARY, "frame.ppm", "seen.png",
                                           "--pattern", "marker.pat"};
    const auto plain = lumeko_test::runProcess(dir.path(), args);
    std::vector<std::string> refineArgs = args;
    refineArgs.push_back("--refine");
    const auto refined = lumeko_test::runProcess(dir.path(), refineArgs);
    ASSERT_EQ(plain.status + refined.status, 0) << plain.err << refined.err;
    EXPECT_NE(plain.out.find("1 markers\n"), std::string::npos) << plain.out;
    const size_t start = plain.out.find("marker 0: id 0 direction");
    ASSERT_NE(start, std::string::npos) << plain.out;
    const std::string listed = plain.out.substr(start, plain.out.find("wrote") - start);
    EXPECT_EQ(refined.out.substr(refined.out.find("marker 0: id"), listed.size()), listed);
    size_t at = refined.out.find("marker 0 refined:\n");
    ASSERT_NE(at, std::string::npos) << refined.out;
    for (int k = 0; k < 4; ++k) {
        at = refined.out.find("moved ", at + 1);
        ASSERT_NE(at, std::string::npos) << refined.out;
        EXPECT_LT(std::stod(refined.out.substr(at + 6)), 1.0) << refined.out;
    }
    RgbImage seen;
    std::string error;
    ASSERT_EQ(readImage(dir.file("seen.png"), seen, error), 0) << error;
    EXPECT_EQ(std::pair(seen.width, seen.height), std::pair(320, 240));
}

}  // namespace
