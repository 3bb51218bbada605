#pragma once

#include "image/frame_image.h"
#include "media/frame_source.h"

struct AVFrame;
struct SwsContext;

// Conversions of decoded pixels into frame pixels (blue, green, red, 255).

// One scan line of `pixelCount` pixels (red, green, blue) into the frame at
// `write`, which then points past them.
void rgbRowToFrame(unsigned char*& write, const unsigned char* line, int pixelCount);

// A decoded picture as FFmpeg describes it.
struct PictureLayout {
    int width;
    int height;
    int format;       // AVPixelFormat
    int colourSpace;  // AVColorSpace: the colour matrix of YUV pictures
    int fullRange;    // 1 for full-range (JPEG) YUV
};

// The layout of a decoded picture.
PictureLayout pictureLayout(const AVFrame* picture);

// The bytes after a frame's last pixel that a conversion into it may write:
// libswscale's vector code for YUV pictures writes whole groups of 16 pixels
// on the last row (32 bytes too many on rows of 8 more than a multiple of 16
// pixels, e.g. 1080 wide), and at most 8 bytes too many elsewhere (tiny
// pictures). The frame's own bytes come out the same either way.
inline constexpr int FRAME_CONVERT_SLACK = 64;

// Converts decoded pictures straight into frames with libswscale's fast
// paths: the colour matrix and range the picture declares, the frame's rows
// written in place (no padding, no second pass), scaled when the picture's
// size differs from the frame's. Uncompressed blue-green-red pictures come
// out as exactly their bytes; YUV pictures may differ from an exactly
// rounded conversion by the rounding of the converter's vector code, and are
// the same on every run of a given build.
class FrameConverter {
  public:
    FrameConverter() = default;
    FrameConverter(const FrameConverter&) = delete;
    FrameConverter& operator=(const FrameConverter&) = delete;
    ~FrameConverter();

    // Converts the picture whose planes and their strides are given into
    // `frame`, whose pixels must be followed by FRAME_CONVERT_SLACK bytes the
    // converter may write over. Unconvertible when libswscale cannot (a
    // format it does not take, or no memory for its context).
    InputProblem convert(const unsigned char* const planes[], const int strides[],
                         const PictureLayout& picture, const FrameImage& frame);

    // Frees the converter; the next convert() makes a new one.
    void reset();

  private:
    bool prepare(const PictureLayout& picture, int width, int height);

    SwsContext* context = nullptr;
    PictureLayout madeFor{};
    int frameWidth = 0;
    int frameHeight = 0;
    bool fillAlpha = false;  // the picture has an alpha the frame must not take
};
