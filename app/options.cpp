#include "app/options.h"

#include <cstdio>
#include <cstring>

namespace {

// A whole number of at most 15 digits, nothing after it.
bool scanCount(const char* text, long long& value) {
    int used = 0;
    return std::strlen(text) <= 15 && std::sscanf(text, "%lld%n", &value, &used) == 1 &&
           text[used] == '\0' && value >= 0;
}

bool scanRange(const char* text, RunOptions& options) {
    const char* colon = std::strchr(text, ':');
    if (colon == nullptr || colon == text || colon - text > 15)
        return false;
    char first[16] = {};
    std::memcpy(first, text, static_cast<size_t>(colon - text));
    long long from, to;
    if (!scanCount(first, from) || !scanCount(colon + 1, to) || to < from)
        return false;
    options.ranged = true;
    options.rangeFirst = from;
    options.rangeLast = to;
    return true;
}

}  // namespace

int parseOptions(int argc, char** argv, RunOptions& options) {
    int at = 1;
    while (at < argc && std::strncmp(argv[at], "--", 2) == 0) {
        const char* name = argv[at];
        if (at + 1 >= argc)
            return -1;
        const char* value = argv[at + 1];
        long long count;
        if (std::strcmp(name, "--range") == 0) {
            if (!scanRange(value, options))
                return -1;
        } else if (std::strcmp(name, "--threads") == 0) {
            if (!scanCount(value, count) || count < 1 || count > 64)
                return -1;
            options.threads = static_cast<int>(count);
        } else {
            return -1;
        }
        at += 2;
    }
    return at;
}
