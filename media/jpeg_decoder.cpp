#include "media/jpeg_decoder.h"

#include <utility>

// Every call that can reach libjpeg's error exit sets the jump point first.
// Only plain records live between the jump point and libjpeg, so the jump
// back skips no destructor.

void JpegDecoder::onError(j_common_ptr info) {
    ErrorManager* manager = reinterpret_cast<ErrorManager*>(info->err);
    char text[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, text);
    manager->owner->errorText = text;
    std::longjmp(manager->jump, 1);
}

// libjpeg's standard manager prints what it emits; here it is kept for the
// caller, who decides where it goes.
void JpegDecoder::onMessage(j_common_ptr info) {
    ErrorManager* manager = reinterpret_cast<ErrorManager*>(info->err);
    char text[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, text);
    manager->owner->warnings.emplace_back(text);
}

JpegDecoder::JpegDecoder() {
    decoder.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = onError;
    errors.base.output_message = onMessage;
    errors.owner = this;
    if (setjmp(errors.jump) != 0)
        return;
    jpeg_create_decompress(&decoder);
    created = true;
}

JpegDecoder::~JpegDecoder() {
    if (created)
        jpeg_destroy_decompress(&decoder);
}

InputProblem JpegDecoder::start(std::FILE* file, Colours colours, int maxSide) {
    if (!created)
        return {InputFailure::OutOfMemory};
    if (setjmp(errors.jump) != 0)
        return failed();
    jpeg_stdio_src(&decoder, file);
    jpeg_read_header(&decoder, TRUE);
    // Before jpeg_start_decompress(), which allocates for the claimed size
    // (a progressive file: coefficients for the whole picture).
    if (maxSide > 0 && (decoder.image_width > static_cast<JDIMENSION>(maxSide) ||
                        decoder.image_height > static_cast<JDIMENSION>(maxSide)))
        return {InputFailure::FrameTooLarge};
    const bool asFrame = colours == Colours::ColourOrGreyAsFrame;
    switch (decoder.jpeg_color_space) {
        case JCS_GRAYSCALE:
            decoder.out_color_space = asFrame ? JCS_EXT_BGRA : JCS_RGB;
            break;
        case JCS_YCbCr:
        case JCS_RGB:
            if (asFrame)
                decoder.out_color_space = JCS_EXT_BGRA;
            break;
        default:
            if (asFrame)
                return {InputFailure::UnsupportedColour};
            decoder.out_color_space = JCS_RGB;
            break;
    }
    jpeg_start_decompress(&decoder);
    return {};
}

InputProblem JpegDecoder::decodeInto(unsigned char* pixels) {
    if (setjmp(errors.jump) != 0)
        return failed();
    const size_t rowBytes =
        static_cast<size_t>(decoder.output_width) * static_cast<size_t>(decoder.output_components);
    while (decoder.output_scanline < decoder.output_height) {
        JSAMPROW rows[1] = {pixels + decoder.output_scanline * rowBytes};
        jpeg_read_scanlines(&decoder, rows, 1);
    }
    jpeg_finish_decompress(&decoder);
    return {};
}

std::vector<std::string> JpegDecoder::takeWarnings() {
    return std::exchange(warnings, {});
}
