#include "media/picture_file.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "files/file_reason.h"
#include "media/jpeg_decoder.h"
#include "media/png_decoder.h"

namespace {

// A picture's size from its header against the side limit, checked before
// anything is allocated for it.
bool withinSideLimit(unsigned long long width, unsigned long long height, int maxSide,
                     std::string& error) {
    const auto side = static_cast<unsigned long long>(maxSide);
    if (width <= side && height <= side)
        return true;
    error = "the picture is " + std::to_string(width) + " x " + std::to_string(height) +
            " pixels, more than " + std::to_string(maxSide) + " on a side";
    return false;
}

// Decodes from an open file with the tracker's own JPEG reader. -2 when the
// picture is too large (`message` says so), -1 when libjpeg gives up.
int decodeJpeg(FILE* file, int maxSide, RgbImage& image, std::string& message) {
    JpegDecoder jpeg;
    const int started = jpeg.start(file, JpegDecoder::Colours::AnyAsRgb, maxSide);
    if (started == -3) {
        withinSideLimit(jpeg.imageWidth(), jpeg.imageHeight(), maxSide, message);
        return -2;
    }
    if (started != 0) {
        message = jpeg.error();
        return -1;
    }
    image = makeRgbImage(jpeg.width(), jpeg.height(), 0, 0, 0);
    const size_t rowBytes = static_cast<size_t>(image.width) * 3;
    for (int y = 0; y < image.height; y++) {
        const unsigned char* row = nullptr;
        if (jpeg.readRow(&row) != 0) {
            message = jpeg.error();
            return -1;
        }
        std::memcpy(image.rgb.data() + y * rowBytes, row, rowBytes);
    }
    if (jpeg.finish() != 0) {
        message = jpeg.error();
        return -1;
    }
    return 0;
}

// Reads the next header number of a PPM, skipping white space and comments.
bool readPpmNumber(FILE* file, int& value) {
    int c = std::fgetc(file);
    while (c != EOF && (std::isspace(c) || c == '#')) {
        if (c == '#') {
            while (c != EOF && c != '\n') {
                c = std::fgetc(file);
            }
        }
        c = std::fgetc(file);
    }
    if (c == EOF || !std::isdigit(c)) {
        return false;
    }
    long long number = 0;
    while (c != EOF && std::isdigit(c)) {
        number = number * 10 + (c - '0');
        if (number > 1000000) {
            return false;
        }
        c = std::fgetc(file);
    }
    if (c != EOF) {
        std::ungetc(c, file);
    }
    value = static_cast<int>(number);
    return true;
}

// The bytes left in `file` after the current position.
long long bytesLeft(FILE* file) {
    const long here = std::ftell(file);
    if (here < 0 || std::fseek(file, 0, SEEK_END) != 0)
        return -1;
    const long end = std::ftell(file);
    std::fseek(file, here, SEEK_SET);
    return end - here;
}

// A PPM (`channels` 3) or PGM (1), binary or text; grey becomes RGB.
int readPnm(FILE* file, bool binary, int channels, int maxSide, RgbImage& image,
            std::string& error) {
    int width = 0, height = 0, maxval = 0;
    if (!readPpmNumber(file, width) || !readPpmNumber(file, height) ||
        !readPpmNumber(file, maxval)) {
        error = "bad PPM header";
        return -1;
    }
    if (width < 1 || height < 1 || maxval < 1 || maxval > 255) {
        error = "unsupported PPM size or maximum value (need maxval 1..255)";
        return -1;
    }
    if (!withinSideLimit(width, height, maxSide, error))
        return -1;
    const size_t count = static_cast<size_t>(width) * height * channels;
    if (binary)
        std::fgetc(file);  // the single white-space character after maxval
    // Every value takes at least a byte: a file too short for its header's
    // size is refused before the picture is allocated.
    const long long left = bytesLeft(file);
    if (left >= 0 && static_cast<unsigned long long>(left) < count) {
        error = "PPM pixel data ends early";
        return -1;
    }
    std::vector<unsigned char> values(count);
    if (binary) {
        if (std::fread(values.data(), 1, count, file) != count) {
            error = "PPM pixel data ends early";
            return -1;
        }
    } else {
        for (unsigned char& value : values) {
            int v = 0;
            if (!readPpmNumber(file, v)) {
                error = "PPM pixel data ends early or holds a non-number";
                return -1;
            }
            value = static_cast<unsigned char>(v > maxval ? maxval : v);
        }
    }
    if (maxval != 255) {
        for (unsigned char& v : values)
            v = static_cast<unsigned char>((v * 255 + maxval / 2) / maxval);
    }
    image.width = width;
    image.height = height;
    if (channels == 3) {
        image.rgb = std::move(values);
        return 0;
    }
    image.rgb.resize(count * 3);
    for (size_t i = 0; i < count; i++)
        image.rgb[3 * i] = image.rgb[3 * i + 1] = image.rgb[3 * i + 2] = values[i];
    return 0;
}

// Decodes a PNG of any type with the tracker's own PNG reader (palette, grey
// and 16-bit pictures as 8-bit colour, transparent parts laid over white, as
// a picture printed on paper would show them). -2 when the picture is too
// large (`message` says so), -1 when libpng gives up.
int decodePng(FILE* file, int maxSide, RgbImage& image, std::string& message) {
    PngDecoder png;
    const int started = png.start(file, maxSide);
    if (started == -3) {
        withinSideLimit(png.width(), png.height(), maxSide, message);
        return -2;
    }
    if (started != 0) {
        message = png.error();
        return -1;
    }
    image = makeRgbImage(png.width(), png.height(), 0, 0, 0);
    // Decoded as frame pixels (blue, green, red, 255) and packed to red,
    // green, blue in place: each pixel moves back, over pixels already read.
    const size_t pixels = static_cast<size_t>(image.width) * image.height;
    image.rgb.resize(pixels * 4);
    if (png.readFrame(image.rgb.data()) != 0) {
        message = png.error();
        return -1;
    }
    unsigned char* rgb = image.rgb.data();
    for (size_t i = 0; i < pixels; i++) {
        const unsigned char blue = rgb[4 * i], green = rgb[4 * i + 1], red = rgb[4 * i + 2];
        rgb[3 * i] = red;
        rgb[3 * i + 1] = green;
        rgb[3 * i + 2] = blue;
    }
    image.rgb.resize(pixels * 3);
    return 0;
}

}  // namespace

