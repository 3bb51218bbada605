#include <png.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "tests/support/test_support.h"
#include "tools/common/image_io.h"

namespace {

// Writes a PNG of another type than 8-bit RGB with libpng itself.
void writeOtherPng(const std::string& path, png_uint_32 format, int width, int height,
                   const void* pixels, const void* colourMap = nullptr, int colourCount = 0) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(width);
    png.height = static_cast<png_uint_32>(height);
    png.format = format;
    png.colormap_entries = static_cast<png_uint_32>(colourCount);
    ASSERT_NE(png_image_write_to_file(&png, path.c_str(), 0, pixels, 0, colourMap), 0)
        << png.message;
}

TEST(ImageIo, PngWrittenIsReadBackExactlyAndIsARealPng) {
    lumeko_test::TempDir dir;
    std::mt19937 generator(7);
    RgbImage picture = makeRgbImage(37, 11, 0, 0, 0);  // odd width: rows are not word-aligned
    std::generate(picture.rgb.begin(), picture.rgb.end(), [&] { return generator() % 256; });
    std::string error;
    ASSERT_EQ(writeImage(dir.file("p.PNG"), picture, 10, error), 0) << error;
    EXPECT_EQ(lumeko_test::readFile(dir.file("p.PNG")).substr(0, 8), "\x89PNG\r\n\x1a\n");
    RgbImage back;
    ASSERT_EQ(readPicture(dir.file("p.PNG"), back, error), 0) << error;
    EXPECT_EQ(back.width, 37);
    EXPECT_EQ(back.height, 11);
    EXPECT_EQ(back.rgb, picture.rgb);
}

// Grey with alpha, a palette with a transparent entry, 16 bits a channel (full
// scale is 255): RGB, with what is fully transparent white.
TEST(ImageIo, PngOfEveryKindBecomesRgbWithTransparencyOnWhite) {
    lumeko_test::TempDir dir;
    const unsigned char greyAlpha[] = {40, 255, 40, 0, 200, 255};
    const unsigned char map[] = {255, 0, 0, 255, 0, 0, 0, 0, 10, 20, 30, 255},
                        indices[] = {0, 1, 2};
    const png_uint_16 deep[] = {65535, 0, 0, 0, 65535, 65535, 0, 0, 0};
    writeOtherPng(dir.file("ga.png"), PNG_FORMAT_GA, 3, 1, greyAlpha);
    writeOtherPng(dir.file("pal.png"), PNG_FORMAT_RGBA_COLORMAP, 3, 1, indices, map, 3);
    writeOtherPng(dir.file("deep.png"), PNG_FORMAT_LINEAR_RGB, 3, 1, deep);
    const std::pair<const char*, std::vector<unsigned char>> cases[] = {
        {"ga.png", {40, 40, 40, 255, 255, 255, 200, 200, 200}},
        {"pal.png", {255, 0, 0, 255, 255, 255, 10, 20, 30}},
        {"deep.png", {255, 0, 0, 0, 255, 255, 0, 0, 0}},
    };
    for (const auto& [name, rgb] : cases) {
        RgbImage image;
        std::string error;
        ASSERT_EQ(readPicture(dir.file(name), image, error), 0) << error;
        EXPECT_EQ(image.width, 3);
        EXPECT_EQ(image.rgb, rgb) << name;
    }
}

// Broken pictures and pictures claiming more than 8192 pixels on a side are
// refused with the file's name and the reason (those too large from the
// header: a tiny file cannot make the reader allocate gigabytes).
TEST(ImageIo, BrokenOrTooLargePicturesAreRefusedWithTheNameAndTheReason) {
    lumeko_test::TempDir dir;
    std::string error;
    std::vector<unsigned char> jpeg;
    ASSERT_EQ(encodeJpeg(makeRgbImage(8, 8, 9, 9, 9), 90, jpeg, error), 0);
    std::string huge(jpeg.begin(), jpeg.end());
    const size_t frame = huge.find("\xFF\xC0");
    ASSERT_NE(frame, std::string::npos);
    huge.replace(frame + 5, 4, "\xB3\xB0\xB3\xB0");  // 46000 x 46000
    ASSERT_EQ(writeImage(dir.file("whole.png"), makeRgbImage(64, 64, 9, 9, 9), 0, error), 0);
    const std::string png = lumeko_test::readFile(dir.file("whole.png"));
    const std::pair<std::string, std::string> cases[] = {
        {png.substr(0, 4), "not a readable PNG image ("},
        {png.substr(0, 20), "not a readable PNG image ("},
        {png.substr(0, png.size() - 20), "not a readable PNG image ("},
        {huge, "the picture is 46000 x 46000 pixels, more than 8192 on a side"},
        {"P6 8193 1 255\n", "the picture is 8193 x 1 pixels, more than 8192 on a side"},
        {"P5 100 100 255\n" + std::string(9999, 'x'), "PPM pixel data ends early"},
        {"GIF89a", "neither a JPEG, a PNG nor a PPM or PGM"},
    };
    RgbImage image;
    for (const auto& [bytes, message] : cases) {
        lumeko_test::writeFile(dir.file("in"), bytes);
        EXPECT_EQ(readPicture(dir.file("in"), image, error), -1) << message;
        EXPECT_EQ(error.find(dir.file("in") + ": "), 0u) << error;
        EXPECT_NE(error.find(message), std::string::npos) << error;
        EXPECT_TRUE(image.rgb.empty());
    }
    EXPECT_EQ(readPicture(dir.path(), image, error), -1);
    EXPECT_EQ(error, "cannot open " + dir.path() + ": Is a folder, not a file");
    EXPECT_EQ(writeImage(dir.file("x.gif"), image, 90, error), -1);
    EXPECT_NE(error.find(".png"), std::string::npos) << error;
}

}  // namespace
