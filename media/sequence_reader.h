#pragma once

#include <string>
#include <vector>

#include "media/frame_ring.h"
#include "media/frame_source.h"
#include "media/sequence_file.h"
#include "media/sequence_name.h"

// Delivers a numbered picture sequence (see sequence_name.h) as the movie of
// its pictures: from its lowest number present (or the range's first) to its
// highest (or the range's last), a Gap for a missing number or a file that
// does not decode. Its files' sizes are read before any frame is delivered,
// and a file of another size than the first is refused (MixedSizes).
class SequenceReader : public FrameSource {
  public:
    explicit SequenceReader(const MovieSettings& settings = {}) : settings(settings) {}

    // Opens the sequence `pattern` names: CannotOpen naming the folder that
    // cannot be read, or the pattern when no file in range matches it, or
    // the first file when none is a picture that can be read.
    InputProblem open(const char* pattern) override;
    FrameSize size() const override { return frameSize; }
    std::optional<FrameRate> rate() const override { return settings.sequenceRate; }
    std::optional<long long> length() const override { return frameCount; }
    std::optional<long long> firstNumber() const override { return first; }

    InputProblem prepare() override;
    Delivery next() override { return ring.next(); }
    SourceEnd end() override;

  private:
    InputProblem checkSizes(const SequencePattern& pattern, const std::vector<long long>& present);

    MovieSettings settings;
    SequenceFile sequence;
    FrameRing ring{sequence, Arrival::Gap};
    FrameSize frameSize;
    long long first = 0;
    long long frameCount = 0;
    long long missing = 0;  // numbers to deliver without a file
};
