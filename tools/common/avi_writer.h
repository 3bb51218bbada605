#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "tools/common/image_io.h"

// Writes a one-stream AVI movie (RIFF, with an idx1 index) frame by frame:
// either Motion JPEG or uncompressed 24-bit BGR rows, bottom-up and padded to
// four bytes as in a Windows bitmap. The file must stay below 4 GiB.
struct AviWriter {
    FILE* file = nullptr;
    bool motionJpeg = true;
    int width = 0;
    int height = 0;
    int fps = 30;
    int quality = 90;
    long moviListStart = 0;              // offset of the "movi" list's size field
    std::vector<unsigned> frameOffsets;  // relative to the "movi" four-character code
    std::vector<unsigned> frameSizes;
    unsigned largestFrame = 0;
    std::vector<unsigned char> scratch;
};

// Creates the file and writes the headers (callers hand it the temporary
// file of replaceFileNamed, so that a failed movie replaces nothing). 0, or -1
// with `error` set.
int aviOpen(AviWriter& writer, const std::string& path, int width, int height, int fps,
            bool motionJpeg, int quality, std::string& error);
// Appends one frame of the size given to aviOpen.
int aviWriteFrame(AviWriter& writer, const RgbImage& frame, std::string& error);
// Writes the index, fills in the sizes and closes the file.
int aviClose(AviWriter& writer, std::string& error);
