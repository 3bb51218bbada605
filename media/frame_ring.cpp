#include "media/frame_ring.h"

#include <cstdlib>
#include <new>
#include <system_error>

#include "media/frame_convert.h"

namespace {

// A frame to convert pictures into, with the converter's slack after it.
FrameImage allocateFrame(FrameSize size) {
    const size_t bytes = static_cast<size_t>(size.width) * static_cast<size_t>(size.height) * 4 +
                         FRAME_CONVERT_SLACK;
    return {static_cast<unsigned char*>(std::malloc(bytes)), size.width, size.height};
}

}  // namespace

FrameRing::~FrameRing() {
    stopDecoding();
    for (FrameImage& frame : ring_)
        std::free(frame.pixels);
}

void FrameRing::setPositions(long long first, std::optional<long long> end) {
    position_ = first;
    end_ = end;
}

InputProblem FrameRing::start(FrameSize size, bool anyPicture, int threads) {
    ringSize_ = !anyPicture ? 0 : threads == 1 ? 2 : RING_SIZE;
    for (int i = 0; i < ringSize_; i++) {
        ring_[i] = allocateFrame(size);
        if (ring_[i].pixels == nullptr)
            return {InputFailure::OutOfMemory};
    }
    if (threads != 1 && ringSize_ > 0) {
        try {
            thread_ = std::thread(&FrameRing::decodeLoop, this);
        } catch (const std::system_error&) {
            // No thread to be had: decode on the caller's, with the same frames.
        }
    }
    return {};
}

// The next delivery in position order, a picture decoded into ring frame `slot`.
FrameRing::Kind FrameRing::produce(int slot) {
    if (end_ && position_ >= *end_)
        return Kind::End;
    while (!pending_ && !ended_) {
        const Decoded decoded = decoder_.decodePicture();
        const bool picture = decoded.kind == PictureKind::Picture;
        if (decoded.kind == PictureKind::Failed) {
            failure_ = decoded.problem;
            return Kind::Failed;
        }
        if (decoded.kind == PictureKind::End) {
            ended_ = true;
        } else if (decoded.number < position_) {
            if (picture)
                decoder_.dropPicture();  // before the start, or a repeated position
        } else if (end_ && decoded.number >= *end_) {
            if (picture)
                decoder_.dropPicture();
            ended_ = true;
        } else {
            pending_ = true;
            waiting_ = decoded;
        }
    }
    if (pending_ && position_ == waiting_.number) {
        pending_ = false;
        position_++;
        if (waiting_.kind == PictureKind::Picture) {
            if (slot < 0) {
                decoder_.dropPicture();  // (no frames: the input had no picture when opened)
            } else if (decoder_.convertPicture(ring_[slot]).ok()) {
                pictureSeen_ = true;
                return Kind::Picture;
            }
        } else if (pictureSeen_) {
            repeated_++;
            return Kind::Repeat;
        }
        lost_++;
        return Kind::Blank;
    }
    if (pending_ || (end_ && position_ < *end_)) {
        position_++;
        lost_++;
        return Kind::Blank;
    }
    return Kind::End;
}

// A ring frame neither the caller has nor a delivery waiting holds; -1 when none.
int FrameRing::freeSlot() const {
    for (int slot = 0; slot < ringSize_; slot++) {
        bool used = slot == held_ || slot == filling_;
        for (int i = 0; i < queueCount_ && !used; i++) {
            const Pending& waiting = queue_[(queueStart_ + i) % QUEUE_SIZE];
            used = waiting.kind == Kind::Picture && waiting.slot == slot;
        }
        if (!used)
            return slot;
    }
    return -1;
}

// The decode thread: produces deliveries into the queue until the end, or
// until the ring stops it.
void FrameRing::decodeLoop() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        changed_.wait(
            guard, [this] { return stopping_ || (queueCount_ < QUEUE_SIZE && freeSlot() >= 0); });
        if (stopping_)
            return;
        filling_ = freeSlot();
        guard.unlock();
        Kind kind;
        try {
            kind = produce(filling_);
        } catch (const std::bad_alloc&) {
            failure_ = {InputFailure::OutOfMemory};  // (nothing may leave the thread)
            kind = Kind::Failed;
        }
        guard.lock();
        queue_[(queueStart_ + queueCount_) % QUEUE_SIZE] = {kind, filling_};
        queueCount_++;
        filling_ = -1;
        changed_.notify_all();
        if (kind == Kind::End || kind == Kind::Failed)
            return;
    }
}

void FrameRing::stopDecoding() {
    if (!thread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

Delivery FrameRing::next() {
    if (finished_)
        return {Arrival::End};
    Pending delivery;
    if (thread_.joinable()) {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait(guard, [this] { return queueCount_ > 0; });
        delivery = queue_[queueStart_];
        queueStart_ = (queueStart_ + 1) % QUEUE_SIZE;
        queueCount_--;
        if (delivery.kind == Kind::Picture)
            held_ = delivery.slot;
        changed_.notify_all();
    } else {
        const int slot = freeSlot();
        delivery = {produce(slot), slot};
        if (delivery.kind == Kind::Picture)
            held_ = delivery.slot;
    }
    switch (delivery.kind) {
        case Kind::Picture:
        case Kind::Repeat:
            delivered_++;
            return {Arrival::Picture, &ring_[held_]};
        case Kind::Blank:
            delivered_++;
            return {withoutPicture_};
        case Kind::End:
        case Kind::Failed:
            break;
    }
    finished_ = true;
    stopDecoding();
    if (delivery.kind == Kind::Failed)
        return {Arrival::Failed, nullptr, failure_};
    return {Arrival::End};
}

SourceEnd FrameRing::end(const std::optional<MovieSettings::Range>& range) const {
    SourceEnd said;
    said.undecoded = lost_;
    said.repeated = repeated_;
    if (range && delivered_ > 0 && range->first + delivered_ - 1 < range->last)
        said.clipped = SourceEnd::Clip{range->first, range->last, range->first + delivered_ - 1};
    return said;
}
