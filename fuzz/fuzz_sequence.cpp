// The picture-sequence reader on one file of any bytes: its size from the
// header (or a decode), the probed decoder and the conversion, high bit
// depths and floats included. Opening gives a frame size within the side
// limit or a status; a prepared sequence gives one frame of that size
// (or no frame when the picture does not decode), then the end.

#include <sys/stat.h>

#include <string>

#include "fuzz/fuzz_support.h"
#include "media/sequence_reader.h"

// Pictures above this many pixels are skipped after opening, as in fuzz_still.
constexpr long long PIXELS_MAX = 1024LL * 1024;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& folder = fuzz::scratchPath("sequence");
    mkdir(folder.c_str(), 0700);
    fuzz::writeScratch(folder + "/p.7", data, size);
    MovieSettings settings;
    settings.threads = 1;
    SequenceReader reader(settings);
    const InputFailure failure = reader.open((folder + "/p.%d").c_str()).failure;
    if (failure != InputFailure::None) {
        fuzz::require(failure == InputFailure::CannotOpen ||
                          failure == InputFailure::FrameTooLarge ||
                          failure == InputFailure::OutOfMemory,
                      "one file: it opens, or it is no picture, or too large");
        return 0;
    }
    const FrameSize info = reader.size();
    fuzz::require(reader.firstNumber() == 7 && reader.length() == 1,
                  "a sequence of one frame, numbered 7");
    fuzz::require(info.width > 0 && info.height > 0 && info.width <= MAX_FRAME_SIDE &&
                      info.height <= MAX_FRAME_SIDE,
                  "the frame size is within the side limit");
    if (static_cast<long long>(info.width) * info.height > PIXELS_MAX || !reader.prepare().ok())
        return 0;
    const Delivery first = reader.next();
    const FrameImage* frame = first.frame;
    if (first.arrival == Arrival::Failed)
        return 0;  // (memory ran out)
    if (first.arrival == Arrival::Gap) {
        fuzz::require(frame == nullptr, "no frame without a picture");
    } else {
        fuzz::require(first.arrival == Arrival::Picture && frame->width == info.width &&
                          frame->height == info.height,
                      "one frame of the sequence's size");
        const size_t bytes = static_cast<size_t>(frame->width) * frame->height * 4;
        for (size_t i = 3; i < bytes; i += 4)
            fuzz::require(frame->pixels[i] == 255, "alpha is 255");
    }
    fuzz::require(reader.next().arrival == Arrival::End, "then the end");
    return 0;
}
