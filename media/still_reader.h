#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "image/frame_image.h"
#include "media/frame_reader.h"
#include "media/jpeg_decoder.h"
#include "media/png_decoder.h"

// Delivers one still as a single frame: a JPEG (colour, or greyscale as
// colour) or a PNG (any kind, as colour), told apart by their first bytes.
class StillReader {
  public:
    StillReader() = default;
    StillReader(const StillReader&) = delete;
    StillReader& operator=(const StillReader&) = delete;
    ~StillReader();

    // Opens the file, reads its header and starts decoding. A picture larger
    // than MAX_FRAME_SIDE on a side is refused (FrameTooLarge) from its
    // header, before anything is allocated for it.
    InputFailure open(const char* imageName);
    int width() const { return png ? pngDecoder.width() : jpeg.width(); }
    int height() const { return png ? pngDecoder.height() : jpeg.height(); }
    // The size the header claims (the refused one after FrameTooLarge).
    int claimedWidth() const { return png ? pngDecoder.width() : jpeg.imageWidth(); }
    int claimedHeight() const { return png ? pngDecoder.height() : jpeg.imageHeight(); }
    bool isPng() const { return png; }

    // Allocates the frame.
    InputFailure prepare();

    // The first call decodes the picture into the frame; the next one
    // finishes the file and gives End.
    ReadResult next(const FrameImage** frame);

    InputFailure failure() const { return failed; }
    // libjpeg's (or libpng's) message when it gave up on the file.
    const std::string& decoderError() const { return png ? pngDecoder.error() : jpeg.error(); }
    // The decoder's warnings since the last call, oldest first.
    std::vector<std::string> takeWarnings() {
        return png ? pngDecoder.takeWarnings() : jpeg.takeWarnings();
    }

  private:
    std::FILE* file = nullptr;
    bool png = false;
    JpegDecoder jpeg;
    PngDecoder pngDecoder;
    FrameImage frame{};
    bool delivered = false;
    InputFailure failed = InputFailure::None;
};
