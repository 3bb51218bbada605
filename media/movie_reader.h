#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "image/frame_image.h"
#include "media/frame_reader.h"
#include "media/movie_file.h"
#include "media/sequence_file.h"

// Delivers frame i of a movie, or of a numbered picture sequence, as the
// i-th frame: every decoded picture at the
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
    // frame numbers from 0, or a sequence's own numbers; `last` -1 for the end).
    // open() refuses a range that starts after the last frame of a movie of
    // known length (RangePastEnd); one that goes past it ends with the last
    // frame.
    void setRange(long long first, long long last);
    long long rangeStart() const { return rangeFirst; }
    long long rangeEnd() const { return rangeLast; }

    // Before open(): the frame rate of a picture sequence (default 24 / 1).
    void setSequenceRate(unsigned rate, unsigned scale);

    // Opens the movie, reads its video stream's size, rate and length, and
    // decodes up to its first picture for the frame size. A name that is no
    // file but a sequence pattern (see sequence_name.h) opens the sequence:
    // from its lowest number present (or the range's first) to its highest
    // (or the range's last), a missing number NoPicture; its files' sizes
    // are read, and a file of another size than the first is refused
    // (MixedSizes) before any frame is delivered.
    InputFailure open(const char* movieName);
    // As open(), on a movie of `size` bytes at `data`, read where it is: the
    // caller keeps the bytes alive and unchanged as long as the reader lives.
    InputFailure openMemory(const uint8_t* data, size_t size);
    // The frame size, rate and the number of frames to deliver (0 when unknown).
    const MovieInfo& info() const { return movieInfo; }
    // The number of frames of the whole movie (0 when unknown).
    unsigned movieLength() const { return wholeLength; }

    // Allocates the frames and starts decoding.
    InputFailure prepare();

    // The next frame in movie order, valid until the next call; null with
    // NoPicture.
    ReadResult next(const FrameImage** frame);
    // The frames next() has given so far, NoPicture ones included.
    long long framesDelivered() const { return delivered; }

    // Undecodable pictures become NoPicture, so a prepared movie fails only
    // when memory runs out while decoding (next() gives Failed, OutOfMemory).
    InputFailure failure() const { return failed; }

    // Positions so far that had no decodable picture, and those that repeated
    // the picture before them (empty chunks).
    long long lostFrames() const { return lost; }
    long long repeatedFrames() const { return repeated; }

    // A picture sequence: its number of the first frame delivered, and how
    // many of the numbers to deliver have no file (counted in lostFrames()).
    bool isSequence() const { return sequenceOpen; }
    long long firstNumber() const { return sequenceFirst; }
    long long missingFrames() const { return missing; }
    // After a sequence failed to open: the file (or pattern) concerned and why.
    const std::string& problemFile() const { return problemName; }
    const std::string& problem() const { return problemReason; }

  private:
    enum class Kind { Picture, Repeat, Blank, End, OutOfMemory };
    struct Delivery {
        Kind kind;
        int slot;  // the ring frame of a Picture
    };
    static constexpr int RING_SIZE = 3;
    static constexpr int QUEUE_SIZE = 8;

    InputFailure examine(int opened);
    InputFailure openSequence(const SequencePattern& pattern, const char* name);
    InputFailure checkSequenceSizes(const SequencePattern& pattern,
                                    const std::vector<long long>& present);
    InputFailure refuseSequence(InputFailure failure, const std::string& file,
                                const std::string& reason);
    MovieFile::Found decodeNext(long long& number);
    void dropHeld();
    bool convertHeld(const FrameImage& target);
    Kind produce(int slot);
    int freeSlot() const;
    void decodeLoop();
    void stopDecoding();

    MovieFile movie;
    SequenceFile sequence;
    bool sequenceOpen = false;
    long long sequenceFirst = 0;
    long long missing = 0;
    unsigned sequenceRate = 24;
    unsigned sequenceScale = 1;
    std::string problemName;
    std::string problemReason;
    MovieInfo movieInfo{};
    unsigned wholeLength = 0;
    int threads = 0;
    bool ranged = false;
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
    long long delivered = 0;
    std::thread decoder;
};
