#pragma once

#include <string>

#include "tools/common/image_io.h"

struct H264WriterState;

// Writes a movie of H.264 video through FFmpeg (libavformat picks the
// container from the file name: .mp4, .mkv, .mov), frames in yuv420p at an
// even size (an odd last row or column is dropped).
struct H264Writer {
    H264WriterState* state = nullptr;
};

// True when this FFmpeg build has an H.264 encoder.
bool h264Available();

// Creates the file for frames of width x height at rate / scale frames a
// second (the temporary file of replaceFileNamed, so that a failed movie
// replaces nothing). 0, or -1 with `error` set.
int h264Open(H264Writer& writer, const std::string& path, int width, int height, int rate,
             int scale, std::string& error);
// Encodes one frame of the size given to h264Open.
int h264WriteFrame(H264Writer& writer, const RgbImage& frame, std::string& error);
// Flushes the encoder, finishes the file and releases everything (also after a failure).
int h264Close(H264Writer& writer, std::string& error);
