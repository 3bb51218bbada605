// The JPEG still reader: any bytes open, prepare and decode to one frame of
// the size the header gave, or fail with a status (libjpeg's message for its
// own errors); the frame's every byte is readable and alpha is 255.

#include <algorithm>
#include <string>

#include "fuzz/fuzz_support.h"
#include "media/still_reader.h"

// Pictures above this many pixels are skipped after the header: frame storage
// and decoding time follow the size the header claims, which is the business
// of a size limit and not of this target (it would only measure the allocator
// and run into the time limit: a 64975 x 221 header took over 10 s here).
constexpr long long PIXELS_MAX = 1024LL * 1024;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = fuzz::scratchPath("still.jpg");
    fuzz::writeScratch(path, data, size);
    StillReader reader;
    const InputProblem opened = reader.open(path.c_str());
    reader.takeWarnings();
    const FrameSize frameSize = reader.size();
    if (!opened.ok()) {
        const bool library =
            opened.failure == InputFailure::JpegError || opened.failure == InputFailure::PngError;
        fuzz::require(!library || !opened.reason.empty(),
                      "a library's failure comes with its message");
        fuzz::require(opened.failure != InputFailure::FrameTooLarge ||
                          std::max(frameSize.width, frameSize.height) > MAX_FRAME_SIDE,
                      "only a still beyond the side limit is refused as too large");
        return 0;
    }
    fuzz::require(frameSize.width > 0 && frameSize.height > 0, "an opened still has a size");
    fuzz::require(frameSize.width <= MAX_FRAME_SIDE && frameSize.height <= MAX_FRAME_SIDE,
                  "an opened still is within the side limit");
    if (static_cast<long long>(frameSize.width) * frameSize.height > PIXELS_MAX)
        return 0;
    if (!reader.prepare().ok())
        return 0;
    const Delivery first = reader.next();
    if (first.arrival == Arrival::Failed) {
        fuzz::require(!first.problem.ok(), "a failed read says why");
        return 0;
    }
    const FrameImage* frame = first.frame;
    fuzz::require(first.arrival == Arrival::Picture && frame != nullptr, "one frame");
    fuzz::require(frame->width == frameSize.width && frame->height == frameSize.height,
                  "the frame has the header's size");
    unsigned sum = 0;
    const size_t bytes = static_cast<size_t>(frame->width) * frame->height * 4;
    for (size_t i = 3; i < bytes; i += 4) {
        fuzz::require(frame->pixels[i] == 255, "alpha is 255");
        sum += frame->pixels[i - 1] + frame->pixels[i - 2] + frame->pixels[i - 3];
    }
    (void)sum;
    fuzz::require(reader.next().arrival == Arrival::End, "then the end");
    return 0;
}
