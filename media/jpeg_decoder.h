#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

// libjpeg's header needs size_t and FILE declared before it.
#include <jpeglib.h>

#include "media/frame_source.h"

// Decodes one JPEG file with libjpeg into rows of pixels. libjpeg's fatal
// errors come back as a JpegError with the library's own message text; its
// warnings are collected, not printed.
class JpegDecoder {
  public:
    enum class Colours {
        // Whatever libjpeg can turn into red, green, blue.
        AnyAsRgb,
        // Colour and greyscale files as frame pixels: blue, green, red, 255
        // (written in that order by libjpeg-turbo); others refused.
        ColourOrGreyAsFrame,
    };

    JpegDecoder();
    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;
    ~JpegDecoder();

    // Reads the header from `file` (left open; not owned) and starts
    // decompression. JpegError on a libjpeg error; UnsupportedColour when the
    // file's colour space cannot be delivered as asked; FrameTooLarge when
    // `maxSide` is positive and the header claims a side longer than that
    // (then nothing is allocated for the picture; imageWidth() and
    // imageHeight() give the claim).
    InputProblem start(std::FILE* file, Colours colours, int maxSide = 0);

    // The picture's size as the header gives it, once it has been read.
    int imageWidth() const { return static_cast<int>(decoder.image_width); }
    int imageHeight() const { return static_cast<int>(decoder.image_height); }

    int width() const { return static_cast<int>(decoder.output_width); }
    int height() const { return static_cast<int>(decoder.output_height); }

    // Decodes every row into `pixels`, rows of width() pixels of the started
    // colours (3 or 4 bytes) one after the other, and finishes the file.
    InputProblem decodeInto(unsigned char* pixels);

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

    // The error that made a call fail, with libjpeg's message.
    InputProblem failed() const { return {InputFailure::JpegError, 0, "", errorText}; }

    jpeg_decompress_struct decoder;
    ErrorManager errors;
    bool created = false;
    std::string errorText;
    std::vector<std::string> warnings;
};
