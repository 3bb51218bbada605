#pragma once

#include <cstdint>

#include "app/frame_convert.h"
#include "marker/frame_image.h"

// The movie decoder: opens a movie file by name (FFmpeg's libavformat), takes
// its first video stream, decodes it (libavcodec) and converts each decoded
// picture (libswscale) straight into a frame: blue, green, red, 255, rows
// unpadded.

struct AVFormatContext;
struct AVStream;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;

// The largest frame side Lumeko takes, in pixels. 8192 holds every camera's
// footage up to DCI 8K (8192 x 4320); a frame of 8192 x 8192 is 256 MiB in
// the tracker's four bytes a pixel, and a run holds a few frames, so anything
// larger would ask a desktop machine for more memory than it has. Decoders
// refuse pictures of more pixels than a frame of this side squared.
inline constexpr int MAX_FRAME_SIDE = 8192;

// What the container says about the first video stream.
struct MovieInfo {
    int width;
    int height;
    unsigned rate;  // frames per second = rate / scale; both 0 when unknown
    unsigned scale;
    unsigned length;  // number of frames; 0 when the container does not know it
};

// Everything one open movie holds; all null / zero when none is open.
struct MovieState {
    AVFormatContext* container{};
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
    bool ended{};  // the decoder has given its last picture
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
    enum class Found { Picture, EmptyChunk, End };

    // Decodes the next picture in presentation order and holds it (Picture,
    // with its frame number). An empty packet (a zero-size chunk, which in AVI
    // means "the same picture as the frame before") is EmptyChunk with its
    // frame number, handed out just before the first picture after it. End
    // after the last picture. Packets and pictures the decoder rejects are
    // passed over, so the frame numbers show the gaps.
    Found decodePicture(long long& number);

    // After Picture: converts the picture held into `frame` (scaled when the
    // sizes differ) and lets it go. False when that conversion is not possible.
    bool convertPicture(const FrameImage& frame);

    // After Picture: lets the picture held go unconverted.
    void dropPicture();

    // Decodes up to the first picture, if it has not come yet, and gives its
    // size without handing anything out. False when the movie has none.
    bool peekPictureSize(int& width, int& height);

    // Releases everything opened; harmless when nothing is open.
    void close();

  private:
    bool fillPicture();

    MovieState movie;
    FrameConverter converter;
};
