#include "media/movie_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>

namespace {

// A frame to convert pictures into, with the converter's slack after it.
FrameImage allocateFrame(int width, int height) {
    const size_t bytes =
        static_cast<size_t>(width) * static_cast<size_t>(height) * 4 + FRAME_CONVERT_SLACK;
    return {static_cast<unsigned char*>(std::malloc(bytes)), width, height};
}

}  // namespace

MovieReader::~MovieReader() {
    stopDecoding();
    for (FrameImage& frame : ring)
        std::free(frame.pixels);
}

void MovieReader::setRange(long long first, long long last) {
    ranged = true;
    rangeFirst = first;
    rangeLast = last;
}

void MovieReader::setSequenceRate(unsigned rate, unsigned scale) {
    sequenceRate = rate;
    sequenceScale = scale;
}

InputFailure MovieReader::open(const char* movieName) {
    SequencePattern pattern;
    struct stat status {};
    if (stat(movieName, &status) != 0 && parseSequencePattern(movieName, pattern))
        return openSequence(pattern, movieName);
    return examine(movie.open(movieName));
}

InputFailure MovieReader::refuseSequence(InputFailure failure, const std::string& file,
                                         const std::string& reason) {
    problemName = file;
    problemReason = reason;
    return failure;
}

// The numbers to deliver: the range's, or from the lowest file to the
// highest; the files among them, their decoder and their size.
InputFailure MovieReader::openSequence(const SequencePattern& pattern, const char* name) {
    sequenceOpen = true;
    const std::string folder =
        pattern.folder.empty() ? "the working folder" : "the folder " + pattern.folder;
    std::vector<long long> numbers;
    const int error = listSequence(pattern, numbers);
    if (error != 0)
        return refuseSequence(InputFailure::CannotOpen, pattern.folder, std::strerror(error));
    const long long first = ranged ? rangeFirst : numbers.empty() ? 0 : numbers.front();
    long long last = numbers.empty() ? -1 : numbers.back();
    if (ranged && rangeLast >= 0)
        last = std::min(last, rangeLast);
    std::vector<long long> present;
    for (long long number : numbers)
        if (number >= first && number <= last)
            present.push_back(number);
    if (present.empty()) {
        std::string reason = "No file in " + folder + " matches the pattern " +
                             std::string(name).substr(pattern.folder.size());
        if (ranged)
            reason += " with a number from " + std::to_string(rangeFirst) +
                      (rangeLast >= 0 ? " to " + std::to_string(rangeLast) : " on");
        return refuseSequence(InputFailure::CannotOpen, name, reason);
    }
    sequence.setFiles(pattern, present, first);
    const int decoding = sequence.openDecoder(threads);
    if (decoding == -2)
        return InputFailure::OutOfMemory;
    if (decoding != 0)
        return refuseSequence(InputFailure::CannotOpen, sequenceFileName(pattern, present[0]),
                              "Not a picture that can be read");
    const InputFailure sizes = checkSequenceSizes(pattern, present);
    if (sizes != InputFailure::None)
        return sizes;
    sequence.setFrameSize(movieInfo.width, movieInfo.height);
    anyPicture = true;  // a file of the sequence gave its size
    sequenceFirst = first;
    position = 0;
    endPosition = last - first + 1;
    missing = endPosition - static_cast<long long>(present.size());
    movieInfo.rate = sequenceRate;
    movieInfo.scale = sequenceScale;
    movieInfo.length = static_cast<unsigned>(std::min<long long>(endPosition, UINT_MAX));
    return InputFailure::None;
}

