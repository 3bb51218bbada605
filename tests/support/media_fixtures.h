#pragma once

#include <string>
#include <vector>

// Writers for the inputs Lumeko reads: JPEG stills (libjpeg) and movies
// (libavformat / libavcodec), so that tests make their own media instead of
// shipping files. Failures throw std::runtime_error.

namespace lumeko_test {

enum class JpegColour { Grey, Rgb, Cmyk };  // 1, 3 (red, green, blue) or 4 bytes a pixel

// Encodes `height` rows of `width` pixels, top row first and unpadded, as a
// baseline JPEG file (CMYK as an Adobe file).
void writeJpeg(const std::string& path, const unsigned char* pixels, int width, int height,
               JpegColour colour, int quality = 95);

enum class MovieCodec { RawBgr24, Mjpeg, Mpeg4, MsMpeg4v3, Cinepak, H264 };

// Frames per second = rate / scale. Uncompressed AVI stores bottom-up rows
// padded to 4 bytes; MPEG-4 and H.264 use B-frames.
struct MovieFormat {
    int width;
    int height;
    int rate;
    int scale;
    MovieCodec codec;
};

// Writes one frame after another into a movie whose container follows the
// file name's extension. Each frame is `height` rows of `width` pixels, top
// row first and packed, each pixel blue, green, red.
void writeMovie(const std::string& path, const MovieFormat& format,
                const std::vector<std::vector<unsigned char>>& frames);

// Zeroes the payload of the `index`-th "00dc" chunk of an AVI file, keeping
// every size: the file stays readable and only that frame is damaged.
void damageAviFrame(const std::string& path, int index);

}  // namespace lumeko_test
