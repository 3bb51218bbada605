#pragma once

#include <utility>

#include "image/frame_image.h"
#include "media/frame_source.h"

// What a decoder found next.
enum class PictureKind {
    Picture,     // a picture, held until it is converted or dropped
    EmptyChunk,  // an empty packet: in AVI, "the same picture as the frame before"
    End,         // the last picture has been given
    Failed,      // decoding cannot go on (memory ran out): see the problem
};

struct Decoded {
    Decoded(PictureKind kind = PictureKind::End, long long number = 0, InputProblem problem = {})
        : kind(kind), number(number), problem(std::move(problem)) {}

    PictureKind kind = PictureKind::End;
    long long number = 0;  // the frame number of a Picture or an EmptyChunk
    InputProblem problem;  // a Failed one's
};

// A decoder of pictures in frame order (a movie's, or a picture sequence's):
// what FrameRing reads from.
class PictureDecoder {
  public:
    virtual ~PictureDecoder() = default;
    // Decodes the next picture and holds it. Pictures and packets that do not
    // decode are passed over, so the frame numbers show the gaps.
    virtual Decoded decodePicture() = 0;
    // Converts the picture held into `frame` (scaled when the sizes differ;
    // FRAME_CONVERT_SLACK bytes after its pixels may be written) and lets it go.
    virtual InputProblem convertPicture(const FrameImage& frame) = 0;
    // Lets the picture held go unconverted.
    virtual void dropPicture() = 0;
};
