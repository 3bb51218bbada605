#pragma once

#include <cstdlib>

#include "app/frame_reader.h"
#include "app/movie_file.h"
#include "marker/frame_image.h"

// Delivers frame i of a movie as the i-th frame: every decoded picture at the
// position its timestamp gives, and a blank (all-white) stand-in for every
// position with no decodable picture, which then tracks as a frame without
// the marker. A known length bounds the positions; an unknown one ends with
// the last decoded picture.
class MovieReader {
  public:
    MovieReader() = default;
    MovieReader(const MovieReader&) = delete;
    MovieReader& operator=(const MovieReader&) = delete;
    ~MovieReader();

    // Opens the movie and reads its video stream's size, rate and length.
    InputFailure open(const char* movieName);
    // The same for a movie in memory (see MovieFile::openMemory).
    InputFailure openMemory(const unsigned char* data, size_t size);
    const MovieInfo& info() const { return movieInfo; }

    // Opens the decoder and allocates the two frames.
    InputFailure prepare();

    // The next frame in movie order, valid until the next call.
    ReadResult next(const FrameImage** frame);

    // A movie never fails once prepared: undecodable pictures become stand-ins.
    InputFailure failure() const { return InputFailure::None; }

    // Positions that had no decodable picture so far.
    long long lostFrames() const { return lost; }

  private:
    // The stream and its size, rate and length, once the container is open.
    InputFailure readInfo();

    MovieFile movie;
    MovieInfo movieInfo{};
    FrameImage picture{};
    FrameImage blank{};
    MovieFrame decoded{};
    bool pending = false;  // `decoded` waits for its position
    bool ended = false;    // no more pictures to decode
    long long position = 0;
    long long lost = 0;
};
