// Blender's lens for a camera file: its polynomial model holds ours exactly,
// whatever the scale, the distortion centre and the pixels' shape (the
// render through it: blender_test.cpp).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "camera/distortion.h"
#include "tools/export/blender_lens.h"

namespace {

// A camera of width x height: focal lengths, principal point, distortion
// centre, coefficient and scale.
CameraParam camera(int width, int height, double fx, double fy, double cx, double cy, double x0,
                   double y0, double f, double s) {
    CameraParam c{};
    c.xsize = width;
    c.ysize = height;
    c.mat[0][0] = fx;
    c.mat[0][2] = cx;
    c.mat[1][1] = fy;
    c.mat[1][2] = cy;
    c.mat[2][2] = 1.0;
    c.distFactor[0] = x0;
    c.distFactor[1] = y0;
    c.distFactor[2] = f;
    c.distFactor[3] = s;
    return c;
}

// Blender renders a point of the view through its pinhole (focal length F,
// the render's pixel aspect, principal point `centre`) and its polynomial
// model lays it where the camera file's projection and lens put it.
TEST(BlenderLens, LaysTheRenderWhereTheCameraFileHasIt) {
    const struct {
        const char* name;
        CameraParam camera;
    } cases[] = {
        {"no distortion", camera(640, 480, 554.26, 554.26, 320, 240, 320, 240, 0, 1)},
        {"lumeko-camera's", camera(640, 480, 554.26, 554.26, 328, 236, 328, 236, 30, 1)},
        {"scaled", camera(640, 480, 554.26, 554.26, 328, 236, 328, 236, 30, 1.02)},
        {"its centre apart", camera(1280, 720, 1000, 1000, 652.5, 351, 640, 360, 8, 1.01)},
        {"a chessboard's", camera(1280, 720, 1000, 1004, 652.5, 351, 652.5, 351, 8, 1)},
        {"pixels a quarter taller", camera(640, 480, 500, 625, 320, 240, 300, 250, 60, 0.98)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const BlenderLens lens = blenderLensOf(c.camera);
        EXPECT_LE(lens.worst, 1e-9);
        EXPECT_EQ(lens.k[1], 0.0);
        EXPECT_EQ(lens.k[2], 0.0);
        double worst = 0.0;
        for (double u = -0.6; u <= 0.6; u += 0.05) {
            for (double v = -0.45; v <= 0.45; v += 0.05) {
                const CameraParam& cam = c.camera;
                double ox = 0.0, oy = 0.0;
                arIdealToObserved(cam.distFactor, cam.mat[0][0] * u + cam.mat[0][2],
                                  cam.mat[1][1] * v + cam.mat[1][2], &ox, &oy);
                const double dx = lens.centre[0] + lens.focal * u - lens.distortion[0];
                const double dy =
                    lens.centre[1] + lens.focal * lens.pixelAspect * v - lens.distortion[1];
                const double r2 = (dx * dx + dy * dy) / (lens.focal * lens.focal);
                const double factor = 1.0 + lens.k[0] * r2;
                worst = std::max(worst, std::hypot(lens.distortion[0] + dx * factor - ox,
                                                   lens.distortion[1] + dy * factor - oy));
            }
        }
        EXPECT_LE(worst, 1e-9);
    }
}

}  // namespace
