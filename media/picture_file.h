#pragma once

#include <string>
#include <vector>

#include "media/frame_reader.h"

// Whole pictures for the tools, read through the same decoders as Lumeko's
// stills.

// An 8-bit colour picture, 3 bytes a pixel in the order red, green, blue,
// rows from top to bottom with no padding.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
};

// Allocates a width x height picture filled with one colour.
RgbImage makeRgbImage(int width, int height, unsigned char r, unsigned char g, unsigned char b);

// Reads a JPEG (any colour space libjpeg converts to RGB), a PNG (any type:
// grey, palette and 16-bit pictures become 8-bit RGB, transparency is laid
// over white), a PPM (P3 or P6) or a PGM (P2 or P5, grey as RGB), maxval up
// to 255, told apart by their first bytes. A picture more than `maxSide`
// pixels on a side (by default 8192, Lumeko's limit for a still) is refused
// from its header, before anything is allocated for it. 0, or -1 with `error`
// naming the file and saying why (`image` is then empty).
int readPicture(const std::string& path, RgbImage& image, std::string& error,
                int maxSide = MAX_FRAME_SIDE);
