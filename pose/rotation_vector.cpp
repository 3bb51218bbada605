#include "pose/rotation_vector.h"

#include <cmath>

void arTurnRotation(const double R[3][3], const double w[3], double out[3][3]) {
    const double angle = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
    double T[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    if (angle > 0.0) {
        const double k[3] = {w[0] / angle, w[1] / angle, w[2] / angle};
        const double c = std::cos(angle), s = std::sin(angle), v = 1.0 - c;
        T[0][0] = c + k[0] * k[0] * v;
        T[0][1] = k[0] * k[1] * v - k[2] * s;
        T[0][2] = k[0] * k[2] * v + k[1] * s;
        T[1][0] = k[1] * k[0] * v + k[2] * s;
        T[1][1] = c + k[1] * k[1] * v;
        T[1][2] = k[1] * k[2] * v - k[0] * s;
        T[2][0] = k[2] * k[0] * v - k[1] * s;
        T[2][1] = k[2] * k[1] * v + k[0] * s;
        T[2][2] = c + k[2] * k[2] * v;
    }
    double result[3][3];
    for (int j = 0; j < 3; j++)
        for (int k = 0; k < 3; k++)
            result[j][k] = T[j][0] * R[0][k] + T[j][1] * R[1][k] + T[j][2] * R[2][k];
    for (int j = 0; j < 3; j++)
        for (int k = 0; k < 3; k++)
            out[j][k] = result[j][k];
}

void arRotationVector(const double R[3][3], double w[3]) {
    const double trace = R[0][0] + R[1][1] + R[2][2];
    const double c = std::fmax(-1.0, std::fmin(1.0, 0.5 * (trace - 1.0)));
    const double angle = std::acos(c);
    const double v[3] = {R[2][1] - R[1][2], R[0][2] - R[2][0], R[1][0] - R[0][1]};
    const double s = 0.5 * std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (angle < 1e-9) {
        for (int k = 0; k < 3; k++)
            w[k] = 0.5 * v[k];
        return;
    }
    if (angle < 3.0) {
        for (int k = 0; k < 3; k++)
            w[k] = angle / (2.0 * s) * v[k];
        return;
    }
    // Near a half turn the skew part vanishes: the axis from the symmetric part.
    double axis[3];
    for (int k = 0; k < 3; k++)
        axis[k] = std::sqrt(std::fmax(0.0, (R[k][k] - c) / (1.0 - c)));
    int big = 0;
    for (int k = 1; k < 3; k++)
        if (axis[k] > axis[big])
            big = k;
    for (int k = 0; k < 3; k++) {
        if (k != big)
            axis[k] = std::copysign(axis[k], R[big][k] + R[k][big]);
    }
    if (v[big] < 0.0)
        for (int k = 0; k < 3; k++)
            axis[k] = -axis[k];
    for (int k = 0; k < 3; k++)
        w[k] = angle * axis[k];
}
