#pragma once

// What the frame readers tell the run loop. A reader is used in this order:
// open (the input and its frame size), prepare (decoder and frame storage,
// once the tracker is set up), then next until it gives End or Failed.

enum class ReadResult {
    Frame,   // a frame to track
    End,     // every frame has been delivered
    Failed,  // see the reader's failure()
};

enum class InputFailure {
    None,
    CannotOpen,         // the file cannot be opened, or is no movie
    NoVideoStream,      // the movie has no video stream
    NoFrameRate,        // the movie's frame rate is unknown
    NoFrameSize,        // the movie's frame size is not positive
    NoDecoder,          // no decoder for the movie's video
    OutOfMemory,        // the frame storage cannot be allocated
    UnsupportedColour,  // a JPEG in a colour space other than colour or grey
    DecoderError,       // libjpeg gave up on the file (its message says why)
};
