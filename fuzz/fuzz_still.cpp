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
    InputFailure failure = reader.open(path.c_str());
    reader.takeWarnings();
    if (failure != InputFailure::None) {
        fuzz::require(failure != InputFailure::DecoderError || !reader.decoderError().empty(),
                      "libjpeg's failure comes with its message");
        fuzz::require(failure != InputFailure::FrameTooLarge ||
                          std::max(reader.claimedWidth(), reader.claimedHeight()) > MAX_FRAME_SIDE,
                      "only a still beyond the side limit is refused as too large");
        return 0;
    }
    fuzz::require(reader.width() > 0 && reader.height() > 0, "an opened still has a size");
    fuzz::require(reader.width() <= MAX_FRAME_SIDE && reader.height() <= MAX_FRAME_SIDE,
                  "an opened still is within the side limit");
    if (static_cast<long long>(reader.width()) * reader.height() > PIXELS_MAX)
        return 0;
    failure = reader.prepare();
    if (failure != InputFailure::None)
        return 0;
    const FrameImage* frame = nullptr;
    const ReadResult first = reader.next(&frame);
    if (first == ReadResult::Failed) {
        fuzz::require(reader.failure() != InputFailure::None, "a failed read says why");
        return 0;
    }
    fuzz::require(first == ReadResult::Frame && frame != nullptr, "one frame");
    fuzz::require(frame->width == reader.width() && frame->height == reader.height(),
                  "the frame has the header's size");
    unsigned sum = 0;
    const size_t bytes = static_cast<size_t>(frame->width) * frame->height * 4;
    for (size_t i = 3; i < bytes; i += 4) {
        fuzz::require(frame->pixels[i] == 255, "alpha is 255");
        sum += frame->pixels[i - 1] + frame->pixels[i - 2] + frame->pixels[i - 3];
    }
    (void)sum;
    const ReadResult second = reader.next(&frame);
    fuzz::require(second == ReadResult::End || second == ReadResult::Failed, "then the end");
    return 0;
}
