#include "tests/marker/test_frames.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "camera/camera_param.h"
#include "marker/detect_marker.h"

namespace lumeko_test {

TestFrame::TestFrame(int w, int h, Colour background)
    : width(w), height(h), pixels(static_cast<size_t>(w) * h * 4) {
    fillRect(0, 0, w, h, background);
}

void TestFrame::set(int x, int y, Colour c) {
    if (x < 0 || y < 0 || x >= width || y >= height) {
        return;
    }
    unsigned char* p = &pixels[(static_cast<size_t>(y) * width + x) * 4];
    p[0] = c.b;
    p[1] = c.g;
    p[2] = c.r;
    p[3] = 255;
}

Colour TestFrame::at(int x, int y) const {
    const unsigned char* p = &pixels[(static_cast<size_t>(y) * width + x) * 4];
    return Colour{p[0], p[1], p[2]};
}

void TestFrame::fillRect(int x0, int y0, int w, int h, Colour c) {
    for (int y = y0; y < y0 + h; y++) {
        for (int x = x0; x < x0 + w; x++) {
            set(x, y, c);
        }
    }
}

void TestFrame::fillPolygon(const std::vector<ImagePoint>& corners, Colour c) {
    double minY = corners[0].y, maxY = corners[0].y;
    double minX = corners[0].x, maxX = corners[0].x;
    for (const ImagePoint& p : corners) {
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
    }
    const size_t n = corners.size();
    for (int y = static_cast<int>(std::floor(minY)); y <= static_cast<int>(std::ceil(maxY)); y++) {
        for (int x = static_cast<int>(std::floor(minX)); x <= static_cast<int>(std::ceil(maxX));
             x++) {
            bool inside = false;
            for (size_t i = 0, j = n - 1; i < n; j = i++) {
                const ImagePoint& a = corners[i];
                const ImagePoint& b = corners[j];
                if ((a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x) {
                    inside = !inside;
                }
            }
            if (inside) {
                set(x, y, c);
            }
        }
    }
}

ImagePoint markerPoint(ImagePoint centre, double side, double angle, double u, double v) {
    const double cs = std::cos(angle);
    const double sn = std::sin(angle);
    return ImagePoint{centre.x + side * (u * cs + v * sn), centre.y + side * (-u * sn + v * cs)};
}

void TestFrame::drawMarker(ImagePoint centre, double side, double angle, const Picture& picture) {
    // Quarter turns use exact sines so that drawn squares stay pixel-exact.
    const double quarter = angle / (M_PI / 2);
    const bool exact = std::fabs(quarter - std::round(quarter)) < 1e-12;
    const int turns = ((static_cast<int>(std::round(quarter)) % 4) + 4) % 4;
    const double cs = exact ? (turns == 0 ? 1 : turns == 2 ? -1 : 0) : std::cos(angle);
    const double sn = exact ? (turns == 1 ? 1 : turns == 3 ? -1 : 0) : std::sin(angle);
    const int reach = static_cast<int>(side) + 2;
    for (int y = static_cast<int>(centre.y) - reach; y <= static_cast<int>(centre.y) + reach; y++) {
        for (int x = static_cast<int>(centre.x) - reach; x <= static_cast<int>(centre.x) + reach;
             x++) {
            const double dx = x - centre.x;
            const double dy = y - centre.y;
            const double u = (dx * cs - dy * sn) / side;
            const double v = (dx * sn + dy * cs) / side;
            if (u < -0.5 || u >= 0.5 || v < -0.5 || v >= 0.5) {
                continue;
            }
            if (u < -0.25 || u >= 0.25 || v < -0.25 || v >= 0.25) {
                set(x, y, BLACK);
                continue;
            }
            const int column = static_cast<int>(std::floor((u + 0.25) * 32));
            const int row = static_cast<int>(std::floor((v + 0.25) * 32));
            set(x, y, picture.cells[row][column]);
        }
    }
}

void TestFrame::addNoise(unsigned seed, int amplitude) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-amplitude, amplitude);
    for (size_t i = 0; i < pixels.size(); i++) {
        if (i % 4 == 3) {
            continue;
        }
        pixels[i] = static_cast<unsigned char>(std::clamp(pixels[i] + noise(random), 0, 255));
    }
}

Picture randomPicture(unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> value(0, 255);
    Picture picture{};
    for (auto& row : picture.cells) {
        for (Colour& cell : row) {
            cell = Colour{static_cast<unsigned char>(value(random)),
                          static_cast<unsigned char>(value(random)),
                          static_cast<unsigned char>(value(random))};
        }
    }
    return picture;
}

Picture turnPicture(const Picture& picture, int turns) {
    Picture turned = picture;
    for (int t = 0; t < turns; t++) {
        const Picture from = turned;
        for (int r = 0; r < 16; r++) {
            for (int c = 0; c < 16; c++) {
                turned.cells[r][c] = from.cells[c][15 - r];
            }
        }
    }
    return turned;
}

Picture flatPicture(Colour c) {
    Picture picture{};
    for (auto& row : picture.cells) {
        for (Colour& cell : row) {
            cell = c;
        }
    }
    return picture;
}

std::string patternFileText(const Picture& picture) {
    std::string text;
    for (int d = 0; d < 4; d++) {
        const Picture block = turnPicture(picture, d);
        for (int plane = 0; plane < 3; plane++) {
            for (int r = 0; r < 16; r++) {
                for (int c = 0; c < 16; c++) {
                    const Colour& cell = block.cells[r][c];
                    const int v = plane == 0 ? cell.b : plane == 1 ? cell.g : cell.r;
                    text += std::to_string(v);
                    text += c == 15 ? '\n' : ' ';
                }
            }
        }
        text += '\n';
    }
    return text;
}

void useUndistortedCamera(int width, int height) {
    CameraParam param{};
    param.xsize = width;
    param.ysize = height;
    param.mat[0][0] = 700.0;
    param.mat[0][2] = width / 2.0;
    param.mat[1][1] = 700.0;
    param.mat[1][2] = height / 2.0;
    param.mat[2][2] = 1.0;
    param.distFactor[0] = width / 2.0;
    param.distFactor[1] = height / 2.0;
    param.distFactor[2] = 0.0;
    param.distFactor[3] = 1.0;
    arSetCameraParam(param);
    arInitDetection(width, height);
}

}  // namespace lumeko_test
