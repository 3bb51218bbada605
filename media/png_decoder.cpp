#include "media/png_decoder.h"

#include <cstring>

bool PngDecoder::isPng(const unsigned char* signature) {
    return png_sig_cmp(signature, 0, 8) == 0;
}

PngDecoder::~PngDecoder() {
    png_image_free(&image);
}

void PngDecoder::noteWarning() {
    if ((image.warning_or_error & PNG_IMAGE_WARNING) != 0 && image.message[0] != '\0')
        warnings.push_back(std::string("PNG: ") + image.message);
    image.warning_or_error &= ~PNG_IMAGE_WARNING;
}

InputProblem PngDecoder::start(std::FILE* file, int maxSide) {
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_stdio(&image, file) == 0)
        return failed();
    noteWarning();
    if (image.width > static_cast<png_uint_32>(maxSide) ||
        image.height > static_cast<png_uint_32>(maxSide))
        return {InputFailure::FrameTooLarge};
    return {};
}

InputProblem PngDecoder::readFrame(unsigned char* frame) {
    // libpng writes 3 bytes a pixel into the last three quarters of the
    // frame; each pixel then moves forward to its 4 bytes, which never
    // reaches a pixel not yet moved.
    const size_t pixels = static_cast<size_t>(width()) * static_cast<size_t>(height());
    unsigned char* packed = frame + pixels;
    image.format = PNG_FORMAT_BGR;
    const png_color white{255, 255, 255};
    if (png_image_finish_read(&image, &white, packed, 0, nullptr) == 0)
        return failed();
    noteWarning();
    for (size_t i = 0; i < pixels; i++) {
        const unsigned char blue = packed[3 * i], green = packed[3 * i + 1],
                            red = packed[3 * i + 2];
        frame[4 * i] = blue;
        frame[4 * i + 1] = green;
        frame[4 * i + 2] = red;
        frame[4 * i + 3] = 255;
    }
    return {};
}

std::vector<std::string> PngDecoder::takeWarnings() {
    std::vector<std::string> taken;
    taken.swap(warnings);
    return taken;
}
