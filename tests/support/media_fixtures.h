#pragma once

#include <string>

// Writers for the inputs Lumeko reads: JPEG stills (libjpeg) and movies
// (libavformat / libavcodec). Tests and tools make their own media with them
// instead of shipping files. Failures throw std::runtime_error.

namespace lumeko_test {

// ---- JPEG stills ----

enum class JpegColour {
    Grey,  // 1 byte a pixel
    Rgb,   // 3 bytes a pixel: red, green, blue
    Cmyk,  // 4 bytes a pixel (stored as an Adobe CMYK file)
};

// Encodes `height` rows of `width` pixels, top row first and unpadded, as a
// baseline JPEG file with the given quality (1..100).
void writeJpeg(const std::string& path, const unsigned char* pixels, int width, int height,
               JpegColour colour, int quality = 95);

// ---- Movies ----

enum class MovieCodec {
    RawBgr24,   // uncompressed 24-bit, bottom-up rows padded to 4 bytes in AVI
    Mjpeg,      // Motion JPEG
    Mpeg4,      // MPEG-4 part 2, with B-frames
    MsMpeg4v3,  // the old Microsoft MPEG-4 variant ("DIV3")
    Cinepak,
    H264,  // libx264, with B-frames
};

// The container follows the file name's extension (.avi, .mp4, .mov, .mkv).
// Frames per second = rate / scale; the stream's time unit is scale / rate,
// so frame n is shown at n * scale / rate seconds.
struct MovieFormat {
    int width;
    int height;
    int rate;
    int scale;
    MovieCodec codec;
};

// Writes a movie frame by frame. Frames can skip positions (a gap in the
// stream, as a capture that dropped frames leaves it).
class MovieWriter {
  public:
    MovieWriter(const std::string& path, const MovieFormat& format);
    ~MovieWriter();
    MovieWriter(const MovieWriter&) = delete;
    MovieWriter& operator=(const MovieWriter&) = delete;

    // Adds one frame: `height` rows of `width` pixels, top row first, rows
    // `stride` bytes apart (0: packed), each pixel blue, green, red and, for
    // 4 bytes a pixel, an ignored fourth byte. It is shown at `position`
    // (in frames), or right after the previous frame when that is negative.
    void write(const unsigned char* pixels, int bytesPerPixel, int stride = 0,
               long long position = -1);

    // Flushes the encoder and completes the file; the destructor does it
    // too, without reporting failures.
    void finish();

  private:
    struct State;
    State* state_;
};

// Overwrites the payload of the `index`-th video chunk ("00dc"/"00db") of an
// AVI file with zero bytes, keeping every size, so that the file stays
// readable and only that frame is damaged.
void damageAviFrame(const std::string& path, int index);

}  // namespace lumeko_test
