#include <gtest/gtest.h>

#include <string>

#include "tests/marker/test_frames.h"
#include "tests/support/test_support.h"
#include "tools/common/image_io.h"

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
    RgbImage seen;
    std::string error;
    ASSERT_EQ(readImage(dir.file("seen.png"), seen, error), 0) << error;
    EXPECT_EQ(seen.width, 320);
    EXPECT_EQ(seen.height, 240);

    // With --refine the refined corners follow, each moved by under a pixel, and the
    // picture still comes out.
    const auto refined = lumeko_test::runProcess(
        dir.path(),
        {LUMEKO_DETECT_BINARY, "frame.ppm", "both.png", "--pattern", "marker.pat", "--refine"});
    EXPECT_EQ(refined.status, 0) << refined.err;
    // The plain pass's markers are listed as without --refine, the refined corners after them.
    const auto between = [](const std::string& text, const char* from, const char* to) {
        const size_t start = text.find(from);
        return start == std::string::npos ? std::string()
                                          : text.substr(start, text.find(to) - start);
    };
    EXPECT_EQ(between(refined.out, "marker 0: id", "refined pass"),
              between(result.out, "marker 0: id", "wrote"));
    const size_t listed = refined.out.find("marker 0 refined:\n");
    ASSERT_NE(listed, std::string::npos) << refined.out;
    size_t at = listed;
    for (int k = 0; k < 4; ++k) {
        at = refined.out.find("moved ", at + 1);
        ASSERT_NE(at, std::string::npos) << refined.out;
        EXPECT_LT(std::stod(refined.out.substr(at + 6)), 1.0) << refined.out;
    }
    RgbImage both;
    ASSERT_EQ(readImage(dir.file("both.png"), both, error), 0) << error;
    EXPECT_EQ(both.width, 320);
}

}  // namespace