// The frame size is that of the first file whose size can be read; every
// other file must have it. Files that cannot be read are gaps.
InputFailure MovieReader::checkSequenceSizes(const SequencePattern& pattern,
                                             const std::vector<long long>& present) {
    std::string sizedFile;
    for (long long number : present) {
        int width, height;
        if (!sequence.pictureSize(number, width, height))
            continue;
        if (sizedFile.empty()) {
            sizedFile = sequenceFileName(pattern, number);
            movieInfo.width = width;
            movieInfo.height = height;
            if (width > MAX_FRAME_SIDE || height > MAX_FRAME_SIDE)
                return InputFailure::FrameTooLarge;
        } else if (width != movieInfo.width || height != movieInfo.height) {
            return refuseSequence(InputFailure::MixedSizes, sequenceFileName(pattern, number),
                                  std::to_string(width) + " x " + std::to_string(height) +
                                      " pixels, not " + std::to_string(movieInfo.width) + " x " +
                                      std::to_string(movieInfo.height) + " as " + sizedFile);
        }
    }
    if (sizedFile.empty())
        return refuseSequence(InputFailure::CannotOpen, sequenceFileName(pattern, present[0]),
                              "Not a picture that can be read");
    return InputFailure::None;
}

MovieFile::Found MovieReader::decodeNext(long long& number) {
    return sequenceOpen ? sequence.decodePicture(number) : movie.decodePicture(number);
}

void MovieReader::dropHeld() {
    if (sequenceOpen)
        sequence.dropPicture();
    else
        movie.dropPicture();
}

bool MovieReader::convertHeld(const FrameImage& target) {
    return sequenceOpen ? sequence.convertPicture(target) : movie.convertPicture(target);
}

InputFailure MovieReader::openMemory(const uint8_t* data, size_t size) {
    return examine(movie.openMemory(data, size));
}

// The checks after opening the container (`opened` is its status), whether
// from a file or from memory.
InputFailure MovieReader::examine(int opened) {
    if (opened != 0)
        return InputFailure::CannotOpen;
    if (movie.openVideoStream() != 0)
        return InputFailure::NoVideoStream;
    movieInfo = movie.info();
    if (movieInfo.rate == 0 || movieInfo.scale == 0)
        return InputFailure::NoFrameRate;
    if (movieInfo.width <= 0 || movieInfo.height <= 0)
        return InputFailure::NoFrameSize;

    // The frames take the size of the first picture that decodes; a decoder
    // that cannot be opened is reported once the tracker is set up.
    const int decoding = movie.openDecoder(threads);
    noDecoder = decoding == -1;
    int width, height;
    anyPicture = decoding == 0 && movie.peekPictureSize(width, height);
    if (anyPicture) {
        movieInfo.width = width;
        movieInfo.height = height;
    }
    // Memory that ran out opening the decoder or decoding the first picture
    // is reported there too, as the frames' storage would be.
    outOfMemory = decoding == -2 || movie.outOfMemory();
    if (movieInfo.width > MAX_FRAME_SIDE || movieInfo.height > MAX_FRAME_SIDE)
        return InputFailure::FrameTooLarge;

    // The positions to deliver: the range, within the known length.
    position = rangeFirst;
    const long long length = wholeLength = movieInfo.length;
    if (length > 0 && rangeFirst >= length)
        return InputFailure::RangePastEnd;
    endPosition = rangeLast >= 0 ? rangeLast + 1 : -1;
    if (length > 0 && (endPosition < 0 || endPosition > length))
        endPosition = length;
    if (endPosition >= 0 && endPosition < position)
        endPosition = position;
    movieInfo.length = endPosition >= 0 ? static_cast<unsigned>(endPosition - position) : 0;
    return InputFailure::None;
}

InputFailure MovieReader::prepare() {
    if (outOfMemory)
        return InputFailure::OutOfMemory;
    if (noDecoder)
        return InputFailure::NoDecoder;
    // A movie none of whose pictures decodes needs no frames: every position
    // is one without a picture, whatever size the header claims.
    ringSize = !anyPicture ? 0 : threads == 1 ? 2 : RING_SIZE;
    for (int i = 0; i < ringSize; i++) {
        ring[i] = allocateFrame(movieInfo.width, movieInfo.height);
        if (ring[i].pixels == nullptr)
            return InputFailure::OutOfMemory;
    }
    if (threads != 1 && ringSize > 0) {
        try {
            decoder = std::thread(&MovieReader::decodeLoop, this);
        } catch (const std::system_error&) {
            // No thread to be had: decode on the caller's, with the same frames.
        }
    }
    return InputFailure::None;
}

