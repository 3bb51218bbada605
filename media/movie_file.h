#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "image/frame_image.h"
#include "media/frame_convert.h"
#include "media/frame_source.h"
#include "media/picture_decoder.h"

// The movie decoder: opens a movie file by name, or the bytes of one in
// memory (FFmpeg's libavformat), takes its first video stream, decodes it
// (libavcodec) and converts each decoded picture (libswscale) straight into
// a frame: blue, green, red, 255, rows unpadded.

struct AVFormatContext;
struct AVIOContext;
struct AVStream;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;

// What the container says about the first video stream.
struct MovieInfo {
    FrameSize size;                   // as the container claims it
    std::optional<FrameRate> rate;    // when the container says
    std::optional<long long> length;  // the number of frames, when the container says
};

// A movie in memory as libavformat reads it through a custom I/O context.
struct MemorySource {
    const uint8_t* data{};
    size_t size{};
    size_t position{};
};

// Everything one open movie holds; all null / zero when none is open.
struct MovieState {
    AVFormatContext* container{};
    AVIOContext* io{};  // the I/O context over `memory` of a movie opened from memory
    MemorySource memory{};
    AVStream* stream{};
    AVCodecContext* decoder{};
    AVPacket* packet{};
    AVFrame* picture{};
    MovieInfo info{};
    int claimedStream{-1};  // the first video stream, and the size its header claims
    int claimedWidth{};
    int claimedHeight{};
    int64_t startTime{};
    long long lastNumber{};
    long long lastPacketNumber{};
    bool countsEmptyChunks{};  // an AVI: gaps in the packet times are empty chunks
    bool holding{};            // `picture` holds a decoded picture
    bool draining{};
    bool ended{};        // the decoder has given its last picture
    bool outOfMemory{};  // reading or decoding ran out of memory
    int drainErrors{};
    // Runs of empty packets (first and last frame number) read but not yet
    // handed out, oldest first: at most a decoder's delay of them wait.
    long long emptyRuns[64][2]{};
    int emptyRunCount{};
};

// One movie, open from open() until close() or destruction.
class MovieFile : public PictureDecoder {
  public:
    MovieFile() = default;
    MovieFile(const MovieFile&) = delete;
    MovieFile& operator=(const MovieFile&) = delete;
    ~MovieFile() override;

    // Opens and reads the container: CannotOpen when the file cannot be
    // opened or is not a movie. Closes a movie still open.
    InputProblem open(const char* fileName);

    // As open(), on the `size` bytes at `data`. The bytes are read where they
    // are, not copied: the caller keeps them alive and unchanged until close()
    // or destruction.
    InputProblem openMemory(const uint8_t* data, size_t size);

    // Chooses the first video stream and reads its size, rate and length:
    // NoVideoStream when there is none.
    InputProblem openVideoStream();
    const MovieInfo& info() const { return movie.info; }

    // Opens the decoder and decodes up to the first picture, for its size.
    // threadCount 0 lets the decoder choose; the pictures are the same for
    // any count. NoDecoder when there is no decoder for the stream;
    // OutOfMemory when memory runs out.
    InputProblem openDecoder(int threadCount);
    // The size of the first picture, once openDecoder has decoded it; none
    // when the movie has no picture that decodes.
    std::optional<FrameSize> firstPictureSize() const { return firstSize; }

    // The next picture in presentation order, held, with its frame number.
    // An empty packet (a zero-size chunk, which in AVI means "the same
    // picture as the frame before") is an EmptyChunk with its frame number,
    // handed out just before the first picture after it. Failed (OutOfMemory)
    // when reading or decoding ran out of memory (FFmpeg's ENOMEM): the movie
    // cannot go on, and every later call fails again.
    Decoded decodePicture() override;
    InputProblem convertPicture(const FrameImage& frame) override;
    void dropPicture() override;

    // Releases everything opened; harmless when nothing is open.
    void close();

  private:
    InputProblem openContainer(const char* url);
    bool fillPicture();

    MovieState movie;
    FrameConverter converter;
    std::optional<FrameSize> firstSize;
};
