#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "marker/frame_image.h"
#include "media/frame_reader.h"
#include "media/jpeg_decoder.h"

// Delivers one JPEG still (colour, or greyscale as colour) as a single frame.
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
    int width() const { return jpeg.width(); }
    int height() const { return jpeg.height(); }
    // The size the header claims (the refused one after FrameTooLarge).
    int claimedWidth() const { return jpeg.imageWidth(); }
    int claimedHeight() const { return jpeg.imageHeight(); }

    // Allocates the frame.
    InputFailure prepare();

    // The first call decodes the picture into the frame; the next one
    // finishes the file and gives End.
    ReadResult next(const FrameImage** frame);

    InputFailure failure() const { return failed; }
    // libjpeg's message when it gave up on the file.
    const std::string& decoderError() const { return jpeg.error(); }
    // libjpeg's warnings since the last call, oldest first.
    std::vector<std::string> takeWarnings() { return jpeg.takeWarnings(); }

  private:
    std::FILE* file = nullptr;
    JpegDecoder jpeg;
    FrameImage frame{};
    bool delivered = false;
    InputFailure failed = InputFailure::None;
};