// The next delivery in movie order, a picture decoded into ring frame `slot`.
MovieReader::Kind MovieReader::produce(int slot) {
    if (endPosition >= 0 && position >= endPosition)
        return Kind::End;
    while (!pending && !ended) {
        long long number;
        const MovieFile::Found found = decodeNext(number);
        const bool picture = found == MovieFile::Found::Picture;
        if (found == MovieFile::Found::OutOfMemory)
            return Kind::OutOfMemory;
        if (found == MovieFile::Found::End) {
            ended = true;
        } else if (number < position) {
            if (picture)
                dropHeld();  // before the start, or a repeated position
        } else if (endPosition >= 0 && number >= endPosition) {
            if (picture)
                dropHeld();
            ended = true;
        } else {
            pending = true;
            pendingFound = found;
            pendingNumber = number;
        }
    }
    if (pending && position == pendingNumber) {
        pending = false;
        position++;
        if (pendingFound == MovieFile::Found::Picture) {
            if (slot < 0) {
                dropHeld();  // (no frames: the movie had no picture at opening)
            } else if (convertHeld(ring[slot])) {
                pictureSeen = true;
                return Kind::Picture;
            }
        } else if (pictureSeen) {
            repeated++;
            return Kind::Repeat;
        }
        lost++;
        return Kind::Blank;
    }
    if (pending || (endPosition >= 0 && position < endPosition)) {
        position++;
        lost++;
        return Kind::Blank;
    }
    return Kind::End;
}

// A ring frame neither the caller has nor a delivery waiting holds; -1 when none.
int MovieReader::freeSlot() const {
    for (int slot = 0; slot < ringSize; slot++) {
        bool used = slot == held || slot == filling;
        for (int i = 0; i < queueCount && !used; i++) {
            const Delivery& waiting = queue[(queueStart + i) % QUEUE_SIZE];
            used = waiting.kind == Kind::Picture && waiting.slot == slot;
        }
        if (!used)
            return slot;
    }
    return -1;
}

// The decode thread: produces deliveries into the queue until the end, or
// until the reader stops it.
void MovieReader::decodeLoop() {
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        changed.wait(guard,
                     [this] { return stopping || (queueCount < QUEUE_SIZE && freeSlot() >= 0); });
        if (stopping)
            return;
        filling = freeSlot();
        guard.unlock();
        Kind kind;
        try {
            kind = produce(filling);
        } catch (const std::bad_alloc&) {
            kind = Kind::OutOfMemory;  // (nothing may leave the thread)
        }
        guard.lock();
        queue[(queueStart + queueCount) % QUEUE_SIZE] = {kind, filling};
        queueCount++;
        filling = -1;
        changed.notify_all();
        if (kind == Kind::End || kind == Kind::OutOfMemory)
            return;
    }
}

void MovieReader::stopDecoding() {
    if (!decoder.joinable())
        return;
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    changed.notify_all();
    decoder.join();
}

ReadResult MovieReader::next(const FrameImage** frame) {
    if (finished)
        return ReadResult::End;
    Delivery delivery;
    if (decoder.joinable()) {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [this] { return queueCount > 0; });
        delivery = queue[queueStart];
        queueStart = (queueStart + 1) % QUEUE_SIZE;
        queueCount--;
        if (delivery.kind == Kind::Picture)
            held = delivery.slot;
        changed.notify_all();
    } else {
        const int slot = freeSlot();
        delivery = {produce(slot), slot};
        if (delivery.kind == Kind::Picture)
            held = delivery.slot;
    }
    switch (delivery.kind) {
        case Kind::Picture:
        case Kind::Repeat:
            delivered++;
            *frame = &ring[held];
            return ReadResult::Frame;
        case Kind::Blank:
            delivered++;
            *frame = nullptr;
            return ReadResult::NoPicture;
        case Kind::End:
        case Kind::OutOfMemory:
            break;
    }
    finished = true;
    stopDecoding();
    if (delivery.kind == Kind::OutOfMemory) {
        failed = InputFailure::OutOfMemory;
        return ReadResult::Failed;
    }
    return ReadResult::End;
}
