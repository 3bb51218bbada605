#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "image/frame_image.h"
#include "media/frame_source.h"
#include "media/jpeg_decoder.h"
#include "media/png_decoder.h"

// Delivers one still as a single frame: a JPEG (colour, or greyscale as
// colour) or a PNG (any kind, as colour), told apart by their first bytes.
class StillReader : public FrameSource {
  public:
    StillReader() = default;
    StillReader(const StillReader&) = delete;
    StillReader& operator=(const StillReader&) = delete;
    ~StillReader() override;

    // Opens the file, reads its header and starts decoding. A picture larger
    // than MAX_FRAME_SIDE on a side is refused (FrameTooLarge) from its
    // header, before anything is allocated for it. A file that cannot be
    // opened is CannotOpen with the errno of opening it.
    InputProblem open(const char* imageName) override;
    // The size the header gives.
    FrameSize size() const override;
    std::optional<FrameRate> rate() const override { return std::nullopt; }
    std::optional<long long> length() const override { return 1; }
    std::vector<std::string> takeWarnings() override;

    // Allocates the frame.
    InputProblem prepare() override;
    // The first call decodes the picture into the frame; the next gives End.
    Delivery next() override;
    SourceEnd end() override;

  private:
    std::FILE* file = nullptr;
    bool png = false;
    JpegDecoder jpeg;
    PngDecoder pngDecoder;
    FrameImage frame{};
    bool delivered = false;
};
