// Stills decoded straight into the frame, and red-green-blue rows reordered
// into it, give the colour of the picture in blue, green, red, 255.

#include <gtest/gtest.h>

#include <cstdio>

#include "media/frame_convert.h"
#include "media/jpeg_decoder.h"
#include "tests/support/media_fixtures.h"
#include "tests/support/test_support.h"

namespace {

using namespace lumeko_test;

TEST(StillIntoFrame, BothWaysGiveThePicturesColour) {
    TempDir dir;
    const int width = 161, height = 121;  // rows of no multiple of 4 or 8 pixels
    for (const JpegColour colour : {JpegColour::Rgb, JpegColour::Grey}) {
        const bool rgb = colour == JpegColour::Rgb;
        std::vector<unsigned char> pixels(width * height * (rgb ? 3 : 1), 90);
        for (size_t i = 0; rgb && i < pixels.size(); i++)
            pixels[i] = "\xc8\x64\x32"[i % 3];  // red 200, green 100, blue 50
        writeJpeg(dir.file("still.jpg"), pixels.data(), width, height, colour);
        const int expected[4] = {rgb ? 50 : 90, rgb ? 100 : 90, rgb ? 200 : 90, 255};
        for (const auto way :
             {JpegDecoder::Colours::ColourOrGreyAsFrame, JpegDecoder::Colours::ColourOrGrey}) {
            SCOPED_TRACE(std::to_string(rgb) +
                         (way == JpegDecoder::Colours::ColourOrGrey ? " rows" : ""));
            std::FILE* file = std::fopen(dir.file("still.jpg").c_str(), "rb");
            JpegDecoder jpeg;
            ASSERT_EQ(jpeg.start(file, way), 0);
            ASSERT_EQ(jpeg.width() * jpeg.height(), width * height);
            std::vector<unsigned char> frame(width * height * 4);
            unsigned char* write = frame.data();
            while (!jpeg.allRowsRead()) {
                const unsigned char* row = nullptr;
                if (way == JpegDecoder::Colours::ColourOrGrey) {
                    ASSERT_EQ(jpeg.readRow(&row), 0);
                    rgbRowToFrame(write, row, width);
                } else {
                    ASSERT_EQ(jpeg.readRowInto(write), 0);
                    write += width * 4;
                }
            }
            std::fclose(file);
            for (size_t i = 0; i < frame.size(); i++)
                ASSERT_NEAR(frame[i], expected[i % 4], 2) << "byte " << i;
        }
    }
}

}  // namespace
