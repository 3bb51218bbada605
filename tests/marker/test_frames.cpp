#include "tests/marker/test_frames.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <span>
#include <tuple>

namespace lumeko_test {

TestFrame::TestFrame(int w, int h, Colour background)
    : width(w), height(h), pixels(static_cast<size_t>(w) * h * 4) {
    fillRect(0, 0, w, h, background);
}

void TestFrame::set(int x, int y, Colour c) {
    if (x >= 0 && y >= 0 && x < width && y < height) {
        unsigned char* p = &pixels[(static_cast<size_t>(y) * width + x) * 4];
        p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = 255;
    }
}

void TestFrame::fillRect(int x0, int y0, int w, int h, Colour c) {
    for (int i = 0; i < w * h; i++)
        set(x0 + i % w, y0 + i / w, c);
}

void TestFrame::fillPolygon(const std::vector<ImagePoint>& corners, Colour c) {
    for (int p = 0; p < width * height; p++) {
        const double x = p % width, y = p / width;
        bool inside = false;
        for (size_t i = 0, j = corners.size() - 1; i < corners.size(); j = i++) {
            const ImagePoint &a = corners[i], &b = corners[j];
            inside ^= (a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x;
        }
        if (inside)
            set(p % width, p / width, c);
    }
}

void TestFrame::drawMarker(ImagePoint centre, double side, double angle, const Picture& picture) {
    const double cs = std::cos(angle), sn = std::sin(angle);
    for (int p = 0; p < width * height; p++) {
        const double dx = p % width - centre.x, dy = p / width - centre.y;
        const double u = (dx * cs - dy * sn) / side, v = (dx * sn + dy * cs) / side;
        if (u >= -0.5 && u < 0.5 && v >= -0.5 && v < 0.5) {
            const int row = static_cast<int>(std::floor((v + 0.25) * 32));
            const int column = static_cast<int>(std::floor((u + 0.25) * 32));
            const bool inner = row >= 0 && row < 16 && column >= 0 && column < 16;
            set(p % width, p / width, inner ? picture.cells[row][column] : BLACK);
        }
    }
}

void TestFrame::addNoise(unsigned seed, int amplitude) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-amplitude, amplitude);
    for (size_t i = 0; i < pixels.size(); i++) {
        if (i % 4 != 3)
            pixels[i] = static_cast<unsigned char>(std::clamp(pixels[i] + noise(random), 0, 255));
    }
}

Picture randomPicture(unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> value(0, 255);
    Picture picture{};
    for (Colour& cell : std::span(&picture.cells[0][0], 256)) {
        for (unsigned char* channel : {&cell.b, &cell.g, &cell.r})
            *channel = static_cast<unsigned char>(value(random));
    }
    return picture;
}

std::string patternFileText(const Picture& picture) {
    std::string text;
    for (int d = 0; d < 4; d++) {
        for (int plane = 0; plane < 3; plane++) {
            for (int i = 0; i < 256; i++) {
                int r = i / 16, c = i % 16;  // turned d times: (r, c) shows (c, 15 - r)
                for (int t = 0; t < d; t++)
                    std::tie(r, c) = std::pair(c, 15 - r);
                const Colour& cell = picture.cells[r][c];
                text += std::to_string(plane == 0 ? cell.b : plane == 1 ? cell.g : cell.r);
                text += i % 16 == 15 ? '\n' : ' ';
            }
        }
        text += '\n';
    }
    return text;
}

CameraParam undistortedCamera(int width, int height) {
    CameraParam param{};
    param.xsize = width, param.ysize = height;
    param.mat[0][0] = param.mat[1][1] = 700.0;
    param.mat[0][2] = param.distFactor[0] = width / 2.0;
    param.mat[1][2] = param.distFactor[1] = height / 2.0;
    param.mat[2][2] = param.distFactor[3] = 1.0;
    return param;
}

}  // namespace lumeko_test
