#include "media/sequence_name.h"

#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>

namespace {

// Numbers beyond 18 digits would not fit a long long.
constexpr int MAX_DIGITS = 18;

bool isDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// The length of a printf field for the number at `at` ('%', digits, 'd'), 0
// when there is none; its width in `digits`.
size_t printfField(const std::string& name, size_t at, int& digits) {
    size_t end = at + 1;
    int width = 0;
    while (end < name.size() && isDigit(name[end]) && width <= MAX_DIGITS)
        width = width * 10 + (name[end++] - '0');
    if (end >= name.size() || name[end] != 'd' || width > MAX_DIGITS)
        return 0;
    digits = std::max(width, 1);
    return end + 1 - at;
}

// The number a file name's middle part stands for, or -1 when printing no
// number into the pattern gives it.
long long numberOf(const std::string& middle, int digits) {
    if (middle.empty() || middle.size() > static_cast<size_t>(MAX_DIGITS) ||
        middle.size() < static_cast<size_t>(digits) ||
        !std::all_of(middle.begin(), middle.end(), isDigit))
        return -1;
    if (middle.size() > static_cast<size_t>(digits) && middle[0] == '0')
        return -1;  // padded beyond the width: not a printed number
    long long number = 0;
    for (char c : middle)
        number = number * 10 + (c - '0');
    return number;
}

}  // namespace

std::optional<SequencePattern> parseSequencePattern(const std::string& name) {
    const size_t slash = name.rfind('/');
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    SequencePattern found;
    found.folder = name.substr(0, start);
    std::string text;  // the file name so far, literal
    int fields = 0;
    for (size_t i = start; i < name.size();) {
        int digits = 0;
        size_t length = 0;
        if (name[i] == '%' && i + 1 < name.size() && name[i + 1] == '%') {
            text += '%';
            i += 2;
            continue;
        }
        if (name[i] == '%') {
            length = printfField(name, i, digits);
        } else if (name[i] == '#') {
            length = name.find_first_not_of('#', i);
            length = (length == std::string::npos ? name.size() : length) - i;
            digits = static_cast<int>(std::min<size_t>(length, MAX_DIGITS));
        }
        if (length == 0) {
            text += name[i++];
            continue;
        }
        if (++fields > 1)
            return std::nullopt;
        found.prefix = text;
        found.digits = digits;
        text.clear();
        i += length;
    }
    if (fields != 1)
        return std::nullopt;
    found.suffix = text;
    return found;
}

std::string sequenceFileName(const SequencePattern& pattern, long long number) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%0*lld", pattern.digits, number);
    return pattern.folder + pattern.prefix + digits + pattern.suffix;
}

SequenceListing listSequence(const SequencePattern& pattern) {
    SequenceListing listing;
    DIR* folder = opendir(pattern.folder.empty() ? "." : pattern.folder.c_str());
    if (folder == nullptr) {
        listing.problem = {InputFailure::CannotOpen, errno, pattern.folder};
        return listing;
    }
    std::vector<long long>& numbers = listing.numbers;
    const size_t fixed = pattern.prefix.size() + pattern.suffix.size();
    while (const dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (entry->d_type == DT_DIR || name.size() <= fixed || !name.starts_with(pattern.prefix) ||
            !name.ends_with(pattern.suffix))
            continue;
        const long long number =
            numberOf(name.substr(pattern.prefix.size(), name.size() - fixed), pattern.digits);
        if (number >= 0)
            numbers.push_back(number);
    }
    closedir(folder);
    std::sort(numbers.begin(), numbers.end());
    return listing;
}
