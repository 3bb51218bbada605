#include "follow/shutter_drawing.h"

#include <algorithm>
#include <cmath>

namespace {

// The plane-to-picture map of a pose, P [r1 r2 t], and its inverse; false
// when the plane is seen edge-on.
bool planeMap(const double P[3][4], const Pose& pose, double H[3][3], double inverse[3][3]) {
    for (int r = 0; r < 3; r++) {
        for (int c = 0; c < 3; c++) {
            const int column = c == 2 ? 3 : c;
            double sum = c == 2 ? P[r][3] : 0.0;
            for (int k = 0; k < 3; k++)
                sum += P[r][k] * pose.m[k][column];
            H[r][c] = sum;
        }
    }
    const double c00 = H[1][1] * H[2][2] - H[1][2] * H[2][1];
    const double c01 = H[1][2] * H[2][0] - H[1][0] * H[2][2];
    const double c02 = H[1][0] * H[2][1] - H[1][1] * H[2][0];
    const double det = H[0][0] * c00 + H[0][1] * c01 + H[0][2] * c02;
    if (!std::isfinite(det) || std::fabs(det) < 1e-300)
        return false;
    inverse[0][0] = c00 / det;
    inverse[1][0] = c01 / det;
    inverse[2][0] = c02 / det;
    inverse[0][1] = (H[0][2] * H[2][1] - H[0][1] * H[2][2]) / det;
    inverse[1][1] = (H[0][0] * H[2][2] - H[0][2] * H[2][0]) / det;
    inverse[2][1] = (H[0][1] * H[2][0] - H[0][0] * H[2][1]) / det;
    inverse[0][2] = (H[0][1] * H[1][2] - H[0][2] * H[1][1]) / det;
    inverse[1][2] = (H[0][2] * H[1][0] - H[0][0] * H[1][2]) / det;
    inverse[2][2] = (H[0][0] * H[1][1] - H[0][1] * H[1][0]) / det;
    return true;
}

// How the reflectance seen through ideal pixel (u, v) changes with a turn
// (g[0..2]) and a shift (g[3..5]) of the pose, camera axes: the ray meets
// the plane at marker point (x, y), camera point X, where the picture's
// slope is (nx, ny).
void rayChange(const double P[3][4], const Pose& pose, double u, double v, double x, double y,
               double nx, double ny, double g[6]) {
    double X[3];
    for (int r = 0; r < 3; r++)
        X[r] = pose.m[r][0] * x + pose.m[r][1] * y + pose.m[r][3];
    const double z = P[2][0] * X[0] + P[2][1] * X[1] + P[2][2] * X[2] + P[2][3];
    // d(u, v)/dX.
    double J[2][3];
    for (int k = 0; k < 3; k++) {
        J[0][k] = (P[0][k] - u * P[2][k]) / z;
        J[1][k] = (P[1][k] - v * P[2][k]) / z;
    }
    // d(u, v)/d(x, y) on the plane.
    double A[2][2];
    for (int i = 0; i < 2; i++)
        for (int j = 0; j < 2; j++)
            A[i][j] = J[i][0] * pose.m[0][j] + J[i][1] * pose.m[1][j] + J[i][2] * pose.m[2][j];
    const double det = A[0][0] * A[1][1] - A[0][1] * A[1][0];
    if (!(std::fabs(det) > 1e-300)) {
        for (int k = 0; k < 6; k++)
            g[k] = 0.0;
        return;
    }
    // m solves A^T m = n; the ray's plane point moves by -A^-1 J dX.
    const double m0 = (A[1][1] * nx - A[1][0] * ny) / det;
    const double m1 = (-A[0][1] * nx + A[0][0] * ny) / det;
    double c[3];
    for (int k = 0; k < 3; k++)
        c[k] = J[0][k] * m0 + J[1][k] * m1;
    g[0] = c[1] * X[2] - c[2] * X[1];
    g[1] = c[2] * X[0] - c[0] * X[2];
    g[2] = c[0] * X[1] - c[1] * X[0];
    g[3] = -c[0];
    g[4] = -c[1];
    g[5] = -c[2];
}

// One moment of the shutter: where it lies in it, the pose then, and the
// plane-to-picture map of that pose and its inverse.
struct ShutterMoment {
    double s;
    Pose pose;
    double H[3][3];
    double G[3][3];
};

// What one sample pixel saw while the shutter was open: the mean over the
// moments, taken in their order, and with `slopes` its slopes.
DrawnSample drawSample(const PictureLevel& texels, double reach, const double P[3][4],
                       const ShutterMoment* moments, int used, const FollowSample& sample,
                       bool slopes) {
    DrawnSample d{};
    const double u = sample.ideal[0];
    const double v = sample.ideal[1];
    for (int j = 0; j < used; j++) {
        const ShutterMoment& m = moments[j];
        const double w = m.G[2][0] * u + m.G[2][1] * v + m.G[2][2];
        if (w == 0.0)
            continue;
        const double x = (m.G[0][0] * u + m.G[0][1] * v + m.G[0][2]) / w;
        const double y = (m.G[1][0] * u + m.G[1][1] * v + m.G[1][2]) / w;
        // The ray must meet the plane in front of the camera.
        if (!(m.H[2][0] * x + m.H[2][1] * y + m.H[2][2] > 0.0))
            continue;
        float t[3];
        if (!pictureAt(texels, reach, x, y, t, slopes))
            continue;
        d.value += t[0];
        d.inside += 1.0;
        if (!slopes || (t[1] == 0.0f && t[2] == 0.0f))
            continue;
        double g[6];
        rayChange(P, m.pose, u, v, x, y, t[1], t[2], g);
        for (int i = 0; i < 6; i++) {
            d.slope[i] += g[i];
            d.slope[6 + i] += m.s * g[i];
        }
    }
    const double share = 1.0 / used;
    d.value *= share;
    d.inside *= share;
    for (double& e : d.slope)
        e *= share;
    return d;
}

}  // namespace

void drawAlongShutter(const MarkerPicture& picture, int level, const double P[3][4],
                      const ShutterPose& pose, int steps, const FollowSample* samples, int count,
                      bool slopes, DrawnSample* drawn) {
    // The moments first, then each sample along all of them: a sample's
    // moments read neighbouring texels, and its sums stay at hand.
    ShutterMoment moments[SHUTTER_STEPS_MAX];
    int used = 0;
    for (int j = 0; j < std::min(steps, SHUTTER_STEPS_MAX); j++) {
        ShutterMoment& m = moments[used];
        m.s = (j + 0.5) / steps - 0.5;
        m.pose = poseInShutter(pose, m.s);
        if (planeMap(P, m.pose, m.H, m.G))
            used++;
    }
    for (int k = 0; k < count; k++) {
        drawn[k] = used == 0 ? DrawnSample{}
                             : drawSample(picture.levels[level], picture.reach, P, moments, used,
                                          samples[k], slopes);
    }
}
