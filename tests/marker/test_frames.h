#pragma once

// Frames drawn for detection tests and benchmarks: filled polygons, markers
// with a 16 x 16 picture inside, noise. Pixel (x, y) is covered by a shape
// when the point (x, y) lies inside it.

#include <cstdint>
#include <string>
#include <vector>

#include "camera/image_point.h"
#include "marker/frame_image.h"

namespace lumeko_test {

struct Colour {
    unsigned char b, g, r;
};

inline constexpr Colour WHITE{255, 255, 255};
inline constexpr Colour BLACK{0, 0, 0};

// A 16 x 16 picture, row 0 at the top, as printed inside a marker.
struct Picture {
    Colour cells[16][16];
};

struct TestFrame {
    int width;
    int height;
    std::vector<unsigned char> pixels;  // BGRA

    TestFrame(int w, int h, Colour background = WHITE);
    FrameImage image() { return FrameImage{pixels.data(), width, height}; }
    void set(int x, int y, Colour c);
    Colour at(int x, int y) const;
    void fillRect(int x0, int y0, int w, int h, Colour c);
    // Any simple polygon, even-odd rule.
    void fillPolygon(const std::vector<ImagePoint>& corners, Colour c);
    // A marker of side `side` centred on `centre`: black square, `picture` in
    // its central half, turned `angle` radians counter-clockwise on the screen.
    void drawMarker(ImagePoint centre, double side, double angle, const Picture& picture);
    // Adds uniform noise of +-amplitude to every channel (fixed seed).
    void addNoise(unsigned seed, int amplitude);
};

// Where corner (u, v) of a marker (u right, v down, in units of the side,
// -0.5..0.5 from the centre) lands on the screen when drawn by drawMarker.
ImagePoint markerPoint(ImagePoint centre, double side, double angle, double u, double v);

// Random colours per cell, fixed seed; never uniform.
Picture randomPicture(unsigned seed);
// The picture turned `turns` x 90 degrees counter-clockwise.
Picture turnPicture(const Picture& picture, int turns);
// A uniform picture.
Picture flatPicture(Colour c);
// Pattern file text for `picture`: block d is the picture turned d x 90
// degrees counter-clockwise; planes blue, green, red; rows top first.
std::string patternFileText(const Picture& picture);

// A camera of the frame's size without lens distortion, made current, and
// detection's storage sized for it.
void useUndistortedCamera(int width, int height);

}  // namespace lumeko_test
