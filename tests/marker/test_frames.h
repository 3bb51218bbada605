#pragma once

// BGRA frames drawn for detection tests and benchmarks. Pixel (x, y) is
// covered by a shape when the point (x, y) lies inside it.

#include <string>
#include <vector>

#include "camera/camera_param.h"
#include "image/frame_image.h"
#include "math/image_point.h"

namespace lumeko_test {

struct Colour {
    unsigned char b, g, r;
};
inline constexpr Colour WHITE{255, 255, 255};
inline constexpr Colour BLACK{0, 0, 0};

struct Picture {  // printed inside a marker, row 0 at the top
    Colour cells[16][16];
};

struct TestFrame {
    int width, height;
    std::vector<unsigned char> pixels;

    TestFrame(int w, int h, Colour background = WHITE);
    FrameImage image() { return FrameImage{pixels.data(), width, height}; }
    void set(int x, int y, Colour c);
    void fillRect(int x0, int y0, int w, int h, Colour c);
    void fillPolygon(const std::vector<ImagePoint>& corners, Colour c);  // even-odd rule
    // A black square of side `side` around `centre`, `picture` in its central
    // half, turned `angle` radians counter-clockwise on the screen.
    void drawMarker(ImagePoint centre, double side, double angle, const Picture& picture);
    void addNoise(unsigned seed, int amplitude);  // +-amplitude on every channel
};

Picture randomPicture(unsigned seed);
// Block d: the picture turned d x 90 degrees counter-clockwise; planes blue,
// green, red; rows top first.
std::string patternFileText(const Picture& picture);
// A distortion-free camera of this size (focal length 700, principal point
// and distortion centre in the middle).
CameraParam undistortedCamera(int width, int height);

}  // namespace lumeko_test
