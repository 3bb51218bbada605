#include "media/frame_convert.h"

#include <cstddef>
#include <cstdint>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

void rgbRowToFrame(unsigned char*& write, const unsigned char* line, int pixelCount) {
    for (int i = 0; i < pixelCount; i++) {
        write[0] = line[2];
        write[1] = line[1];
        write[2] = line[0];
        write[3] = 255;
        write += 4;
        line += 3;
    }
}

namespace {

bool isFullRangeFormat(int format) {
    return format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P ||
           format == AV_PIX_FMT_YUVJ444P || format == AV_PIX_FMT_YUVJ440P ||
           format == AV_PIX_FMT_YUVJ411P;
}

}  // namespace

PictureLayout pictureLayout(const AVFrame* picture) {
    return {picture->width, picture->height, picture->format, picture->colorspace,
            picture->color_range == AVCOL_RANGE_JPEG || isFullRangeFormat(picture->format)};
}

namespace {

// Only the sizes matter with equal sizes (no scaling); bicubic when a picture
// has to be scaled to the frame.
constexpr int CONVERT_FLAGS = SWS_BICUBIC;

// libswscale's table-driven YUV to RGB path writes whole groups of 8 pixels
// and leaves the last (width % 8) pixels of every row unwritten when the rows
// are packed without padding; it is taken only with the default dither.
constexpr int WHOLE_GROUP = 8;

bool isRgbFormat(int format) {
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    return descriptor != nullptr && (descriptor->flags & AV_PIX_FMT_FLAG_RGB) != 0;
}

bool hasAlpha(int format) {
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    return descriptor != nullptr &&
           (descriptor->flags & (AV_PIX_FMT_FLAG_ALPHA | AV_PIX_FMT_FLAG_PAL)) != 0;
}

bool sameLayout(const PictureLayout& a, const PictureLayout& b) {
    return a.width == b.width && a.height == b.height && a.format == b.format &&
           a.colourSpace == b.colourSpace && a.fullRange == b.fullRange;
}

// Converts with the colour matrix and range the picture declares, so that
// high-definition and full-range video keep their true colours.
void setColours(SwsContext* context, const PictureLayout& picture) {
    if (isRgbFormat(picture.format))
        return;
    int* inverseTable;
    int* table;
    int sourceRange, destRange, brightness, contrast, saturation;
    if (sws_getColorspaceDetails(context, &inverseTable, &sourceRange, &table, &destRange,
                                 &brightness, &contrast, &saturation) < 0) {
        return;
    }
    sws_setColorspaceDetails(context, sws_getCoefficients(picture.colourSpace), picture.fullRange,
                             table, destRange, brightness, contrast, saturation);
}

SwsContext* makeContext(const PictureLayout& picture, int width, int height) {
    SwsContext* context = sws_alloc_context();
    if (context == nullptr)
        return nullptr;
    const bool set = av_opt_set_int(context, "srcw", picture.width, 0) >= 0 &&
                     av_opt_set_int(context, "srch", picture.height, 0) >= 0 &&
                     av_opt_set_int(context, "src_format", picture.format, 0) >= 0 &&
                     av_opt_set_int(context, "dstw", width, 0) >= 0 &&
                     av_opt_set_int(context, "dsth", height, 0) >= 0 &&
                     av_opt_set_int(context, "dst_format", AV_PIX_FMT_BGRA, 0) >= 0 &&
                     av_opt_set_int(context, "sws_flags", CONVERT_FLAGS, 0) >= 0 &&
                     (width % WHOLE_GROUP == 0 || av_opt_set(context, "sws_dither", "ed", 0) >= 0);
    if (!set || sws_init_context(context, nullptr, nullptr) < 0) {
        sws_freeContext(context);
        return nullptr;
    }
    return context;
}

}  // namespace

bool FrameConverter::prepare(const PictureLayout& picture, int width, int height) {
    if (context != nullptr && sameLayout(madeFor, picture) && frameWidth == width &&
        frameHeight == height) {
        return true;
    }
    reset();
    if (picture.width <= 0 || picture.height <= 0)
        return false;
    context = makeContext(picture, width, height);
    if (context == nullptr)
        return false;
    madeFor = picture;
    frameWidth = width;
    frameHeight = height;
    fillAlpha = hasAlpha(picture.format);
    setColours(context, picture);
    return true;
}

InputProblem FrameConverter::convert(const unsigned char* const planes[], const int strides[],
                                     const PictureLayout& picture, const FrameImage& frame) {
    if (!prepare(picture, frame.width, frame.height))
        return {InputFailure::Unconvertible};
    uint8_t* dest[4] = {frame.pixels, nullptr, nullptr, nullptr};
    const int destStride[4] = {frame.width * 4, 0, 0, 0};
    if (sws_scale(context, planes, strides, 0, picture.height, dest, destStride) <= 0)
        return {InputFailure::Unconvertible};
    if (fillAlpha) {
        const size_t bytes = static_cast<size_t>(frame.width) * frame.height * 4;
        for (size_t i = 3; i < bytes; i += 4)
            frame.pixels[i] = 255;
    }
    return {};
}

void FrameConverter::reset() {
    sws_freeContext(context);
    context = nullptr;
}

FrameConverter::~FrameConverter() {
    reset();
}
