#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

// libjpeg's header needs size_t and FILE declared before it.
#include <jpeglib.h>

// Decodes one JPEG file with libjpeg, a scan line at a time, into 3-byte red,
// green, blue pixels. libjpeg's fatal errors come back as a -1 status with
// the library's own message text; its warnings are collected, not printed.
class JpegDecoder {
  public:
    enum class Colours {
        ColourOrGrey,  // colour files as they are, greyscale ones as RGB; others refused
        AnyAsRgb,      // whatever libjpeg can turn into RGB
        // As ColourOrGrey, but as frame pixels: blue, green, red, 255 (the
        // same colour conversion, written in that order by libjpeg-turbo).
        ColourOrGreyAsFrame,
    };

    JpegDecoder();
    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;
    ~JpegDecoder();

    // Reads the header from `file` (left open; not owned) and starts
    // decompression. 0; -1 on a libjpeg error (see error()); -2 when the
    // file's colour space cannot be delivered as asked; -3 when `maxSide` is
    // positive and the header claims a side longer than that (then nothing
    // is allocated for the picture; imageWidth() and imageHeight() give the
    // claim).
    int start(std::FILE* file, Colours colours, int maxSide = 0);

    // The picture's size as the header gives it, once it has been read.
    int imageWidth() const { return static_cast<int>(decoder.image_width); }
    int imageHeight() const { return static_cast<int>(decoder.image_height); }

    int width() const { return static_cast<int>(decoder.output_width); }
    int height() const { return static_cast<int>(decoder.output_height); }
    bool allRowsRead() const { return decoder.output_scanline >= decoder.output_height; }

    // Decodes the next scan line; 0 with `row` pointing at width() RGB pixels
    // (valid until the next call), or -1 on a libjpeg error.
    int readRow(const unsigned char** row);

    // Decodes the next scan line into `row`, which holds width() pixels of
    // the started colours; 0, or -1 on a libjpeg error.
    int readRowInto(unsigned char* row);

    // Finishes the file after the last row; 0, or -1 on a libjpeg error.
    int finish();

    // libjpeg's message for the error that made a call fail.
    const std::string& error() const { return errorText; }

    // The warnings libjpeg has emitted since the last call, oldest first.
    std::vector<std::string> takeWarnings();

  private:
    struct ErrorManager {
        jpeg_error_mgr base;
        std::jmp_buf jump;
        JpegDecoder* owner;
    };
    static void onError(j_common_ptr info);
    static void onMessage(j_common_ptr info);

    jpeg_decompress_struct decoder;
    ErrorManager errors;
    bool created = false;
    JSAMPARRAY line = nullptr;
    std::string errorText;
    std::vector<std::string> warnings;
};
