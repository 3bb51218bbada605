#include "tools/common/utf8_text.h"

namespace {

// The length of the well-formed UTF-8 sequence starting at `at`, 0 when
// there is none (RFC 3629: no overlong forms, no surrogates, nothing beyond
// U+10FFFF).
size_t sequenceLength(const std::string& text, size_t at) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[at + k]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return 1;
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(1) < low || byte(1) > high)
        return 0;
    for (size_t k = 2; k < length; k++)
        if (byte(k) < 0x80 || byte(k) > 0xBF)
            return 0;
    return length;
}

}  // namespace

std::string utf8Text(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const size_t length = sequenceLength(text, at);
        if (length == 0) {
            out += '?';
            at++;
        } else {
            out.append(text, at, length);
            at += length;
        }
    }
    return out;
}
