#include "media/still_reader.h"

#include <cstdlib>

StillReader::~StillReader() {
    std::free(frame.pixels);
    if (file != nullptr)
        std::fclose(file);
}

InputFailure StillReader::open(const char* imageName) {
    file = std::fopen(imageName, "rb");
    if (file == nullptr)
        return failed = InputFailure::CannotOpen;
    unsigned char signature[8] = {};
    png = std::fread(signature, 1, sizeof signature, file) == sizeof signature &&
          PngDecoder::isPng(signature);
    std::rewind(file);
    const int started =
        png ? pngDecoder.start(file, MAX_FRAME_SIDE)
            : jpeg.start(file, JpegDecoder::Colours::ColourOrGreyAsFrame, MAX_FRAME_SIDE);
    if (started == -3)
        return failed = InputFailure::FrameTooLarge;
    if (started == -2)
        return failed = InputFailure::UnsupportedColour;
    if (started != 0)
        return failed = InputFailure::DecoderError;
    return InputFailure::None;
}

InputFailure StillReader::prepare() {
    const size_t bytes = static_cast<size_t>(width()) * static_cast<size_t>(height()) * 4;
    frame = {static_cast<unsigned char*>(std::malloc(bytes)), width(), height()};
    if (frame.pixels == nullptr)
        return failed = InputFailure::OutOfMemory;
    return InputFailure::None;
}

ReadResult StillReader::next(const FrameImage** delivery) {
    if (delivered) {
        if (!png && jpeg.finish() != 0) {
            failed = InputFailure::DecoderError;
            return ReadResult::Failed;
        }
        return ReadResult::End;
    }
    if (png && pngDecoder.readFrame(frame.pixels) != 0) {
        failed = InputFailure::DecoderError;
        return ReadResult::Failed;
    }
    // libjpeg writes every row straight into the frame.
    const size_t rowBytes = static_cast<size_t>(frame.width) * 4;
    for (int y = 0; !png && y < frame.height && !jpeg.allRowsRead(); y++) {
        if (jpeg.readRowInto(frame.pixels + static_cast<size_t>(y) * rowBytes) != 0) {
            failed = InputFailure::DecoderError;
            return ReadResult::Failed;
        }
    }
    delivered = true;
    *delivery = &frame;
    return ReadResult::Frame;
}
