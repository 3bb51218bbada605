#include "app/movie_reader.h"

#include <cstring>

#include "app/frame_convert.h"

MovieReader::~MovieReader() {
    std::free(picture.pixels);
    std::free(blank.pixels);
}

InputFailure MovieReader::open(const char* movieName) {
    if (movie.open(movieName) != 0)
        return InputFailure::CannotOpen;
    return readInfo();
}

InputFailure MovieReader::openMemory(const unsigned char* data, size_t size) {
    if (movie.openMemory(data, size) != 0)
        return InputFailure::CannotOpen;
    return readInfo();
}

InputFailure MovieReader::readInfo() {
    if (movie.openVideoStream() != 0)
        return InputFailure::NoVideoStream;
    movieInfo = movie.info();
    if (movieInfo.rate == 0 || movieInfo.scale == 0)
        return InputFailure::NoFrameRate;
    if (movieInfo.width <= 0 || movieInfo.height <= 0)
        return InputFailure::NoFrameSize;
    return InputFailure::None;
}

InputFailure MovieReader::prepare() {
    const int opened = movie.openDecoder(0);
    if (opened == DECODER_OUT_OF_MEMORY)
        return InputFailure::OutOfMemory;
    if (opened != 0)
        return InputFailure::NoDecoder;
    const size_t bytes =
        static_cast<size_t>(movieInfo.width) * static_cast<size_t>(movieInfo.height) * 4;
    picture = {static_cast<unsigned char*>(std::malloc(bytes)), movieInfo.width, movieInfo.height};
    blank = {static_cast<unsigned char*>(std::malloc(bytes)), movieInfo.width, movieInfo.height};
    if (picture.pixels == nullptr || blank.pixels == nullptr)
        return InputFailure::OutOfMemory;
    std::memset(blank.pixels, 255, bytes);
    return InputFailure::None;
}

ReadResult MovieReader::next(const FrameImage** frame) {
    const bool lengthKnown = movieInfo.length > 0;
    while (!pending && !ended) {
        if (movie.readFrame(decoded) != 1) {
            ended = true;
        } else if (decoded.number < position) {
            continue;  // before the start, or a repeated position
        } else if (lengthKnown && decoded.number >= movieInfo.length) {
            ended = true;
        } else {
            pending = true;
        }
    }
    if (pending && position == decoded.number) {
        dibToFrame(decoded.rows, decoded.stride, picture.pixels, movieInfo.width, movieInfo.height);
        pending = false;
        position++;
        *frame = &picture;
        return ReadResult::Frame;
    }
    if (pending || (lengthKnown && position < movieInfo.length)) {
        position++;
        lost++;
        *frame = &blank;
        return ReadResult::Frame;
    }
    return ReadResult::End;
}
