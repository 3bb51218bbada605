#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include "app/console.h"
#include "app/frame_sources.h"
#include "app/tracker.h"

namespace {

// Colour (YCbCr or RGB) files decode to RGB as they are; greyscale ones are
// asked for RGB output so that they track like colour ones. CMYK, YCCK and
// unknown colour spaces have no RGB output.
bool requestRgbOutput(jpeg_decompress_struct& decoder) {
    switch (decoder.jpeg_color_space) {
        case JCS_GRAYSCALE:
            decoder.out_color_space = JCS_RGB;
            return true;
        case JCS_YCbCr:
        case JCS_RGB:
            return true;
        default:
            return false;
    }
}

}  // namespace

void rgbRowToFrame(unsigned char*& write, const unsigned char* line, int pixelCount) {
    for (int i = 0; i < pixelCount; i++) {
        write[0] = line[2];
        write[1] = line[1];
        write[2] = line[0];
        write[3] = 255;
        write += 4;
        line += 3;
    }
}

// libjpeg's standard error manager ends the process with its own message and
// status 1 when the file is not a JPEG or is damaged beyond repair.
int trackImage(const char* patternName, double patternWidth, const char* imageName) {
    std::FILE* file = std::fopen(imageName, "rb");
    if (file == nullptr)
        return reportFailure("can not open %s\n", imageName);

    jpeg_decompress_struct decoder;
    jpeg_error_mgr errors;
    decoder.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&decoder);
    jpeg_stdio_src(&decoder, file);
    jpeg_read_header(&decoder, TRUE);
    if (!requestRgbOutput(decoder)) {
        jpeg_destroy_decompress(&decoder);
        std::fclose(file);
        return reportFailure(
            "can not track %s: only colour and greyscale JPEG images can be read\n", imageName);
    }
    jpeg_start_decompress(&decoder);

    const int width = static_cast<int>(decoder.output_width);
    const int height = static_cast<int>(decoder.output_height);
    setupTracker(patternName, patternWidth, width, height);

    JSAMPARRAY line = (*decoder.mem->alloc_sarray)(
        reinterpret_cast<j_common_ptr>(&decoder), JPOOL_IMAGE,
        decoder.output_width * static_cast<JDIMENSION>(decoder.output_components), 1);
    unsigned char* pixels =
        static_cast<unsigned char*>(std::malloc(static_cast<size_t>(width) * height * 4));
    if (pixels == nullptr)
        return reportFailure("%s", "can not malloc\n");

    unsigned char* write = pixels;
    while (decoder.output_scanline < decoder.output_height) {
        jpeg_read_scanlines(&decoder, line, 1);
        rgbRowToFrame(write, line[0], width);
    }
    trackFrame(FrameImage{pixels, width, height});

    std::free(pixels);
    jpeg_finish_decompress(&decoder);
    jpeg_destroy_decompress(&decoder);
    std::fclose(file);
    return 0;
}
