#pragma once

#include <png.h>

#include <cstdio>
#include <string>
#include <vector>

#include "media/frame_source.h"

// Decodes one PNG file with libpng's simplified interface into frame pixels.
// Every kind of PNG comes out as 8-bit colour (grey, palette and 16-bit
// pictures converted), transparent parts laid over white, as over paper.
class PngDecoder {
  public:
    // True when `signature`, a file's first 8 bytes, is a PNG's.
    static bool isPng(const unsigned char* signature);

    PngDecoder() = default;
    PngDecoder(const PngDecoder&) = delete;
    PngDecoder& operator=(const PngDecoder&) = delete;
    ~PngDecoder();

    // Reads the header from `file` (left open; not owned). PngError when
    // libpng refuses the file (with its message); FrameTooLarge when a side
    // is longer than `maxSide` (nothing is then allocated for the picture).
    InputProblem start(std::FILE* file, int maxSide);
    int width() const { return static_cast<int>(image.width); }
    int height() const { return static_cast<int>(image.height); }

    // Decodes the picture into `frame`: width() x height() pixels of blue,
    // green, red, 255, rows top to bottom. PngError with libpng's message.
    InputProblem readFrame(unsigned char* frame);

    // libpng's warning about the file since the last call, if any.
    std::vector<std::string> takeWarnings();

  private:
    void noteWarning();
    InputProblem failed() const { return {InputFailure::PngError, 0, "", image.message}; }

    png_image image{};
    std::vector<std::string> warnings;
};
