#pragma once

#include <cstdint>
#include <vector>

#include "image/frame_image.h"
#include "media/frame_source.h"

// Pictures of more than 8 bits a sample (16-bit PNG and TIFF, 10-bit DPX,
// half and full float OpenEXR, ...) into frames of 8 bits a sample:
// - integer samples of depth d are scaled: level = round(v x 255 / (2^d - 1));
// - float samples are scene-linear: clipped to 0..1 (below 0 and NaN give 0)
//   and put through the sRGB curve (12.92 v up to 0.0031308, else
//   1.055 v^(1/2.4) - 0.055), level = round(255 x that).
// Grey pictures give grey frames; an alpha channel is left out.
class WidePictureConverter {
  public:
    // True for the pixel formats (AVPixelFormat) convert() takes: red, green,
    // blue or grey samples of 9 to 16 bits each in a 16-bit word of its own
    // (packed or planar, either byte order), and 32-bit float planes.
    static bool takes(int format);

    // Converts a picture of frame's size; Unconvertible for a format takes() refuses.
    InputProblem convert(const unsigned char* const planes[], const int strides[], int format,
                         const FrameImage& frame);

  private:
    void prepareFloat();
    uint8_t levelOfFloat(float value) const;
    void prepareDepth(int depth);

    // Integer samples: the level of every value of the depth the table is for.
    std::vector<uint8_t> depthLevels;
    int levelsDepth = 0;
    // Float samples in 0..1: thresholds[k] holds the bits of the least float
    // whose level is k; bucketLevels[bits >> 16] the level at each bucket's start.
    std::vector<uint32_t> thresholds;
    std::vector<uint8_t> bucketLevels;
};
