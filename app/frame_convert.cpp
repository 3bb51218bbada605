#include "app/frame_convert.h"

#include <cstddef>

void rgbRowToFrame(unsigned char*& write, const unsigned char* line, int pixelCount) {
    for (int i = 0; i < pixelCount; i++) {
        write[0] = line[2];
        write[1] = line[1];
        write[2] = line[0];
        write[3] = 255;
        write += 4;
        line += 3;
    }
}

void dibToFrame(const unsigned char* rows, int stride, unsigned char* frame, int width,
                int height) {
    for (int y = 0; y < height; y++) {
        const unsigned char* read = rows + static_cast<size_t>(y) * stride;
        for (int x = 0; x < width; x++) {
            frame[0] = read[0];
            frame[1] = read[1];
            frame[2] = read[2];
            frame[3] = 255;
            frame += 4;
            read += 3;
        }
    }
}
