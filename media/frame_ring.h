#pragma once

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "image/frame_image.h"
#include "media/frame_source.h"
#include "media/picture_decoder.h"

// Delivers a decoder's pictures as frames in position order: position i is
// the decoded picture whose frame number is i; for an empty chunk the
// picture before it again; and a frame without a picture (`withoutPicture`:
// Blank for a movie, Gap for a sequence) for every other position. A known
// end bounds the positions; an unknown one ends with the last picture.
//
// Decoding runs on a thread of its own that fills a ring of frames allocated
// once, a few ahead of the caller; one thread or several deliver the same
// frames.
class FrameRing {
  public:
    FrameRing(PictureDecoder& decoder, Arrival withoutPicture)
        : decoder_(decoder), withoutPicture_(withoutPicture) {}
    FrameRing(const FrameRing&) = delete;
    FrameRing& operator=(const FrameRing&) = delete;
    ~FrameRing();

    // The positions to deliver: from `first`, up to `end` (exclusive) when known.
    void setPositions(long long first, std::optional<long long> end);

    // Allocates the frames, of `size`, and starts decoding: on the caller's
    // thread with `threads` 1, else on a thread of its own. Without
    // `anyPicture` (no picture decoded when the input was opened) no frame
    // is allocated: every position is one without a picture.
    InputProblem start(FrameSize size, bool anyPicture, int threads);

    // The next frame in position order.
    Delivery next();

    // The frames delivered so far, those without a picture among them, and
    // those that repeated the picture before them (empty chunks).
    long long delivered() const { return delivered_; }
    long long lost() const { return lost_; }
    long long repeated() const { return repeated_; }

    // What the frames delivered say at the end: those without a picture,
    // those repeated, and whether `range` went past the last one.
    SourceEnd end(const std::optional<MovieSettings::Range>& range) const;

  private:
    enum class Kind { Picture, Repeat, Blank, End, Failed };
    struct Pending {
        Kind kind;
        int slot;  // the ring frame of a Picture
    };
    static constexpr int RING_SIZE = 3;
    static constexpr int QUEUE_SIZE = 8;

    Kind produce(int slot);
    int freeSlot() const;
    void decodeLoop();
    void stopDecoding();

    PictureDecoder& decoder_;
    const Arrival withoutPicture_;

    // The frames decoded pictures go into.
    FrameImage ring_[RING_SIZE]{};
    int ringSize_ = 0;

    // What the decoding side keeps.
    Decoded waiting_{};  // a picture or empty chunk that waits for its position
    bool pending_ = false;
    bool ended_ = false;  // no more pictures to decode
    bool pictureSeen_ = false;
    long long position_ = 0;
    std::optional<long long> end_;  // one past the last position to deliver
    long long lost_ = 0;
    long long repeated_ = 0;
    InputProblem failure_;  // why decoding cannot go on, once it cannot

    // Shared between the decode thread and the caller.
    std::mutex lock_;
    std::condition_variable changed_;
    Pending queue_[QUEUE_SIZE]{};
    int queueStart_ = 0;
    int queueCount_ = 0;
    int held_ = -1;     // the ring frame the caller has (the last picture delivered)
    int filling_ = -1;  // the ring frame being decoded into
    bool stopping_ = false;
    bool finished_ = false;  // End or Failed has been delivered
    long long delivered_ = 0;
    std::thread thread_;
};
