#pragma once

#include <string>

#include "tools/common/image_io.h"

// Writes `image` as an 8-bit RGB PNG (uncompressed deflate blocks). 0, or -1
// with `error` set.
int writePng(const std::string& path, const RgbImage& image, std::string& error);
