#pragma once

// The largest frame side Lumeko takes, in pixels, from a movie or a still.
// 8192 holds every camera's footage up to DCI 8K (8192 x 4320); a frame of
// 8192 x 8192 is 256 MiB in the tracker's four bytes a pixel, and a run holds
// a few frames, so anything larger would ask a desktop machine for more memory
// than it has. Movie decoders refuse pictures of more pixels than a frame of
// this side squared; a still larger than this is refused from its header.
inline constexpr int MAX_FRAME_SIDE = 8192;

// What the frame readers tell the run loop. A reader is used in this order:
// open (the input and its frame size), prepare (decoder and frame storage,
// once the tracker is set up), then next until it gives End or Failed.

enum class ReadResult {
    Frame,      // a frame to track
    NoPicture,  // a frame whose picture could not be decoded: nothing to find in it
    End,        // every frame has been delivered
    Failed,     // see the reader's failure()
};

enum class InputFailure {
    None,
    CannotOpen,         // the file cannot be opened, or is no movie
    NoVideoStream,      // the movie has no video stream
    NoFrameRate,        // the movie's frame rate is unknown
    NoFrameSize,        // the movie's frame size is not positive
    NoDecoder,          // no decoder for the movie's video
    OutOfMemory,        // the frame storage cannot be allocated, or decoding ran out
    UnsupportedColour,  // a JPEG in a colour space other than colour or grey
    DecoderError,       // libjpeg gave up on the file (its message says why)
    FrameTooLarge,      // the frames are larger than MAX_FRAME_SIDE on a side
    MixedSizes,         // a picture sequence's files are not all one size
    RangePastEnd,       // the range asked for starts after the movie's last frame
};
