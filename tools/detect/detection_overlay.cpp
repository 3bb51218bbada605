#include "tools/detect/detection_overlay.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "camera/camera_param.h"
#include "camera/distortion.h"

namespace {

struct Rgb {
    unsigned char r, g, b;
};

constexpr Rgb YELLOW{255, 230, 0};
constexpr Rgb ORANGE{255, 140, 0};
constexpr Rgb RED{230, 20, 20};
constexpr Rgb GREEN{0, 200, 60};
constexpr Rgb INK{0, 0, 0};
constexpr Rgb PAPER{255, 255, 255};

void put(RgbImage& image, int x, int y, Rgb c) {
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) {
        return;
    }
    unsigned char* p = &image.rgb[(static_cast<size_t>(y) * image.width + x) * 3];
    p[0] = c.r;
    p[1] = c.g;
    p[2] = c.b;
}

// A pale copy of the frame, dark regions tinted by their final label.
RgbImage fadedFrameWithRegions(const FrameImage& frame, const LabelResult* labels) {
    RgbImage image = makeRgbImage(frame.width, frame.height, 0, 0, 0);
    for (int y = 0; y < frame.height; y++) {
        for (int x = 0; x < frame.width; x++) {
            const unsigned char* bgr =
                frame.pixels + 4 * (static_cast<size_t>(y) * frame.width + x);
            const int grey = (bgr[0] + bgr[1] + bgr[2]) / 3;
            Rgb c{static_cast<unsigned char>(128 + grey / 2),
                  static_cast<unsigned char>(128 + grey / 2),
                  static_cast<unsigned char>(128 + grey / 2)};
            const int p = labels ? labels->labelImage[static_cast<size_t>(y) * frame.width + x] : 0;
            if (p > 0) {
                const unsigned l = static_cast<unsigned>(labels->labelMap[p - 1]);
                c = Rgb{static_cast<unsigned char>(40 + (l * 53) % 120),
                        static_cast<unsigned char>(20 + (l * 97) % 80),
                        static_cast<unsigned char>(110 + (l * 31) % 140)};
            }
            put(image, x, y, c);
        }
    }
    return image;
}

void square(RgbImage& image, double x, double y, int half, Rgb c) {
    const int cx = static_cast<int>(std::lround(x));
    const int cy = static_cast<int>(std::lround(y));
    for (int dy = -half; dy <= half; dy++) {
        for (int dx = -half; dx <= half; dx++) {
            put(image, cx + dx, cy + dy, c);
        }
    }
}

void cross(RgbImage& image, double x, double y, int reach, Rgb c) {
    const int cx = static_cast<int>(std::lround(x));
    const int cy = static_cast<int>(std::lround(y));
    for (int d = -reach; d <= reach; d++) {
        put(image, cx + d, cy + d, c);
        put(image, cx + d, cy - d, c);
        put(image, cx + d + 1, cy + d, c);
        put(image, cx + d + 1, cy - d, c);
    }
}

void ring(RgbImage& image, double x, double y, double radius, Rgb c) {
    for (int k = 0; k < 64; k++) {
        const double a = 2 * M_PI * k / 64;
        put(image, static_cast<int>(std::lround(x + radius * std::cos(a))),
            static_cast<int>(std::lround(y + radius * std::sin(a))), c);
    }
}

// 3 x 5 glyphs, one row per 3 bits, top row first.
const char* const GLYPH_CHARS = "0123456789-.idc ";
const unsigned short GLYPHS[] = {
    075557, 026227, 071747, 071717, 055711, 074717, 074757, 071111,
    075757, 075717, 000700, 000002, 020222, 013553, 007447, 000000,
};

unsigned short glyphOf(char ch) {
    const char* at = std::strchr(GLYPH_CHARS, ch);
    return at ? GLYPHS[at - GLYPH_CHARS] : GLYPHS[15];
}

// Writes `text` at (x, y) with glyphs scaled by `scale`, on a white box.
void text(RgbImage& image, int x, int y, const char* s, int scale) {
    const int length = static_cast<int>(std::strlen(s));
    for (int yy = -scale; yy < 6 * scale; yy++) {
        for (int xx = -scale; xx < 4 * scale * length; xx++) {
            put(image, x + xx, y + yy, PAPER);
        }
    }
    for (int i = 0; i < length; i++) {
        const unsigned short bits = glyphOf(s[i]);
        for (int row = 0; row < 5; row++) {
            for (int col = 0; col < 3; col++) {
                if (!(bits >> ((4 - row) * 3 + (2 - col)) & 1)) {
                    continue;
                }
                for (int sy = 0; sy < scale; sy++) {
                    for (int sx = 0; sx < scale; sx++) {
                        put(image, x + 4 * scale * i + col * scale + sx, y + row * scale + sy, INK);
                    }
                }
            }
        }
    }
}

ImagePoint observed(const double distFactor[4], const ImagePoint& ideal) {
    ImagePoint p{};
    arIdealToObserved(distFactor, ideal.x, ideal.y, &p.x, &p.y);
    return p;
}

void drawCandidates(RgbImage& image, const DetectionTrace& trace) {
    for (int i = 0; i < trace.candidateCount; i++) {
        const MarkerCandidate& c = trace.candidates[i];
        for (int k = 0; k < c.pointCount; k++) {
            put(image, c.contourX[k], c.contourY[k], YELLOW);
        }
        for (int k = 0; k < 4; k++) {
            square(image, c.contourX[c.cornerIndex[k]], c.contourY[c.cornerIndex[k]], 2, ORANGE);
        }
    }
}

void drawMarker(RgbImage& image, const double distFactor[4], const MarkerInfo& m, int scale) {
    for (int k = 0; k < 4; k++) {
        const ImagePoint p = observed(distFactor, m.vertices[k]);
        cross(image, p.x, p.y, 4, RED);
    }
    if (m.direction >= 0) {
        const ImagePoint first = observed(distFactor, m.vertices[(4 - m.direction) % 4]);
        ring(image, first.x, first.y, 7, GREEN);
        ring(image, first.x, first.y, 8, GREEN);
    }
    char label[64];
    std::snprintf(label, sizeof label, "i%d d%d c%.3f", m.id, m.direction, m.confidence);
    text(image, static_cast<int>(m.centre.x) - 6 * scale * 4, static_cast<int>(m.centre.y), label,
         scale);
}

}  // namespace

RgbImage drawDetection(const FrameImage& frame, const CameraParam& camera,
                       const DetectionTrace& trace, const MarkerInfo* markers, int count) {
    RgbImage image = fadedFrameWithRegions(frame, trace.labels);
    drawCandidates(image, trace);
    const int scale = frame.width >= 1280 ? 3 : 2;
    for (int i = 0; i < count; i++) {
        drawMarker(image, camera.distFactor, markers[i], scale);
    }
    return image;
}
