#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "marker/frame_image.h"
#include "media/frame_reader.h"
#include "media/movie_file.h"

// Delivers frame i of a movie as the i-th frame: every decoded picture at the
// position its timestamp gives; for an empty chunk (AVI's "same picture as
// before") the picture before it again; and NoPicture for every other
// position with no decodable picture, which then tracks as a blank frame
// would. A known length bounds the positions; an unknown one ends with the
// last decoded picture.
//
// The frames are the size of the first decoded picture (the container's
// claim only when none decodes: then no frame is allocated at all), at most
// MAX_FRAME_SIDE on a side. Decoding runs on a thread of its own that fills a
// ring of frames allocated once, a few ahead of the caller; one thread or
// several deliver the same frames.
class MovieReader {
  public:
    MovieReader() = default;
    MovieReader(const MovieReader&) = delete;
    MovieReader& operator=(const MovieReader&) = delete;
    ~MovieReader();

    // Before open(): 1 decodes everything on the calling thread, one picture
    // at a time; 0 (the default) lets a decode thread and the decoder's own
    // threads work ahead; N > 1 the same with N decoder threads.
    void setThreads(int count) { threads = count; }

    // Before open(): delivers only movie frames `first` to `last` (inclusive,
    // frame numbers from 0; `last` -1 for the end).
    void setRange(long long first, long long last);

    // Opens the movie, reads its video stream's size, rate and length, and
    // decodes up to its first picture for the frame size.
    InputFailure open(const char* movieName);
    // As open(), on a movie of `size` bytes at `data`, read where it is: the
    // caller keeps the bytes alive and unchanged as long as the reader lives.
    InputFailure openMemory(const uint8_t* data, size_t size);
    // The frame size, rate and the number of frames to deliver (0 when unknown).
    const MovieInfo& info() const { return movieInfo; }

    // Allocates the frames and starts decoding.
    InputFailure prepare();

    // The next frame in movie order, valid until the next call; null with
    // NoPicture.
    ReadResult next(const FrameImage** frame);

    // Undecodable pictures become NoPicture, so a prepared movie fails only
    // when memory runs out while decoding (next() gives Failed, OutOfMemory).
    InputFailure failure() const { return failed; }

    // Positions so far that had no decodable picture, and those that repeated
    // the picture before them (empty chunks).
    long long lostFrames() const { return lost; }
    long long repeatedFrames() const { return repeated; }

  private:
    enum class Kind { Picture, Repeat, Blank, End, OutOfMemory };
    struct Delivery {
        Kind kind;
        int slot;  // the ring frame of a Picture
    };
    static constexpr int RING_SIZE = 3;
    static constexpr int QUEUE_SIZE = 8;

    InputFailure examine(int opened);
    Kind produce(int slot);
    int freeSlot() const;
    void decodeLoop();
    void stopDecoding();

    MovieFile movie;
    MovieInfo movieInfo{};
    int threads = 0;
    long long rangeFirst = 0;
    long long rangeLast = -1;
    bool noDecoder = false;
    bool anyPicture = false;  // a picture decoded at opening
    bool outOfMemory = false;
    InputFailure failed = InputFailure::None;

    // The frames decoded pictures go into.
    FrameImage ring[RING_SIZE]{};
    int ringSize = 0;

    // What the decoding side keeps.
    MovieFile::Found pendingFound = MovieFile::Found::End;
    long long pendingNumber = 0;
    bool pending = false;  // a picture or an empty chunk waits for its position
    bool ended = false;    // no more pictures to decode
    bool pictureSeen = false;
    long long position = 0;
    long long endPosition = -1;  // one past the last position to deliver; -1 unknown
    long long lost = 0;
    long long repeated = 0;

    // Shared between the decode thread and the caller.
    std::mutex lock;
    std::condition_variable changed;
    Delivery queue[QUEUE_SIZE]{};
    int queueStart = 0;
    int queueCount = 0;
    int held = -1;     // the ring frame the caller has (the last picture delivered)
    int filling = -1;  // the ring frame being decoded into
    bool stopping = false;
    bool finished = false;  // End has been delivered
    std::thread decoder;
};
