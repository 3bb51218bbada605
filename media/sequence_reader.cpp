#include "media/sequence_reader.h"

#include <algorithm>

namespace {

constexpr const char* NOT_A_PICTURE = "Not a picture that can be read";

}  // namespace

// The numbers to deliver: the range's, or from the lowest file to the
// highest; the files among them, their decoder and their size.
InputProblem SequenceReader::open(const char* name) {
    const std::optional<SequencePattern> pattern = parseSequencePattern(name);
    if (!pattern)
        return {InputFailure::CannotOpen};
    const SequenceListing listing = listSequence(*pattern);
    if (!listing.problem.ok())
        return listing.problem;
    const std::vector<long long>& numbers = listing.numbers;
    first = settings.range ? settings.range->first : numbers.empty() ? 0 : numbers.front();
    long long last = numbers.empty() ? -1 : numbers.back();
    if (settings.range)
        last = std::min(last, settings.range->last);
    std::vector<long long> present;
    for (long long number : numbers)
        if (number >= first && number <= last)
            present.push_back(number);
    if (present.empty()) {
        const std::string folder =
            pattern->folder.empty() ? "the working folder" : "the folder " + pattern->folder;
        std::string reason = "No file in " + folder + " matches the pattern " +
                             std::string(name).substr(pattern->folder.size());
        if (settings.range)
            reason += " with a number from " + std::to_string(settings.range->first) + " to " +
                      std::to_string(settings.range->last);
        return {InputFailure::CannotOpen, 0, name, reason};
    }
    sequence.setFiles(*pattern, present, first);
    const InputProblem decoding = sequence.openDecoder(settings.threads);
    if (decoding.failure == InputFailure::OutOfMemory)
        return decoding;
    if (!decoding.ok())
        return {InputFailure::CannotOpen, 0, sequenceFileName(*pattern, present[0]), NOT_A_PICTURE};
    if (const InputProblem sizes = checkSizes(*pattern, present); !sizes.ok())
        return sizes;
    sequence.setFrameSize(frameSize);
    frameCount = last - first + 1;
    missing = frameCount - static_cast<long long>(present.size());
    ring.setPositions(0, frameCount);
    return {};
}

// The frame size is that of the first file whose size can be read; every
// other file must have it. Files that cannot be read are gaps.
InputProblem SequenceReader::checkSizes(const SequencePattern& pattern,
                                        const std::vector<long long>& present) {
    std::string sizedFile;
    for (long long number : present) {
        const std::optional<FrameSize> size = sequence.pictureSize(number);
        if (!size)
            continue;
        if (sizedFile.empty()) {
            sizedFile = sequenceFileName(pattern, number);
            frameSize = *size;
            if (size->width > MAX_FRAME_SIDE || size->height > MAX_FRAME_SIDE)
                return {InputFailure::FrameTooLarge};
        } else if (size->width != frameSize.width || size->height != frameSize.height) {
            return {InputFailure::MixedSizes, 0, sequenceFileName(pattern, number),
                    std::to_string(size->width) + " x " + std::to_string(size->height) +
                        " pixels, not " + std::to_string(frameSize.width) + " x " +
                        std::to_string(frameSize.height) + " as " + sizedFile};
        }
    }
    if (sizedFile.empty())
        return {InputFailure::CannotOpen, 0, sequenceFileName(pattern, present[0]), NOT_A_PICTURE};
    return {};
}

InputProblem SequenceReader::prepare() {
    return ring.start(frameSize, true, settings.threads);
}

SourceEnd SequenceReader::end() {
    SourceEnd said = ring.end(settings.range);
    said.missing = missing;
    said.undecoded -= missing;
    return said;
}
