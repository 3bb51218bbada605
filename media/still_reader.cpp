#include "media/still_reader.h"

#include <cerrno>
#include <cstdlib>

StillReader::~StillReader() {
    std::free(frame.pixels);
    if (file != nullptr)
        std::fclose(file);
}

InputProblem StillReader::open(const char* imageName) {
    file = std::fopen(imageName, "rb");
    if (file == nullptr)
        return {InputFailure::CannotOpen, errno};
    unsigned char signature[8] = {};
    png = std::fread(signature, 1, sizeof signature, file) == sizeof signature &&
          PngDecoder::isPng(signature);
    std::rewind(file);
    return png ? pngDecoder.start(file, MAX_FRAME_SIDE)
               : jpeg.start(file, JpegDecoder::Colours::ColourOrGreyAsFrame, MAX_FRAME_SIDE);
}

FrameSize StillReader::size() const {
    return png ? FrameSize{pngDecoder.width(), pngDecoder.height()}
               : FrameSize{jpeg.imageWidth(), jpeg.imageHeight()};
}

std::vector<std::string> StillReader::takeWarnings() {
    return png ? pngDecoder.takeWarnings() : jpeg.takeWarnings();
}

InputProblem StillReader::prepare() {
    const FrameSize frameSize = size();
    const size_t bytes =
        static_cast<size_t>(frameSize.width) * static_cast<size_t>(frameSize.height) * 4;
    frame = {static_cast<unsigned char*>(std::malloc(bytes)), frameSize.width, frameSize.height};
    if (frame.pixels == nullptr)
        return {InputFailure::OutOfMemory};
    return {};
}

// libjpeg (or libpng) writes every row straight into the frame.
Delivery StillReader::next() {
    if (delivered)
        return {Arrival::End};
    delivered = true;
    const InputProblem read =
        png ? pngDecoder.readFrame(frame.pixels) : jpeg.decodeInto(frame.pixels);
    if (!read.ok())
        return {Arrival::Failed, nullptr, read};
    return {Arrival::Picture, &frame};
}

SourceEnd StillReader::end() {
    SourceEnd said;
    said.warnings = takeWarnings();
    return said;
}
