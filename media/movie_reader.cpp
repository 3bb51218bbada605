#include "media/movie_reader.h"

InputProblem MovieReader::open(const char* movieName) {
    return examine(movie.open(movieName));
}

InputProblem MovieReader::openMemory(const uint8_t* data, size_t size) {
    return examine(movie.openMemory(data, size));
}

// The checks after opening the container, whether from a file or from memory.
InputProblem MovieReader::examine(const InputProblem& opened) {
    if (!opened.ok())
        return opened;
    if (const InputProblem stream = movie.openVideoStream(); !stream.ok())
        return stream;
    if (!movie.info().rate)
        return {InputFailure::NoFrameRate};
    frameSize = movie.info().size;
    if (frameSize.width <= 0 || frameSize.height <= 0)
        return {InputFailure::NoFrameSize};

    // The frames take the size of the first picture that decodes.
    deferred = movie.openDecoder(settings.threads);
    const std::optional<FrameSize> picture = movie.firstPictureSize();
    anyPicture = picture.has_value();
    if (anyPicture)
        frameSize = *picture;
    if (frameSize.width > MAX_FRAME_SIDE || frameSize.height > MAX_FRAME_SIDE)
        return {InputFailure::FrameTooLarge};

    // The positions to deliver: the range, within the known length.
    const std::optional<long long> movieLength = movie.info().length;
    const long long first = settings.range ? settings.range->first : 0;
    std::optional<long long> end;
    if (settings.range)
        end = settings.range->last + 1;
    if (movieLength) {
        if (first >= *movieLength) {
            InputProblem past{InputFailure::RangePastEnd};
            past.inputFrames = movieLength;
            return past;
        }
        if (!end || *end > *movieLength)
            end = movieLength;
    }
    ring.setPositions(first, end);
    frameCount = std::nullopt;
    if (end)
        frameCount = *end - first;
    return {};
}

InputProblem MovieReader::prepare() {
    if (!deferred.ok())
        return deferred;
    return ring.start(frameSize, anyPicture, settings.threads);
}

Delivery MovieReader::next() {
    Delivery delivery = ring.next();
    if (delivery.arrival == Arrival::End && settings.range && ring.delivered() == 0)
        return {Arrival::Failed, nullptr, {InputFailure::RangePastEnd}};
    return delivery;
}

SourceEnd MovieReader::end() {
    return ring.end(settings.range);
}
