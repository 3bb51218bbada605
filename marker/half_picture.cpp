#include "marker/half_picture.h"

#include <cstddef>

#if defined(__x86_64__) && defined(__GNUC__)
#include <emmintrin.h>
#endif

namespace {

// Output pixels x0.. of one half-size row, one byte at a time.
void halveRowFrom(const unsigned char* top, const unsigned char* bottom, unsigned char* out, int x0,
                  int width) {
    top += 8 * static_cast<size_t>(x0);
    bottom += 8 * static_cast<size_t>(x0);
    out += 4 * static_cast<size_t>(x0);
    for (int x = x0; x < width; x++, top += 8, bottom += 8, out += 4) {
        for (int c = 0; c < 4; c++)
            out[c] = static_cast<unsigned char>(
                (top[c] + top[c + 4] + bottom[c] + bottom[c + 4] + 2) / 4);
    }
}

// One half-size row of `width` pixels from the two frame rows it covers.
// SSE2 (every x86-64 has it) takes four frame pixels a step: the same sums in
// 16-bit lanes, so the same bytes as one at a time.
void halveRow(const unsigned char* top, const unsigned char* bottom, unsigned char* out,
              int width) {
    int x = 0;
#if defined(__x86_64__) && defined(__GNUC__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i two = _mm_set1_epi16(2);
    for (; x + 2 <= width; x += 2) {
        const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + 8 * x));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + 8 * x));
        // Lanes: pixels 0 and 1 (low), 2 and 3 (high), top and bottom added.
        const __m128i low = _mm_add_epi16(_mm_unpacklo_epi8(t, zero), _mm_unpacklo_epi8(b, zero));
        const __m128i high = _mm_add_epi16(_mm_unpackhi_epi8(t, zero), _mm_unpackhi_epi8(b, zero));
        const __m128i sums = _mm_unpacklo_epi64(_mm_add_epi16(low, _mm_srli_si128(low, 8)),
                                                _mm_add_epi16(high, _mm_srli_si128(high, 8)));
        const __m128i means = _mm_srli_epi16(_mm_add_epi16(sums, two), 2);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 4 * x), _mm_packus_epi16(means, zero));
    }
#endif
    halveRowFrom(top, bottom, out, x, width);
}

}  // namespace

void arHalvePicture(const FrameImage& frame, FrameImage& half) {
    half.width = frame.width / 2;
    half.height = frame.height / 2;
    const size_t stride = 4 * static_cast<size_t>(frame.width);
    for (int y = 0; y < half.height; y++) {
        const unsigned char* top = frame.pixels + 2 * static_cast<size_t>(y) * stride;
        halveRow(top, top + stride, half.pixels + 4 * static_cast<size_t>(y) * half.width,
                 half.width);
    }
}
