// Stills decoded straight into the frame give the bytes the red-green-blue
// rows reordered would give.

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "media/frame_convert.h"
#include "media/jpeg_decoder.h"
#include "tests/support/media_fixtures.h"
#include "tests/support/test_support.h"

namespace {

using namespace lumeko_test;

std::vector<unsigned char> decode(const std::string& path, JpegDecoder::Colours colours) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    JpegDecoder jpeg;
    std::vector<unsigned char> frame;
    if (file == nullptr || jpeg.start(file, colours) != 0)
        return frame;
    frame.resize(static_cast<size_t>(jpeg.width()) * jpeg.height() * 4);
    unsigned char* write = frame.data();
    while (!jpeg.allRowsRead()) {
        if (colours == JpegDecoder::Colours::ColourOrGreyAsFrame) {
            EXPECT_EQ(jpeg.readRowInto(write), 0);
            write += static_cast<size_t>(jpeg.width()) * 4;
        } else {
            const unsigned char* row = nullptr;
            EXPECT_EQ(jpeg.readRow(&row), 0);
            rgbRowToFrame(write, row, jpeg.width());
        }
    }
    std::fclose(file);
    return frame;
}

TEST(StillIntoFrame, SameBytesAsTheReorderedRows) {
    TempDir dir;
    std::mt19937 random(5);
    for (const JpegColour colour : {JpegColour::Rgb, JpegColour::Grey}) {
        for (const auto& [width, height] : {std::pair{161, 121}, std::pair{64, 48}}) {
            const int components = colour == JpegColour::Rgb ? 3 : 1;
            std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * components);
            for (unsigned char& value : pixels)
                value = static_cast<unsigned char>(random());
            const std::string path = dir.file("still.jpg");
            writeJpeg(path, pixels.data(), width, height, colour, 80);
            const std::string bytes = readFile(path);
            writeFile(dir.file("cut.jpg"), bytes.substr(0, bytes.size() * 2 / 3));
            for (const std::string& name : {path, dir.file("cut.jpg")}) {
                const std::vector<unsigned char> direct =
                    decode(name, JpegDecoder::Colours::ColourOrGreyAsFrame);
                ASSERT_EQ(direct.size(), static_cast<size_t>(width) * height * 4);
                EXPECT_TRUE(direct == decode(name, JpegDecoder::Colours::ColourOrGrey))
                    << name << " " << width << "x" << height << " " << components;
            }
        }
    }
}

}  // namespace
