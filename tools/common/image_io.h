#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "media/picture_file.h"

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
