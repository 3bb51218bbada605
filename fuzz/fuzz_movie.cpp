// The movie reader on a movie in memory (FFmpeg through a custom I/O
// context): any bytes open and prepare or fail with a status; frames come in
// order with the movie's size, a known length bounds their number, and every
// byte of every frame is readable.

#include "fuzz/fuzz_support.h"
#include "media/movie_reader.h"

// As for stills: storage follows the size the container claims; beyond this
// the input is skipped after opening (a size limit's business, not this target's).
constexpr long long PIXELS_MAX = 1024LL * 1024;
// Frames read per input at most, to keep each run short.
constexpr int FRAMES_MAX = 64;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // On the calling thread: the same frames as with decode threads (a unit
    // test checks that), and the same path through the code for one input.
    MovieSettings settings;
    settings.threads = 1;
    MovieReader reader(settings);
    if (!reader.openMemory(data, size).ok())
        return 0;
    const FrameSize info = reader.size();
    fuzz::require(info.width > 0 && info.height > 0 && reader.rate() && reader.rate()->rate > 0 &&
                      reader.rate()->scale > 0,
                  "an opened movie has a size and a rate");
    fuzz::require(info.width <= MAX_FRAME_SIDE && info.height <= MAX_FRAME_SIDE,
                  "an opened movie is within the side limit");
    if (static_cast<long long>(info.width) * info.height > PIXELS_MAX)
        return 0;
    if (!reader.prepare().ok())
        return 0;
    long long frames = 0;
    for (; frames < FRAMES_MAX; frames++) {
        const Delivery read = reader.next();
        if (read.arrival == Arrival::End)
            break;
        if (read.arrival == Arrival::Failed) {
            fuzz::require(read.problem.failure == InputFailure::OutOfMemory,
                          "a prepared movie fails only when memory runs out");
            return 0;
        }
        const FrameImage* frame = read.frame;
        if (read.arrival == Arrival::Blank) {
            fuzz::require(frame == nullptr, "no frame for a position without a picture");
            continue;
        }
        fuzz::require(read.arrival == Arrival::Picture && frame->width == info.width &&
                          frame->height == info.height,
                      "frames have the movie's size");
        const size_t bytes = static_cast<size_t>(frame->width) * frame->height * 4;
        unsigned sum = 0;
        for (size_t i = 0; i < bytes; i += 4)
            sum += frame->pixels[i] + frame->pixels[i + 3];
        (void)sum;
    }
    if (reader.length() && frames < FRAMES_MAX)
        fuzz::require(frames <= *reader.length(), "a known length bounds the frames");
    fuzz::require(reader.end().undecoded <= frames, "lost frames are among those delivered");
    return 0;
}
