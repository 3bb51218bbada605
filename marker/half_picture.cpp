#include "marker/half_picture.h"

#include <cstddef>

void arHalvePicture(const FrameImage& frame, FrameImage& half) {
    half.width = frame.width / 2;
    half.height = frame.height / 2;
    const size_t stride = 4 * static_cast<size_t>(frame.width);
    for (int y = 0; y < half.height; y++) {
        const unsigned char* top = frame.pixels + 2 * static_cast<size_t>(y) * stride;
        const unsigned char* bottom = top + stride;
        unsigned char* out = half.pixels + 4 * static_cast<size_t>(y) * half.width;
        for (int x = 0; x < half.width; x++, top += 8, bottom += 8, out += 4) {
            for (int c = 0; c < 4; c++)
                out[c] = static_cast<unsigned char>(
                    (top[c] + top[c + 4] + bottom[c] + bottom[c + 4] + 2) / 4);
        }
    }
}