RgbImage makeRgbImage(int width, int height, unsigned char r, unsigned char g, unsigned char b) {
    RgbImage image;
    image.width = width;
    image.height = height;
    image.rgb.resize(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < image.rgb.size(); i += 3) {
        image.rgb[i] = r;
        image.rgb[i + 1] = g;
        image.rgb[i + 2] = b;
    }
    return image;
}

int readPicture(const std::string& path, RgbImage& image, std::string& error, int maxSide) {
    const std::string problem = fileReadProblem(path.c_str());
    FILE* file = problem.empty() ? std::fopen(path.c_str(), "rb") : nullptr;
    if (file == nullptr) {
        error = "cannot open " + path + ": " + (problem.empty() ? "cannot be read" : problem);
        return -1;
    }
    unsigned char magic[2] = {0, 0};
    size_t got = std::fread(magic, 1, 2, file);
    int result = -1;
    std::string reason;
    if (got == 2 && magic[0] == 0xFF && magic[1] == 0xD8) {
        std::rewind(file);
        result = decodeJpeg(file, maxSide, image, reason);
        error =
            path + (result == -2 ? ": " + reason : ": not a readable JPEG image (" + reason + ")");
    } else if (got == 2 && magic[0] == 'P' && magic[1] >= '2' && magic[1] <= '6' &&
               magic[1] != '4') {
        const bool binary = magic[1] >= '5';
        const int channels = magic[1] == '3' || magic[1] == '6' ? 3 : 1;
        result = readPnm(file, binary, channels, maxSide, image, reason);
        error = path + ": " + reason;
    } else if (got == 2 && magic[0] == 0x89 && magic[1] == 'P') {
        std::rewind(file);
        result = decodePng(file, maxSide, image, reason);
        error =
            path + (result == -2 ? ": " + reason : ": not a readable PNG image (" + reason + ")");
    } else {
        error = path + ": neither a JPEG, a PNG nor a PPM or PGM (P2, P3, P5, P6) image";
    }
    std::fclose(file);
    if (result == 0) {
        error.clear();
        return 0;
    }
    image = RgbImage{};
    return -1;
}
