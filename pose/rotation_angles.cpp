#include "pose/rotation_angles.h"

#include <cmath>

namespace {

// Below this |b| the rotated z axis counts as the camera's z axis, and a is
// then taken as 0.
constexpr double ANGLE_DEGENERACY = 1e-6;

// Keeps a cosine and sine pair inside [-1, 1] before the arccos; the four
// tests run in this order, each on the values the previous one left.
void clampCosSin(double& cosValue, double& sinValue) {
    if (cosValue > 1.0) {
        cosValue = 1.0;
        sinValue = 0.0;
    }
    if (cosValue < -1.0) {
        cosValue = -1.0;
        sinValue = 0.0;
    }
    if (sinValue > 1.0) {
        sinValue = 1.0;
        cosValue = 0.0;
    }
    if (sinValue < -1.0) {
        sinValue = -1.0;
        cosValue = 0.0;
    }
}

// The angle in [-pi, pi] of a clamped cosine and sine pair.
double angleOf(double cosValue, double sinValue) {
    clampCosSin(cosValue, sinValue);
    double angle = std::acos(cosValue);
    if (sinValue < 0.0) {
        angle = -angle;
    }
    return angle;
}

}  // namespace

void arRotationToAngles(const double R[3][3], double* a, double* b, double* c) {
    double r22 = R[2][2];
    if (r22 > 1.0) {
        r22 = 1.0;
    } else if (r22 < -1.0) {
        r22 = -1.0;
    }
    double bb = std::acos(r22);
    double sb = std::sin(bb);
    if (bb >= ANGLE_DEGENERACY || bb <= -ANGLE_DEGENERACY) {
        double q = R[0][2] * R[0][2] + R[1][2] * R[1][2];
        if (q == 0.0) {
            // The rotated z axis is exactly the camera's -z axis (b = pi):
            // R = Ry(pi) * Rz(c) with a taken as 0, and the general formulas
            // below would divide 0 by 0.
            *a = 0.0;
            *b = bb;
            *c = angleOf(-R[0][0], R[1][0]);
            return;
        }
        double aa = angleOf(R[0][2] / sb, R[1][2] / sb);
        double sinC = (R[2][1] * R[0][2] - R[2][0] * R[1][2]) / q;
        double cosC = -(R[0][2] * R[2][0] + R[1][2] * R[2][1]) / q;
        *a = aa;
        *b = bb;
        *c = angleOf(cosC, sinC);
    } else {
        *a = 0.0;
        *b = 0.0;
        *c = angleOf(R[0][0], R[1][0]);
    }
}

void arAnglesToRotation(double a, double b, double c, double R[3][3]) {
    double sa = std::sin(a);
    double ca = std::cos(a);
    double sb = std::sin(b);
    double cb = std::cos(b);
    double sc = std::sin(c);
    double cc = std::cos(c);
    R[0][0] = ca * ca * cb * cc + sa * sa * cc + sa * ca * cb * sc - sa * ca * sc;
    R[0][1] = -ca * ca * cb * sc - sa * sa * sc + sa * ca * cb * cc - sa * ca * cc;
    R[0][2] = ca * sb;
    R[1][0] = sa * ca * cb * cc - sa * ca * cc + sa * sa * cb * sc + ca * ca * sc;
    R[1][1] = -sa * ca * cb * sc + sa * ca * sc + sa * sa * cb * cc + ca * ca * cc;
    R[1][2] = sa * sb;
    R[2][0] = -ca * sb * cc - sa * sb * sc;
    R[2][1] = ca * sb * sc - sa * sb * cc;
    R[2][2] = cb;
}
