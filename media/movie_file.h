#pragma once

#include <cstddef>
#include <cstdint>

#include "image/frame_image.h"
#include "media/frame_convert.h"
#include "media/frame_reader.h"

// The movie decoder: opens a movie file by name, or the bytes of one in
// memory (FFmpeg's libavformat), takes
// its first video stream, decodes it (libavcodec) and converts each decoded
// picture (libswscale) straight into a frame: blue, green, red, 255, rows
// unpadded.

struct AVFormatContext;
struct AVIOContext;
struct AVStream;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;

// What the container says about the first video stream.
struct MovieInfo {
    int width;
    int height;
    unsigned rate;  // frames per second = rate / scale; both 0 when unknown
    unsigned scale;
    unsigned length;  // number of frames; 0 when the container does not know it
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
class MovieFile {
  public:
    MovieFile() = default;
    MovieFile(const MovieFile&) = delete;
    MovieFile& operator=(const MovieFile&) = delete;
    ~MovieFile();

    // Opens and reads the container. 0, or -1 when the file cannot be opened or is
    // not a movie. Closes a movie still open.
    int open(const char* fileName);

    // As open(), on the `size` bytes at `data`. The bytes are read where they
    // are, not copied: the caller keeps them alive and unchanged until close()
    // or destruction.
    int openMemory(const uint8_t* data, size_t size);

    // Chooses the first video stream. 0, or -1 when there is none.
    int openVideoStream();

    // Frame size (as the container claims it), rate, scale and length of the
    // chosen stream.
    MovieInfo info() const;

    // Opens the decoder. threadCount 0 lets the decoder choose; the pictures
    // are the same for any count. 0; -1 when there is no decoder for the
    // stream; -2 when memory runs out.
    int openDecoder(int threadCount);

    // What decodePicture() found.
    enum class Found { Picture, EmptyChunk, End, OutOfMemory };

    // Decodes the next picture in presentation order and holds it (Picture,
    // with its frame number). An empty packet (a zero-size chunk, which in AVI
    // means "the same picture as the frame before") is EmptyChunk with its
    // frame number, handed out just before the first picture after it. End
    // after the last picture. Packets and pictures the decoder rejects are
    // passed over, so the frame numbers show the gaps. OutOfMemory when
    // reading or decoding ran out of memory (FFmpeg's ENOMEM): the movie
    // cannot go on, and every later call gives it again.
    Found decodePicture(long long& number);

    // After Picture: converts the picture held into `frame` (scaled when the
    // sizes differ; FRAME_CONVERT_SLACK bytes after its pixels may be
    // written) and lets it go. False when that conversion is not possible.
    bool convertPicture(const FrameImage& frame);

    // After Picture: lets the picture held go unconverted.
    void dropPicture();

    // Decodes up to the first picture, if it has not come yet, and gives its
    // size without handing anything out. False when the movie has none, or
    // when memory ran out (see outOfMemory()).
    bool peekPictureSize(int& width, int& height);

    // Reading or decoding has run out of memory.
    bool outOfMemory() const { return movie.outOfMemory; }

    // Releases everything opened; harmless when nothing is open.
    void close();

  private:
    int openContainer(const char* url);
    bool fillPicture();

    MovieState movie;
    FrameConverter converter;
};
