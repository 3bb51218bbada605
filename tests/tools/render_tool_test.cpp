#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "media/movie_file.h"
#include "tests/support/test_support.h"
#include "tools/common/image_io.h"

namespace {

// Numbered stills and a raw movie (odd width: padded rows), read by Lumeko's reader, agree;
// the picture may be a PNG.
TEST(RenderTool, CommandLineStillsAndRawMovieShowTheSameFrames) {
    lumeko_test::TempDir dir;
    const std::string tools = LUMEKO_TOOLS_DIR;
    std::string error;
    ASSERT_EQ(writeImage(dir.file("picture.png"), makeRgbImage(2, 2, 200, 0, 0), 90, error), 0);
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {tools + "/lumeko-render", "--camera", "cam.dat", "--picture",
                                   "picture.png", "--path", "approach", "--frames", "3"});
        return lumeko_test::runProcess(dir.path(), args).status;
    };
    ASSERT_EQ(lumeko_test::runProcess(dir.path(), {tools + "/lumeko-camera", "write", "cam.dat",
                                                   "--size", "161x121", "--hfov", "60"})
                  .status,
              0);
    ASSERT_EQ(run({"--output", "f_%03d.jpg"}), 0);
    ASSERT_EQ(run({"--output", "raw.avi", "--raw"}), 0);
    const std::string truth = lumeko_test::readFile(dir.file("truth.csv"));
    EXPECT_EQ(std::count(truth.begin(), truth.end(), '\n'), 4);
    EXPECT_EQ(lumeko_test::readFile(dir.file("raw.csv")), truth);
    MovieFile movie;
    ASSERT_EQ(movie.open(dir.file("raw.avi").c_str()), 0);
    ASSERT_EQ(movie.openVideoStream(), 0);
    EXPECT_EQ(movie.info().length, 3u);
    ASSERT_EQ(movie.openDecoder(1), 0);
    std::vector<unsigned char> pixels(161 * 121 * 4 + FRAME_CONVERT_SLACK);
    const FrameImage frame{pixels.data(), 161, 121};
    for (int i = 0; i < 3; ++i) {
        RgbImage still;
        ASSERT_EQ(readImage(dir.file("f_00" + std::to_string(i) + ".jpg"), still, error), 0);
        long long number = -1;
        ASSERT_EQ(movie.decodePicture(number), MovieFile::Found::Picture);
        EXPECT_EQ(number, i);
        ASSERT_TRUE(movie.convertPicture(frame));
        double mean = 0.0;  // of |movie - still|; the frame holds blue, green, red, 255
        for (int k = 0; k < 161 * 121 * 3; ++k) {
            const int got = pixels[k / 3 * 4 + k % 3];
            mean += std::abs(got - still.rgb[k - k % 3 + 2 - k % 3]) / (161.0 * 121 * 3);
        }
        EXPECT_LT(mean, 2.0) << "frame " << i;  // the stills' JPEG loss
    }
    EXPECT_EQ(run({"--output", "f.jpg"}), 1);  // more than one frame needs a number field
}

}  // namespace
