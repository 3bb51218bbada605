#pragma once

#include <png.h>

#include <cstdio>
#include <string>
#include <vector>

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

    // Reads the header from `file` (left open; not owned). 0; -1 when libpng
    // refuses the file (error() gives its message); -3 when a side is longer than `maxSide`
    // (nothing is then allocated for the picture).
    int start(std::FILE* file, int maxSide);
    int width() const { return static_cast<int>(image.width); }
    int height() const { return static_cast<int>(image.height); }

    // Decodes the picture into `frame`: width() x height() pixels of blue,
    // green, red, 255, rows top to bottom. 0, or -1 (libpng's message in error()).
    int readFrame(unsigned char* frame);

    const std::string& error() const { return errorText; }
    // libpng's warning about the file since the last call, if any.
    std::vector<std::string> takeWarnings();

  private:
    void noteWarning();

    png_image image{};
    std::string errorText;
    std::vector<std::string> warnings;
};
