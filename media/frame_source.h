#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "image/frame_image.h"

// Frame input: a movie, a numbered picture sequence or a still, each read by
// a FrameSource that delivers its frames one at a time in the tracker's
// layout. A source is used in this order: open (the input and its frame
// size), prepare (decoder and frame storage, once the tracker is set up),
// next until it gives End or Failed, then end for what it has to say.

// The largest frame side Lumeko takes, in pixels, from a movie or a still.
// 8192 holds every camera's footage up to DCI 8K (8192 x 4320); a frame of
// 8192 x 8192 is 256 MiB in the tracker's four bytes a pixel, and a run holds
// a few frames, so anything larger would ask a desktop machine for more memory
// than it has. Movie decoders refuse pictures of more pixels than a frame of
// this side squared; a still larger than this is refused from its header.
inline constexpr int MAX_FRAME_SIDE = 8192;

struct FrameSize {
    int width = 0;
    int height = 0;
};

// Frames a second: rate / scale, both above 0.
struct FrameRate {
    unsigned rate = 24;
    unsigned scale = 1;
};

// Why an input cannot be opened or read.
enum class InputFailure {
    None,
    CannotOpen,         // the file cannot be opened, or is no movie or picture that can be read
    NoVideoStream,      // the movie has no video stream
    NoFrameRate,        // the movie's frame rate is unknown
    NoFrameSize,        // the movie's frame size is not positive
    NoDecoder,          // no decoder for the movie's video
    OutOfMemory,        // storage cannot be allocated, or decoding ran out
    UnsupportedColour,  // a JPEG in a colour space other than colour or grey
    JpegError,          // libjpeg gave up on the file (its message says why)
    PngError,           // libpng gave up on the file (its message says why)
    Unconvertible,      // a decoded picture cannot be converted into a frame
    FrameTooLarge,      // the frames are larger than MAX_FRAME_SIDE on a side
    MixedSizes,         // a picture sequence's files are not all one size
    RangePastEnd,       // the range asked for starts after the movie's last frame
};

// Frame input's one result: every call in media/ that can fail returns one
// (alone, or in the Delivery of a frame or the Decoded of a picture).
struct InputProblem {
    InputProblem() = default;
    InputProblem(InputFailure failure, int error = 0, std::string file = "",
                 std::string reason = "")
        : failure(failure), error(error), file(std::move(file)), reason(std::move(reason)) {}

    InputFailure failure = InputFailure::None;
    int error = 0;       // the errno of the call that failed on a file; 0 when none did
    std::string file;    // the file or folder concerned, when it is not the input itself
    std::string reason;  // why, where no errno says it: a library's message, a size
    // RangePastEnd: how many frames the input has, when it says.
    std::optional<long long> inputFrames;
    bool ok() const { return failure == InputFailure::None; }
};

// How a frame came.
enum class Arrival {
    Picture,  // a frame to track
    Blank,    // a movie frame whose picture did not decode: tracked as a blank frame would be
    Gap,      // a sequence number without a picture: the frames after it start afresh
    End,      // every frame has been delivered
    Failed,   // the input cannot go on: see the problem
};

struct Delivery {
    Delivery(Arrival arrival, const FrameImage* frame = nullptr, InputProblem problem = {})
        : arrival(arrival), frame(frame), problem(std::move(problem)) {}

    Arrival arrival = Arrival::End;
    const FrameImage* frame = nullptr;  // a Picture's, valid until the next call
    InputProblem problem;               // a Failed one's
};

// What a source has to say once its last frame has been delivered.
struct SourceEnd {
    long long undecoded = 0;  // frames whose picture did not decode
    long long missing = 0;    // numbers of a sequence without a file
    long long repeated = 0;   // empty chunks, which repeat the picture before them
    // A range that went past the end of the input: frames `first` to
    // `lastDelivered` were delivered, not up to `last`.
    struct Clip {
        long long first;
        long long last;
        long long lastDelivered;
    };
    std::optional<Clip> clipped;
    std::vector<std::string> warnings;  // a decoder's, not yet taken
};

class FrameSource {
  public:
    virtual ~FrameSource() = default;

    // Opens the input and learns its frame size (and rate and length).
    virtual InputProblem open(const char* name) = 0;
    // The frame size (after a FrameTooLarge from open, the size refused).
    virtual FrameSize size() const = 0;
    // The frame rate; none for a still.
    virtual std::optional<FrameRate> rate() const = 0;
    // How many frames next() will deliver, when the input says.
    virtual std::optional<long long> length() const = 0;
    // A picture sequence's own number of the first frame delivered.
    virtual std::optional<long long> firstNumber() const { return std::nullopt; }
    // A decoder's warnings since the last call, oldest first.
    virtual std::vector<std::string> takeWarnings() { return {}; }

    // Allocates the frames and starts decoding.
    virtual InputProblem prepare() = 0;
    // The next frame in order.
    virtual Delivery next() = 0;
    // After End: the frames that came without a picture or twice, a range
    // cut short and the decoder's last warnings.
    virtual SourceEnd end() = 0;
};

// How a movie or picture sequence is read.
struct MovieSettings {
    // Decoding threads: 1 decodes on the caller's thread, one picture at a
    // time; 0 lets a decode thread and the decoder's own threads work ahead;
    // N > 1 the same with N decoder threads. The frames are the same for any.
    int threads = 0;
    // Only frames `first` to `last` (inclusive; frame numbers from 0, or a
    // sequence's own numbers). A range that starts after the last frame of a
    // movie is refused (RangePastEnd); one that goes past it ends with it.
    struct Range {
        long long first;
        long long last;
    };
    std::optional<Range> range;
    FrameRate sequenceRate;  // a picture sequence's rate (a movie has its own)
};

// The source for kind M: a numbered picture sequence when `name` is no file
// but a sequence pattern (see sequence_name.h), else a movie. Not opened yet.
std::unique_ptr<FrameSource> makeMovieSource(const char* name, const MovieSettings& settings);

// The files a movie source given `name` may read: every file of a sequence
// pattern's folder that matches it, else `name` itself.
std::vector<std::string> movieSourceFiles(const char* name);
