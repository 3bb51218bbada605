#pragma once

#include <cstddef>
#include <cstdint>

#include "media/frame_ring.h"
#include "media/frame_source.h"
#include "media/movie_file.h"

// Delivers frame i of a movie as the i-th frame: every decoded picture at the
// position its timestamp gives; for an empty chunk (AVI's "same picture as
// before") the picture before it again; and a Blank for every other position
// with no decodable picture, which then tracks as a blank frame would. A
// known length bounds the positions; an unknown one ends with the last
// decoded picture.
//
// The frames are the size of the first decoded picture (the container's
// claim only when none decodes: then no frame is allocated at all), at most
// MAX_FRAME_SIDE on a side. Decoding runs on a thread of its own (FrameRing).
class MovieReader : public FrameSource {
  public:
    explicit MovieReader(const MovieSettings& settings = {}) : settings(settings) {}

    // Opens the movie, reads its video stream's size, rate and length, and
    // decodes up to its first picture for the frame size.
    InputProblem open(const char* movieName) override;
    // As open(), on a movie of `size` bytes at `data`, read where it is: the
    // caller keeps the bytes alive and unchanged as long as the reader lives.
    InputProblem openMemory(const uint8_t* data, size_t size);
    FrameSize size() const override { return frameSize; }
    std::optional<FrameRate> rate() const override { return movie.info().rate; }
    std::optional<long long> length() const override { return frameCount; }

    // A decoder that cannot be opened, or memory that ran out at opening, is
    // reported here, once the tracker is set up.
    InputProblem prepare() override;
    // Undecodable pictures become Blank frames, so a prepared movie fails
    // only when memory runs out while decoding, or when a range of a movie
    // of unknown length turns out to start after its end (RangePastEnd).
    Delivery next() override;
    SourceEnd end() override;

  private:
    InputProblem examine(const InputProblem& opened);

    MovieSettings settings;
    MovieFile movie;
    FrameRing ring{movie, Arrival::Blank};
    FrameSize frameSize;
    std::optional<long long> frameCount;
    bool anyPicture = false;  // a picture decoded at opening
    InputProblem deferred;    // what prepare() reports
};
