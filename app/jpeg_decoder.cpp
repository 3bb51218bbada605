#include "app/jpeg_decoder.h"

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

int JpegDecoder::start(std::FILE* file, Colours colours) {
    if (!created)
        return -1;
    if (setjmp(errors.jump) != 0)
        return -1;
    jpeg_stdio_src(&decoder, file);
    jpeg_read_header(&decoder, TRUE);
    switch (decoder.jpeg_color_space) {
        case JCS_GRAYSCALE:
            decoder.out_color_space = JCS_RGB;
            break;
        case JCS_YCbCr:
        case JCS_RGB:
            break;
        default:
            if (colours == Colours::ColourOrGrey)
                return -2;
            decoder.out_color_space = JCS_RGB;
            break;
    }
    jpeg_start_decompress(&decoder);
    return 0;
}

int JpegDecoder::readRow(const unsigned char** row) {
    if (setjmp(errors.jump) != 0)
        return -1;
    if (line == nullptr) {
        line = (*decoder.mem->alloc_sarray)(
            reinterpret_cast<j_common_ptr>(&decoder), JPOOL_IMAGE,
            decoder.output_width * static_cast<JDIMENSION>(decoder.output_components), 1);
    }
    jpeg_read_scanlines(&decoder, line, 1);
    *row = line[0];
    return 0;
}

int JpegDecoder::finish() {
    if (setjmp(errors.jump) != 0)
        return -1;
    jpeg_finish_decompress(&decoder);
    line = nullptr;
    return 0;
}

std::vector<std::string> JpegDecoder::takeWarnings() {
    return std::exchange(warnings, {});
}
