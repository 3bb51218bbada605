#include "media/frame_source.h"

#include <sys/stat.h>

#include "media/movie_reader.h"
#include "media/sequence_name.h"
#include "media/sequence_reader.h"

namespace {

// A name that is no file but a sequence pattern: the pattern.
std::optional<SequencePattern> sequenceOf(const char* name) {
    struct stat status {};
    if (stat(name, &status) == 0)
        return std::nullopt;
    return parseSequencePattern(name);
}

}  // namespace

std::unique_ptr<FrameSource> makeMovieSource(const char* name, const MovieSettings& settings) {
    if (sequenceOf(name))
        return std::make_unique<SequenceReader>(settings);
    return std::make_unique<MovieReader>(settings);
}

std::vector<std::string> movieSourceFiles(const char* name) {
    const std::optional<SequencePattern> pattern = sequenceOf(name);
    if (!pattern)
        return {name};
    std::vector<std::string> files;
    for (long long number : listSequence(*pattern).numbers)
        files.push_back(sequenceFileName(*pattern, number));
    return files;
}
