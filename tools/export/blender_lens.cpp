#include "tools/export/blender_lens.h"

#include <algorithm>
#include <cmath>

namespace {

// The observed points the lens is measured over: a grid across the frame's
// pixel centres, its edges included.
constexpr int GRID_COLUMNS = 33;
constexpr int GRID_ROWS = 25;
// Newton steps that take an observed radius back to the render's.
constexpr int RADIUS_STEPS = 30;

// The point of the render that the footage shows at (ox, oy): about the
// distortion centre c0, the radius rho with rho (1 - k rho^2) = |o - c0|.
void renderPoint(double k, const double c0[2], double ox, double oy, double& qx, double& qy) {
    const double seen = std::hypot(ox - c0[0], oy - c0[1]);
    double rho = seen;
    for (int step = 0; step < RADIUS_STEPS; ++step) {
        rho -= (rho * (1.0 - k * rho * rho) - seen) / (1.0 - 3.0 * k * rho * rho);
    }
    const double t = seen > 0.0 ? rho / seen : 1.0;
    qx = c0[0] + (ox - c0[0]) * t;
    qy = c0[1] + (oy - c0[1]) * t;
}

}  // namespace

BlenderLens blenderLensOf(const CameraParam& camera) {
    const double s = camera.distFactor[3];
    const double k = camera.distFactor[2] * 1e-8;
    BlenderLens lens{};
    lens.focal = s * camera.mat[0][0];
    lens.pixelAspect = camera.mat[1][1] / camera.mat[0][0];
    const double principal[2] = {camera.mat[0][2], camera.mat[1][2]};
    for (int axis = 0; axis < 2; ++axis) {
        lens.distortion[axis] = camera.distFactor[axis];
        lens.centre[axis] = lens.distortion[axis] + s * (principal[axis] - lens.distortion[axis]);
    }
    lens.k[0] = -k * lens.focal * lens.focal;

    // Each observed point of the grid, taken back to the render and through
    // Blender's model again.
    for (int row = 0; row < GRID_ROWS; ++row) {
        for (int column = 0; column < GRID_COLUMNS; ++column) {
            const double ox = (camera.xsize - 1.0) * column / (GRID_COLUMNS - 1);
            const double oy = (camera.ysize - 1.0) * row / (GRID_ROWS - 1);
            double qx = 0.0, qy = 0.0;
            renderPoint(k, lens.distortion, ox, oy, qx, qy);
            const double dx = qx - lens.distortion[0], dy = qy - lens.distortion[1];
            const double r2 = (dx * dx + dy * dy) / (lens.focal * lens.focal);
            const double factor = 1.0 + r2 * (lens.k[0] + r2 * (lens.k[1] + r2 * lens.k[2]));
            lens.worst = std::max(lens.worst, std::hypot(lens.distortion[0] + dx * factor - ox,
                                                         lens.distortion[1] + dy * factor - oy));
        }
    }
    return lens;
}
