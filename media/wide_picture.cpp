#include "media/wide_picture.h"

#include <bit>
#include <cmath>

#include "image/transfer_curve.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

constexpr uint32_t FLOAT_ONE_BITS = 0x3F800000;  // 1.0f
constexpr uint32_t FLOAT_INFINITY_BITS = 0x7F800000;
constexpr int BUCKET_SHIFT = 16;

// Whether a float `value` in 0..1 comes out at `level` or above.
bool reaches(float value, int level) {
    return 255.0 * transferEncode(TransferCurve::Srgb, value) >= level - 0.5;
}

// The red, green and blue components of a format (grey: the one thrice).
bool colourComponents(const AVPixFmtDescriptor* d, int components[3]) {
    constexpr uint64_t OTHER_LAYOUT = AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BAYER |
                                      AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM;
    const bool rgb = (d->flags & AV_PIX_FMT_FLAG_RGB) != 0;
    const bool grey =
        !rgb && d->nb_components <= 2 && d->log2_chroma_w == 0 && d->log2_chroma_h == 0;
    if ((d->flags & OTHER_LAYOUT) != 0 || (!rgb && !grey))
        return false;
    for (int c = 0; c < 3; c++)
        components[c] = rgb ? c : 0;
    return rgb ? d->nb_components >= 3 : true;
}

// One component of a picture, walked row by row and sample by sample.
struct Samples {
    const unsigned char* row;
    int stride;
    int step;
};

template <bool BigEndian>
uint16_t word(const unsigned char* p) {
    return BigEndian ? static_cast<uint16_t>(p[0] << 8 | p[1])
                     : static_cast<uint16_t>(p[1] << 8 | p[0]);
}

template <bool BigEndian>
float floatAt(const unsigned char* p) {
    const uint32_t bits =
        BigEndian ? (uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3])
                  : (uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0]);
    return std::bit_cast<float>(bits);
}

// Writes every pixel of the frame from three components through `level`.
template <class Level>
void convertPixels(Samples s[3], const FrameImage& frame, Level level) {
    unsigned char* out = frame.pixels;
    for (int y = 0; y < frame.height; y++) {
        const unsigned char* p[3] = {s[0].row, s[1].row, s[2].row};
        for (int x = 0; x < frame.width; x++) {
            out[0] = level(p[2]);
            out[1] = level(p[1]);
            out[2] = level(p[0]);
            out[3] = 255;
            out += 4;
            for (int c = 0; c < 3; c++)
                p[c] += s[c].step;
        }
        for (int c = 0; c < 3; c++)
            s[c].row += s[c].stride;
    }
}

}  // namespace

bool WidePictureConverter::takes(int format) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    int components[3];
    if (d == nullptr || !colourComponents(d, components))
        return false;
    const bool isFloat = (d->flags & AV_PIX_FMT_FLAG_FLOAT) != 0;
    for (int c : components) {
        const AVComponentDescriptor& k = d->comp[c];
        const bool fits = isFloat ? k.depth == 32 && k.step % 4 == 0
                                  : k.depth > 8 && k.depth <= 16 && k.step % 2 == 0;
        if (!fits || k.shift != 0 || k.offset % (isFloat ? 4 : 2) != 0)
            return false;
    }
    return true;
}

void WidePictureConverter::prepareDepth(int depth) {
    if (levelsDepth == depth)
        return;
    const uint32_t top = (1u << depth) - 1;
    depthLevels.assign(65536, 255);  // (values beyond the depth: clipped)
    for (uint32_t v = 0; v <= top; v++)
        depthLevels[v] = static_cast<uint8_t>((v * 510 + top) / (2 * top));
    levelsDepth = depth;
}

void WidePictureConverter::prepareFloat() {
    if (!thresholds.empty())
        return;
    thresholds.assign(256, 0);
    for (int level = 1; level < 256; level++) {
        // The linear value at the level's lower rounding edge, then the least
        // float that reaches it.
        const double target = (level - 0.5) / 255.0;
        float value = static_cast<float>(transferDecode(TransferCurve::Srgb, target));
        while (value > 0.0f && reaches(std::nextafter(value, 0.0f), level))
            value = std::nextafter(value, 0.0f);
        while (!reaches(value, level))
            value = std::nextafter(value, 2.0f);
        thresholds[level] = std::bit_cast<uint32_t>(value);
    }
    bucketLevels.assign(FLOAT_ONE_BITS >> BUCKET_SHIFT, 0);
    int level = 0;
    for (uint32_t bucket = 0; bucket < bucketLevels.size(); bucket++) {
        while (level < 255 && thresholds[level + 1] <= bucket << BUCKET_SHIFT)
            level++;
        bucketLevels[bucket] = static_cast<uint8_t>(level);
    }
}

uint8_t WidePictureConverter::levelOfFloat(float value) const {
    const uint32_t bits = std::bit_cast<uint32_t>(value);
    if (static_cast<int32_t>(bits) <= 0 || bits > FLOAT_INFINITY_BITS)
        return 0;  // zero, negative or NaN
    if (bits >= FLOAT_ONE_BITS)
        return 255;
    int level = bucketLevels[bits >> BUCKET_SHIFT];
    while (level < 255 && bits >= thresholds[level + 1])
        level++;
    return static_cast<uint8_t>(level);
}

InputProblem WidePictureConverter::convert(const unsigned char* const planes[], const int strides[],
                                           int format, const FrameImage& frame) {
    if (!takes(format))
        return {InputFailure::Unconvertible};
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    int components[3];
    colourComponents(d, components);
    Samples s[3];
    for (int c = 0; c < 3; c++) {
        const AVComponentDescriptor& k = d->comp[components[c]];
        s[c] = {planes[k.plane] + k.offset, strides[k.plane], k.step};
    }
    const bool bigEndian = (d->flags & AV_PIX_FMT_FLAG_BE) != 0;
    if ((d->flags & AV_PIX_FMT_FLAG_FLOAT) != 0) {
        prepareFloat();
        if (bigEndian)
            convertPixels(s, frame, [this](const unsigned char* p) {
                return levelOfFloat(floatAt<true>(p));
            });
        else
            convertPixels(s, frame, [this](const unsigned char* p) {
                return levelOfFloat(floatAt<false>(p));
            });
        return {};
    }
    prepareDepth(d->comp[components[0]].depth);
    const uint8_t* levels = depthLevels.data();
    if (bigEndian)
        convertPixels(s, frame, [levels](const unsigned char* p) { return levels[word<true>(p)]; });
    else
        convertPixels(s, frame,
                      [levels](const unsigned char* p) { return levels[word<false>(p)]; });
    return {};
}
