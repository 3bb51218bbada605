#pragma once

#include <cstddef>
#include <cstdint>

// The movie decoder: opens a movie file by name (FFmpeg's libavformat), takes
// its first video stream, decodes it (libavcodec) and converts every frame
// (libswscale) into 24-bit blue-green-red rows at the movie's frame size.

struct AVFormatContext;
struct AVIOContext;
struct AVStream;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;
struct SwsContext;

// What the container says about the first video stream.
struct MovieInfo {
    int width;
    int height;
    unsigned rate;  // frames per second = rate / scale; both 0 when unknown
    unsigned scale;
    unsigned length;  // number of frames; 0 when the container does not know it
};

// One decoded frame: its position in the movie (frame number, from its
// timestamp: time since the stream's start x rate / scale, rounded), and
// MovieInfo::height rows of MovieInfo::width pixels, 3 bytes each (blue,
// green, red), top row first, `stride` bytes apart. Valid until the next read.
struct MovieFrame {
    long long number;
    const unsigned char* rows;
    int stride;
};

// The source picture a converter was made for.
struct ConverterSource {
    int width;
    int height;
    int format;
    int colourSpace;
    int fullRange;
};

// A movie held in memory by its caller, read through `io`.
struct MemoryInput {
    const unsigned char* data{};
    size_t size{};
    size_t position{};
};

// Everything one open movie holds; all null / zero when none is open.
struct MovieState {
    AVFormatContext* container{};
    AVIOContext* io{};  // only for a movie opened from memory
    MemoryInput memory{};
    AVStream* stream{};
    AVCodecContext* decoder{};
    AVPacket* packet{};
    AVFrame* picture{};
    SwsContext* converter{};
    ConverterSource converterSource{};
    unsigned char* rows{};
    int stride{};
    MovieInfo info{};
    int64_t startTime{};
    long long lastNumber{};
    bool draining{};
    int drainErrors{};
};

// openDecoder's result when an allocation failed.
inline constexpr int DECODER_OUT_OF_MEMORY = -2;

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

    // The same for a movie of `size` bytes at `data`, which must stay in place
    // until the movie is closed (for tests and fuzzing without files).
    int openMemory(const unsigned char* data, size_t size);

    // Chooses the first video stream. 0, or -1 when there is none.
    int openVideoStream();

    // Frame size, rate, scale and length of the chosen stream.
    MovieInfo info() const;

    // Opens the decoder and the conversion, and allocates the row buffer.
    // threadCount 0 lets the decoder choose; the frames are the same for any
    // count. 0; DECODER_OUT_OF_MEMORY when memory runs out on the way; -1 when
    // there is no decoder or conversion for the stream.
    int openDecoder(int threadCount);

    // Decodes the next frame in presentation order: 1 with it, 0 at the end of
    // the movie. Packets and frames the decoder rejects are passed over, so the
    // frame numbers of what is delivered show the gaps.
    int readFrame(MovieFrame& frame);

    // Releases everything opened; harmless when nothing is open.
    void close();

  private:
    MovieState movie;
};
