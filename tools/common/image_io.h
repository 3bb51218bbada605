#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "media/frame_reader.h"

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
int readImage(const std::string& path, RgbImage& image, std::string& error,
              int maxSide = MAX_FRAME_SIDE);

// Compresses `image` as a baseline JPEG of the given quality (1..100), colour
// at full resolution (no chroma subsampling), into `bytes`. 0, or -1 with `error` set.
int encodeJpeg(const RgbImage& image, int quality, std::vector<unsigned char>& bytes,
               std::string& error);

// Writes `image` as a JPEG when the name ends in .jpg or .jpeg (any case),
// as an 8-bit RGB PNG when it ends in .png, as a binary PPM when it ends in
// .ppm; anything else is refused.
int writeImage(const std::string& path, const RgbImage& image, int quality, std::string& error);

// Writes `bytes` as the whole of `path`, through a temporary file that
// replaces it only once complete: 0, or -1 with `error` saying why (the
// earlier file then left as it was).
int writeFileBytes(const std::string& path, const unsigned char* bytes, size_t count,
                   std::string& error);

// The same for text.
int writeTextFile(const std::string& path, const std::string& text, std::string& error);

// True when `name` ends in `suffix`, ignoring the case of ASCII letters.
bool hasSuffix(const std::string& name, const char* suffix);
// True when `name` ends in any of `suffixes`, ignoring the case of ASCII letters.
bool hasSuffix(const std::string& name, std::initializer_list<const char*> suffixes);
// The picture files the tools read and write.
inline constexpr std::initializer_list<const char*> PICTURE_SUFFIXES = {".jpg", ".jpeg", ".png",
                                                                        ".ppm"};
