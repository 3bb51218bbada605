#include "pose/initial_rotation.h"

#include <cmath>
#include <utility>

#include "math/matrix.h"

namespace {

// Depth at which the start corner of an edge is back-projected to test which
// way an axis points.
constexpr double ORIENT_DEPTH = 10.0;

void cross(const double u[3], const double v[3], double out[3]) {
    out[0] = u[1] * v[2] - u[2] * v[1];
    out[1] = u[2] * v[0] - u[0] * v[2];
    out[2] = u[0] * v[1] - u[1] * v[0];
}

double dot(const double u[3], const double v[3]) {
    return u[0] * v[0] + u[1] * v[1] + u[2] * v[2];
}

double length(const double v[3]) {
    return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

// Direction in camera coordinates of the vanishing point where two opposite
// sides meet, as a unit vector of either sign. Only P00, P01, P02, P11 and
// P12 are read: the camera block is taken as upper triangular with P22 = 1.
// NoStart when the direction has no length (the two sides coincide).
PoseStatus backProjectVanishingPoint(const EdgeLine& l1, const EdgeLine& l2, const double P[3][4],
                                     double v[3]) {
    double hx = l1.b * l2.c - l2.b * l1.c;
    double hy = l1.c * l2.a - l2.c * l1.a;
    double hw = l1.a * l2.b - l2.a * l1.b;
    v[0] = hw * (P[0][1] * P[1][2] - P[0][2] * P[1][1]) + hx * P[1][1] - hy * P[0][1];
    v[1] = -hw * P[0][0] * P[1][2] + hy * P[0][0];
    v[2] = hw * P[0][0] * P[1][1];
    double len = length(v);
    if (!(len > 0.0)) {
        return PoseStatus::NoStart;
    }
    v[0] /= len;
    v[1] /= len;
    v[2] /= len;
    return PoseStatus::Ok;
}

// Image of a camera-frame point under the left 3x3 block of P (the fourth
// column is not read); NoStart when its third homogeneous coordinate is
// exactly 0.
PoseStatus projectPoint(const double P[3][4], const double p[3], double* x, double* y) {
    double h = P[2][0] * p[0] + P[2][1] * p[1] + P[2][2] * p[2];
    if (h == 0.0) {
        return PoseStatus::NoStart;
    }
    *x = (P[0][0] * p[0] + P[0][1] * p[1] + P[0][2] * p[2]) / h;
    *y = (P[1][0] * p[0] + P[1][1] * p[1] + P[1][2] * p[2]) / h;
    return PoseStatus::Ok;
}

// Inverse of the left 3x3 block of P. A singular block leaves whatever the
// elimination produced; a calibrated camera never has one.
void invertCameraBlock(const double P[3][4], double M[3][3]) {
    double work[3 * 3];
    for (int r = 0; r < 3; r++) {
        for (int c = 0; c < 3; c++) {
            work[r * 3 + c] = P[r][c];
        }
    }
    Matrix m{work, 3, 3};
    arMatrixInvertInPlace(&m);
    for (int r = 0; r < 3; r++) {
        for (int c = 0; c < 3; c++) {
            M[r][c] = work[r * 3 + c];
        }
    }
}

// The two unit vectors at cosine `ca` to the unit vector u within the plane
// whose unit normal is n. The components are taken in an order that keeps
// the 2x2 system for x and y regular; NoStart when none does, or when no such
// vector exists (a negative discriminant).
PoseStatus axisCandidates(const double uIn[3], const double nIn[3], double ca, double plus[3],
                          double minus[3]) {
    double u[3] = {uIn[0], uIn[1], uIn[2]};
    double n[3] = {nIn[0], nIn[1], nIn[2]};
    // Which component trades places with z: 1 for y, 0 for x, -1 for none.
    int exchanged = -1;
    double D = n[1] * u[0] - u[1] * n[0];
    if (D == 0.0) {
        exchanged = (n[2] * u[0] - u[2] * n[0] != 0.0) ? 1 : 0;
        std::swap(u[exchanged], u[2]);
        std::swap(n[exchanged], n[2]);
        D = n[1] * u[0] - u[1] * n[0];
        if (D == 0.0) {
            return PoseStatus::NoStart;
        }
    }
    double k1 = (u[1] * n[2] - n[1] * u[2]) / D;
    double k2 = n[1] * ca / D;
    double k3 = (u[0] * n[2] - n[0] * u[2]) / (n[0] * u[1] - u[0] * n[1]);
    double k4 = n[0] * ca / (n[0] * u[1] - u[0] * n[1]);
    double qa = k1 * k1 + k3 * k3 + 1.0;
    double qb = k1 * k2 + k3 * k4;
    double qc = k2 * k2 + k4 * k4 - 1.0;
    double disc = qb * qb - qa * qc;
    if (disc < 0.0) {
        return PoseStatus::NoStart;
    }
    double r = (std::sqrt(disc) - qb) / qa;
    plus[0] = k1 * r + k2;
    plus[1] = k3 * r + k4;
    plus[2] = r;
    r = (-qb - std::sqrt(disc)) / qa;
    minus[0] = k1 * r + k2;
    minus[1] = k3 * r + k4;
    minus[2] = r;
    if (exchanged >= 0) {
        std::swap(plus[exchanged], plus[2]);
        std::swap(minus[exchanged], minus[2]);
    }
    return PoseStatus::Ok;
}

// Which of the four pairings (X+, Y+), (X+, Y-), (X-, Y+), (X-, Y-) is the
// most nearly perpendicular, 1 to 4; a tie goes to the later pairing.
int closestToRightAngle(double e1, double e2, double e3, double e4) {
    if (e1 < e2) {
        if (e1 < e3) {
            return e1 < e4 ? 1 : 4;
        }
        return e3 < e4 ? 3 : 4;
    }
    if (e2 < e3) {
        return e2 < e4 ? 2 : 4;
    }
    return e3 < e4 ? 3 : 4;
}

void copy3(const double from[3], double to[3]) {
    to[0] = from[0];
    to[1] = from[1];
    to[2] = from[2];
}

// Turns `axis` round when its image runs against the edge from `start` to
// `end` (ideal coordinates). NoStart when a test point projects to infinity.
PoseStatus orientAxis(double axis[3], ImagePoint start, ImagePoint end, const double P[3][4]) {
    double M[3][3];
    invertCameraBlock(P, M);
    double p0[3];
    for (int r = 0; r < 3; r++) {
        p0[r] = M[r][0] * start.x * ORIENT_DEPTH + M[r][1] * start.y * ORIENT_DEPTH +
                M[r][2] * ORIENT_DEPTH;
    }
    double p1[3] = {p0[0] + axis[0], p0[1] + axis[1], p0[2] + axis[2]};
    double x0;
    double y0;
    double x1;
    double y1;
    if (projectPoint(P, p0, &x0, &y0) != PoseStatus::Ok ||
        projectPoint(P, p1, &x1, &y1) != PoseStatus::Ok) {
        return PoseStatus::NoStart;
    }
    double ex = end.x - start.x;
    double ey = end.y - start.y;
    if (ex * (x1 - x0) + ey * (y1 - y0) < 0.0) {
        axis[0] = -axis[0];
        axis[1] = -axis[1];
        axis[2] = -axis[2];
    }
    return PoseStatus::Ok;
}

// Makes the unit axes X and Y exactly perpendicular, turning each by half the
// deviation from a right angle inside their plane. Ok, or NoStart with both
// untouched.
PoseStatus orthogonaliseAxes(double X[3], double Y[3]) {
    double n[3];
    cross(X, Y, n);
    double len = length(n);
    if (len == 0.0) {
        return PoseStatus::NoStart;
    }
    n[0] /= len;
    n[1] /= len;
    n[2] /= len;
    double cb = dot(X, Y);
    if (cb < 0.0) {
        cb = -cb;
    }
    if (1.0 - cb < 0.0) {
        return PoseStatus::NoStart;
    }
    double ca = (std::sqrt(cb + 1.0) + std::sqrt(1.0 - cb)) * 0.5;
    double xPlus[3];
    double xMinus[3];
    double yPlus[3];
    double yMinus[3];
    if (axisCandidates(X, n, ca, xPlus, xMinus) != PoseStatus::Ok ||
        axisCandidates(Y, n, ca, yPlus, yMinus) != PoseStatus::Ok) {
        return PoseStatus::NoStart;
    }
    int pairing =
        closestToRightAngle(std::fabs(dot(xPlus, yPlus)), std::fabs(dot(xPlus, yMinus)),
                            std::fabs(dot(xMinus, yPlus)), std::fabs(dot(xMinus, yMinus)));
    copy3(pairing <= 2 ? xPlus : xMinus, X);
    copy3(pairing == 1 || pairing == 3 ? yPlus : yMinus, Y);
    return PoseStatus::Ok;
}

// The same turn by half the deviation in closed form: the bisectors of X and
// Y and of X and -Y are perpendicular, and the axes lie 45 degrees either
// side of the first. NoStart with both untouched when X and Y are parallel.
PoseStatus orthogonaliseAxesBisecting(double X[3], double Y[3]) {
    double sum[3] = {X[0] + Y[0], X[1] + Y[1], X[2] + Y[2]};
    double difference[3] = {X[0] - Y[0], X[1] - Y[1], X[2] - Y[2]};
    const double sumLength = length(sum);
    const double differenceLength = length(difference);
    if (!(sumLength > 0.0 && differenceLength > 0.0)) {
        return PoseStatus::NoStart;
    }
    for (int r = 0; r < 3; r++) {
        sum[r] /= sumLength;
        difference[r] /= differenceLength;
        X[r] = (sum[r] + difference[r]) / std::sqrt(2.0);
        Y[r] = (sum[r] - difference[r]) / std::sqrt(2.0);
    }
    return PoseStatus::Ok;
}

// The first rotation, the axes made perpendicular by orthogonaliseAxes or
// (`bisecting`) by orthogonaliseAxesBisecting. Ok, or NoStart with R untouched.
PoseStatus initialRotation(const MarkerSquare& marker, const double P[3][4], bool bisecting,
                           double R[3][3]) {
    int d = marker.direction;
    if (d < 0 || d > 3) {
        return PoseStatus::NoStart;
    }
    EdgeLine side[4];
    ImagePoint corner[4];
    for (int k = 0; k < 4; k++) {
        side[k] = marker.edgeLines[arMarkerOrderIndex(d, k)];
        corner[k] = marker.vertices[arMarkerOrderIndex(d, k)];
    }
    double X[3];
    double Y[3];
    if (backProjectVanishingPoint(side[0], side[2], P, X) != PoseStatus::Ok ||
        backProjectVanishingPoint(side[1], side[3], P, Y) != PoseStatus::Ok) {
        return PoseStatus::NoStart;
    }
    if (orientAxis(X, corner[0], corner[1], P) != PoseStatus::Ok) {
        return PoseStatus::NoStart;
    }
    if (orientAxis(Y, corner[3], corner[0], P) != PoseStatus::Ok) {
        return PoseStatus::NoStart;
    }
    if ((bisecting ? orthogonaliseAxesBisecting(X, Y) : orthogonaliseAxes(X, Y)) !=
        PoseStatus::Ok) {
        return PoseStatus::NoStart;
    }
    double Z[3];
    cross(X, Y, Z);
    double len = length(Z);
    Z[0] /= len;
    Z[1] /= len;
    Z[2] /= len;
    for (int r = 0; r < 3; r++) {
        R[r][0] = X[r];
        R[r][1] = Y[r];
        R[r][2] = Z[r];
    }
    return PoseStatus::Ok;
}

}  // namespace

PoseStatus arInitialRotation(const MarkerSquare& marker, const double P[3][4], double R[3][3]) {
    return initialRotation(marker, P, false, R);
}

PoseStatus arInitialRotationBisecting(const MarkerSquare& marker, const double P[3][4],
                                      double R[3][3]) {
    return initialRotation(marker, P, true, R);
}
