#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "app/frame_sources.h"
#include "tests/app/recording_tracker.h"
#include "tests/support/media_fixtures.h"
#include "tests/support/test_support.h"

namespace {

using lumeko_test::JpegColour;
using lumeko_test::TempDir;

class ImageSourceTest : public ::testing::Test {
  protected:
    void SetUp() override { recording::reset(); }
    TempDir dir;
};

TEST(PixelConversionTest, RgbRowsBecomeBlueGreenRedAlphaAndAdvanceTheWritePosition) {
    std::mt19937 random(7);
    for (int trial = 0; trial < 50; trial++) {
        const int count = 1 + static_cast<int>(random() % 40);
        std::vector<unsigned char> line(count * 3);
        for (unsigned char& byte : line)
            byte = static_cast<unsigned char>(random());
        std::vector<unsigned char> frame(count * 4 + 4, 7);
        unsigned char* write = frame.data();
        rgbRowToFrame(write, line.data(), count);
        ASSERT_EQ(write, frame.data() + count * 4);
        for (int i = 0; i < count; i++) {
            EXPECT_EQ(frame[i * 4 + 0], line[i * 3 + 2]);
            EXPECT_EQ(frame[i * 4 + 1], line[i * 3 + 1]);
            EXPECT_EQ(frame[i * 4 + 2], line[i * 3 + 0]);
            EXPECT_EQ(frame[i * 4 + 3], 255);
        }
        EXPECT_EQ(frame[count * 4], 7) << "wrote past the line";
    }
}

TEST(PixelConversionTest, PaddedBgrRowsBecomeUnpaddedFramesInTheSameChannelOrder) {
    std::mt19937 random(11);
    for (int trial = 0; trial < 50; trial++) {
        const int width = 1 + static_cast<int>(random() % 17);
        const int height = 1 + static_cast<int>(random() % 9);
        const int stride = (width * 3 + 3) / 4 * 4 + static_cast<int>(random() % 3) * 4;
        std::vector<unsigned char> rows(stride * height);
        for (unsigned char& byte : rows)
            byte = static_cast<unsigned char>(random());
        std::vector<unsigned char> frame(width * height * 4);
        dibToFrame(rows.data(), stride, frame.data(), width, height);
        for (int y = 0; y < height; y++) {
            for (int x = 0; x < width; x++) {
                const unsigned char* in = &rows[y * stride + x * 3];
                const unsigned char* out = &frame[(y * width + x) * 4];
                ASSERT_EQ(std::vector<int>(out, out + 4),
                          (std::vector<int>{in[0], in[1], in[2], 255}));
            }
        }
    }
}

TEST_F(ImageSourceTest, ColourImageIsTrackedOnceAtItsSizeWithTheTopLeftPixelFirst) {
    const int width = 640, height = 480;
    std::vector<unsigned char> rgb(width * height * 3);
    for (size_t i = 0; i < rgb.size(); i += 3) {
        rgb[i] = 200, rgb[i + 1] = 120, rgb[i + 2] = 40;  // red, green, blue
    }
    const std::string path = dir.file("still.jpg");
    lumeko_test::writeJpeg(path, rgb.data(), width, height, JpegColour::Rgb, 100);

    ASSERT_EQ(trackImage("marker.pat", 80.0, path.c_str()), 0);
    const recording::Record& seen = recording::record();
    ASSERT_EQ(seen.setups.size(), 1u);
    EXPECT_EQ(seen.setups[0].patternName, "marker.pat");
    EXPECT_EQ(seen.setups[0].patternWidth, 80.0);
    EXPECT_EQ(seen.setups[0].width, width);
    EXPECT_EQ(seen.setups[0].height, height);
    ASSERT_EQ(seen.frames.size(), 1u);
    const std::vector<unsigned char>& frame = seen.frames[0];
    EXPECT_NEAR(frame[0], 40, 2);
    EXPECT_NEAR(frame[1], 120, 2);
    EXPECT_NEAR(frame[2], 200, 2);
    for (size_t i = 3; i < frame.size(); i += 4)
        ASSERT_EQ(frame[i], 255);
    EXPECT_EQ(seen.pauses, 0);
}

}  // namespace
