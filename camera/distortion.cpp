#include "camera/distortion.h"

#include <cmath>

void arIdealToObserved(const double distFactor[4], double ix, double iy, double* ox, double* oy) {
    double x0 = distFactor[0];
    double y0 = distFactor[1];
    double f = distFactor[2];
    double s = distFactor[3];
    double u = (ix - x0) * s;
    double v = (iy - y0) * s;
    if (u == 0.0 && v == 0.0) {
        *ox = x0;
        *oy = y0;
        return;
    }
    double d = 1.0 - (u * u + v * v) * (1e-8 * f);
    *ox = u * d + x0;
    *oy = v * d + y0;
}

// Inverts r * (1 - k r^2) = p0 for the ideal radius with a fixed number of
// Newton steps, scaling the offset (dx, dy) along with the radius.
void arObservedToIdeal(const double distFactor[4], double ox, double oy, double* ix, double* iy) {
    double x0 = distFactor[0];
    double y0 = distFactor[1];
    double k = distFactor[2] * 1e-8;
    double s = distFactor[3];
    double dx = ox - x0;
    double dy = oy - y0;
    double z = dx * dx + dy * dy;
    double p = std::sqrt(z);
    double p0 = p;
    for (int step = 1; step <= DISTORTION_ITERATIONS; step++) {
        if (p == 0.0) {
            dx = 0.0;
            dy = 0.0;
            break;
        }
        double next = p - ((1.0 - k * z) * p - p0) / (1.0 - 3.0 * k * z);
        dx = dx * next / p;
        dy = dy * next / p;
        if (step == DISTORTION_ITERATIONS)
            break;
        z = dx * dx + dy * dy;
        p = std::sqrt(z);
    }
    *ix = dx / s + x0;
    *iy = dy / s + y0;
}

double arLargestLensShift(const double distFactor[4], int width, int height) {
    double largest = 0.0;
    const auto measure = [&](double ox, double oy) {
        double ix, iy;
        arObservedToIdeal(distFactor, ox, oy, &ix, &iy);
        largest = std::fmax(largest, std::hypot(ix - ox, iy - oy));
    };
    const double right = width - 1, bottom = height - 1;
    for (int x = 0; x < width; x += 8) {
        measure(x, 0.0);
        measure(x, bottom);
    }
    for (int y = 0; y < height; y += 8) {
        measure(0.0, y);
        measure(right, y);
    }
    measure(right, bottom);
    return largest;
}
