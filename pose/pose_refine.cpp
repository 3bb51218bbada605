#include "pose/pose_refine.h"

#include <cmath>
#include <cstring>

#include "camera/distortion.h"
#include "math/matrix.h"
#include "pose/pose_projection.h"
#include "pose/rotation_angles.h"
#include "pose/rotation_vector.h"

namespace {

// Start of the bounding box: maxima below and minima above any object point.
constexpr double BOX_START = 1e10;

// The normal equations of the translation fit, in arrays for the most points
// a pass takes: for n points A is 2n x 3, At 3 x 2n, b 2n x 1, N 3 x 3, d and
// e 3 x 1, each row by row from the start of its array.
struct TranslationSystem {
    double A[2 * POSE_POINT_MAX * 3];
    double At[3 * 2 * POSE_POINT_MAX];
    double b[2 * POSE_POINT_MAX];
    double N[3 * 3];
    double d[3];
    double e[3];
};

bool validPointCount(int n) {
    return n >= 1 && n <= POSE_POINT_MAX;
}

// Sum over the points of the squared distance between the observed point and
// the projection of the centred object point by M.
double reprojectionError(const double M[3][4], const double centredPoints[][3],
                         const ImagePoint* observedPoints, int n) {
    double err = 0.0;
    for (int i = 0; i < n; i++) {
        const double* p = centredPoints[i];
        double hx = M[0][0] * p[0] + M[0][1] * p[1] + M[0][2] * p[2] + M[0][3];
        double hy = M[1][0] * p[0] + M[1][1] * p[1] + M[1][2] * p[2] + M[1][3];
        double h = M[2][0] * p[0] + M[2][1] * p[1] + M[2][2] * p[2] + M[2][3];
        double dx = observedPoints[i].x - hx / h;
        double dy = observedPoints[i].y - hy / h;
        err += dx * dx + dy * dy;
    }
    return err;
}

// Least-squares translation t for the fixed rotation R, from the observed
// image points, in the arrays of `s`. BrokeDown with t untouched when the
// normal equations are singular (the points give no translation).
PoseStatus solveTranslation(const double R[3][3], const double centredPoints[][3],
                            const ImagePoint* observedPoints, int n, const double P[3][4],
                            TranslationSystem& s, double t[3]) {
    for (int i = 0; i < n; i++) {
        const double* p = centredPoints[i];
        double wx = R[0][0] * p[0] + R[0][1] * p[1] + R[0][2] * p[2];
        double wy = R[1][0] * p[0] + R[1][1] * p[1] + R[1][2] * p[2];
        double wz = R[2][0] * p[0] + R[2][1] * p[1] + R[2][2] * p[2];
        double x = observedPoints[i].x;
        double y = observedPoints[i].y;
        const double rows[2][3] = {{P[0][0], P[0][1], P[0][2] - x}, {0.0, P[1][1], P[1][2] - y}};
        for (int r = 0; r < 2; r++) {
            for (int k = 0; k < 3; k++) {
                s.A[(2 * i + r) * 3 + k] = rows[r][k];
                s.At[k * 2 * n + 2 * i + r] = rows[r][k];
            }
        }
        s.b[2 * i] = wz * x - P[0][0] * wx - P[0][1] * wy - P[0][2] * wz;
        s.b[2 * i + 1] = wz * y - P[1][1] * wy - P[1][2] * wz;
    }
    Matrix A{s.A, 2 * n, 3};
    Matrix At{s.At, 3, 2 * n};
    Matrix b{s.b, 2 * n, 1};
    Matrix N{s.N, 3, 3};
    Matrix d{s.d, 3, 1};
    Matrix e{s.e, 3, 1};
    arMatrixMultiply(&N, &At, &A);
    arMatrixMultiply(&d, &At, &b);
    if (arMatrixInvertInPlace(&N) != MathStatus::Ok) {
        return PoseStatus::BrokeDown;
    }
    arMatrixMultiply(&e, &N, &d);
    t[0] = s.e[0];
    t[1] = s.e[1];
    t[2] = s.e[2];
    return PoseStatus::Ok;
}

bool allFinite(const double* values, int count) {
    for (int i = 0; i < count; i++) {
        if (!std::isfinite(values[i])) {
            return false;
        }
    }
    return true;
}

// M = P * [R(a, b, c) | t].
void composeProjection(double a, double b, double c, const double t[3], const double P[3][4],
                       double M[3][4]) {
    double Q[3][3];
    arAnglesToRotation(a, b, c, Q);
    arPoseProjection(P, arPoseOf(Q, t), M);
}

// The pass itself on centred object points (x, y, z): translation, rotation
// search, translation, rotation search; n already checked. With `distFactor`
// null the image points are compared as they are. BrokeDown when a step could
// not be computed (a singular translation fit, a search without a finite
// error) or the translation is not finite.
PoseFit refinePoseCentred(const double R[3][3], const ImagePoint* imagePoints,
                          const double centredPoints[][3], int n, const double* distFactor,
                          const double P[3][4]) {
    TranslationSystem system;
    ImagePoint observed[POSE_POINT_MAX];
    for (int i = 0; i < n; i++) {
        if (distFactor == nullptr) {
            observed[i] = imagePoints[i];
        } else {
            arIdealToObserved(distFactor, imagePoints[i].x, imagePoints[i].y, &observed[i].x,
                              &observed[i].y);
        }
    }
    double rotation[3][3];
    double t[3];
    if (solveTranslation(R, centredPoints, observed, n, P, system, t) != PoseStatus::Ok) {
        return poseFailure(PoseStatus::BrokeDown);
    }
    const PoseFit first = arSearchRotation(R, t, P, centredPoints, observed, n);
    if (!first.ok()) {
        return poseFailure(PoseStatus::BrokeDown);
    }
    arPoseRotation(first.pose, rotation);
    if (solveTranslation(rotation, centredPoints, observed, n, P, system, t) != PoseStatus::Ok) {
        return poseFailure(PoseStatus::BrokeDown);
    }
    const PoseFit second = arSearchRotation(rotation, t, P, centredPoints, observed, n);
    if (!second.ok() || !allFinite(t, 3)) {
        return poseFailure(PoseStatus::BrokeDown);
    }
    return second;
}

// The pass on object points centred on their bounding box; see arRefinePose.
PoseFit refinePass(const double R[3][3], const ImagePoint* imagePoints,
                   const double objectPoints[][2], int n, const double* distFactor,
                   const double P[3][4]) {
    if (!validPointCount(n)) {
        return poseFailure(PoseStatus::BadPointCount);
    }
    double maxPoint[3] = {-BOX_START, -BOX_START, -BOX_START};
    double minPoint[3] = {BOX_START, BOX_START, BOX_START};
    for (int i = 0; i < n; i++) {
        for (int k = 0; k < 2; k++) {
            if (objectPoints[i][k] > maxPoint[k]) {
                maxPoint[k] = objectPoints[i][k];
            }
            if (objectPoints[i][k] < minPoint[k]) {
                minPoint[k] = objectPoints[i][k];
            }
        }
    }
    double offset[3];
    for (int k = 0; k < 3; k++) {
        offset[k] = -(maxPoint[k] + minPoint[k]) / 2.0;
    }
    double centred[POSE_POINT_MAX][3];
    for (int i = 0; i < n; i++) {
        centred[i][0] = objectPoints[i][0] + offset[0];
        centred[i][1] = objectPoints[i][1] + offset[1];
        centred[i][2] = 0.0;
    }
    PoseFit fit = refinePoseCentred(R, imagePoints, centred, n, distFactor, P);
    if (!fit.ok()) {
        return fit;
    }
    // The centred points' origin is the object origin moved by `offset`.
    double rotation[3][3];
    double t[3];
    arPoseRotation(fit.pose, rotation);
    arPoseApply(fit.pose, offset, t);
    fit.pose = arPoseOf(rotation, t);
    if (!allFinite(&fit.pose.m[0][0], 12)) {
        return poseFailure(PoseStatus::BrokeDown);
    }
    return fit;
}

// The correspondences a polish fits: image points (ideal coordinates) and
// object points on the marker's plane (z = 0), seen through P.
struct PlanePoints {
    const ImagePoint* image;
    const double (*object)[2];
    int n;
    const double (*P)[4];
};

// The residuals between the image points and P's projection of the object
// points under `pose` (x then y per point) into `r` when it is not null, and
// the sum of their squares; BrokeDown when a point lies on or behind the
// camera.
PoseStatus projectResiduals(const PlanePoints& points, const Pose& pose, double* r, double* sum) {
    *sum = 0.0;
    for (int i = 0; i < points.n; i++) {
        double X[3];
        double h[3];
        arPoseApplyPlane(pose, points.object[i][0], points.object[i][1], X);
        arProjectCameraPoint(points.P, X, h);
        if (!(h[2] > 0.0)) {
            return PoseStatus::BrokeDown;
        }
        const double dx = h[0] / h[2] - points.image[i].x;
        const double dy = h[1] / h[2] - points.image[i].y;
        if (r != nullptr) {
            r[2 * i] = dx;
            r[2 * i + 1] = dy;
        }
        *sum += dx * dx + dy * dy;
    }
    return PoseStatus::Ok;
}

// Solves the 6 x 6 system A x = b (A symmetric positive definite) by
// Cholesky; false when A is not.
bool solveSix(double A[6][6], const double b[6], double x[6]) {
    double L[6][6] = {};
    for (int i = 0; i < 6; i++) {
        for (int j = 0; j <= i; j++) {
            double s = A[i][j];
            for (int k = 0; k < j; k++) {
                s -= L[i][k] * L[j][k];
            }
            if (i == j) {
                if (!(s > 0.0)) {
                    return false;
                }
                L[i][i] = std::sqrt(s);
            } else {
                L[i][j] = s / L[j][j];
            }
        }
    }
    double y[6];
    for (int i = 0; i < 6; i++) {
        double s = b[i];
        for (int k = 0; k < i; k++) {
            s -= L[i][k] * y[k];
        }
        y[i] = s / L[i][i];
    }
    for (int i = 5; i >= 0; i--) {
        double s = y[i];
        for (int k = i + 1; k < 6; k++) {
            s -= L[k][i] * x[k];
        }
        x[i] = s / L[i][i];
    }
    return true;
}

// The pose moved by the six values d: a turn by d[0..2], then the
// translation plus d[3..5].
Pose movedPose(const Pose& pose, const double d[6]) {
    double R[3][3];
    double R2[3][3];
    double t[3];
    arPoseRotation(pose, R);
    arPoseTranslation(pose, t);
    arTurnRotation(R, d, R2);
    for (int j = 0; j < 3; j++) {
        t[j] += d[3 + j];
    }
    return arPoseOf(R2, t);
}

// The derivatives of the residuals by the six values at `pose`, by central
// differences: a microradian of turn, a millionth of the distance.
PoseStatus residualDerivatives(const PlanePoints& points, const Pose& pose, double J[][6]) {
    double t[3];
    arPoseTranslation(pose, t);
    const double scale = std::sqrt(t[0] * t[0] + t[1] * t[1] + t[2] * t[2]);
    for (int p = 0; p < 6; p++) {
        const double h = p < 3 ? 1e-6 : 1e-6 * (scale > 0.0 ? scale : 1.0);
        double d[6] = {};
        double plus[2 * POSE_POINT_MAX];
        double minus[2 * POSE_POINT_MAX];
        double ignored;
        d[p] = h;
        if (projectResiduals(points, movedPose(pose, d), plus, &ignored) != PoseStatus::Ok) {
            return PoseStatus::BrokeDown;
        }
        d[p] = -h;
        if (projectResiduals(points, movedPose(pose, d), minus, &ignored) != PoseStatus::Ok) {
            return PoseStatus::BrokeDown;
        }
        for (int i = 0; i < 2 * points.n; i++) {
            J[i][p] = (plus[i] - minus[i]) / (2.0 * h);
        }
    }
    return PoseStatus::Ok;
}

// The normal equations of a Gauss-Newton step: N = J^T J, g = -J^T r.
void normalEquations(const double J[][6], const double* r, int rows, double N[6][6], double g[6]) {
    for (int i = 0; i < rows; i++) {
        for (int p = 0; p < 6; p++) {
            g[p] -= J[i][p] * r[i];
            for (int q = 0; q < 6; q++) {
                N[p][q] += J[i][p] * J[i][q];
            }
        }
    }
}

// The step of the normal equations with the least damping (from `damping`
// up, ten times more each try, below 1e8) that lowers the error: it moves
// `pose`, `r` and `err`, and the next step starts from a tenth of its
// damping. False when no damping lowers the error.
bool takeDampedStep(const PlanePoints& points, const double N[6][6], const double g[6],
                    double& damping, Pose& pose, double* r, double& err) {
    while (damping < 1e8) {
        double A[6][6];
        for (int p = 0; p < 6; p++) {
            for (int q = 0; q < 6; q++) {
                A[p][q] = N[p][q];
            }
            A[p][p] += damping * N[p][p];
        }
        double d[6];
        double r2[2 * POSE_POINT_MAX];
        double err2 = 0.0;
        if (solveSix(A, g, d)) {
            const Pose moved = movedPose(pose, d);
            if (projectResiduals(points, moved, r2, &err2) == PoseStatus::Ok && err2 < err) {
                pose = moved;
                std::memcpy(r, r2, sizeof(double) * 2 * points.n);
                err = err2;
                damping *= 0.1;
                return true;
            }
        }
        damping *= 10.0;
    }
    return false;
}

}  // namespace

PoseFit arRefinePose(const double R[3][3], const ImagePoint* imagePoints,
                     const double objectPoints[][2], int n, const double distFactor[4],
                     const double P[3][4]) {
    return refinePass(R, imagePoints, objectPoints, n, distFactor, P);
}

PoseFit arRefinePoseIdeal(const double R[3][3], const ImagePoint* imagePoints,
                          const double objectPoints[][2], int n, const double P[3][4]) {
    return refinePass(R, imagePoints, objectPoints, n, nullptr, P);
}

PoseFit arPolishPose(const ImagePoint* imagePoints, const double objectPoints[][2], int n,
                     const double P[3][4], const Pose& start) {
    if (!validPointCount(n)) {
        return poseFailure(PoseStatus::BadPointCount);
    }
    const PlanePoints points{imagePoints, objectPoints, n, P};
    Pose pose = start;
    double r[2 * POSE_POINT_MAX];
    double J[2 * POSE_POINT_MAX][6];
    double err = 0.0;
    if (projectResiduals(points, pose, r, &err) != PoseStatus::Ok) {
        return poseFailure(PoseStatus::BrokeDown);
    }
    double damping = 1e-3;
    for (int step = 0; step < POLISH_STEP_MAX && err > 0.0; step++) {
        if (residualDerivatives(points, pose, J) != PoseStatus::Ok) {
            return poseFailure(PoseStatus::BrokeDown);
        }
        double N[6][6] = {};
        double g[6] = {};
        normalEquations(J, r, 2 * n, N, g);
        const double before = err;
        if (!takeDampedStep(points, N, g, damping, pose, r, err) ||
            before - err <= POLISH_DECREASE_MIN * before) {
            break;
        }
    }
    return PoseFit{PoseStatus::Ok, pose, err / n};
}

PoseFit arSearchRotation(const double R[3][3], const double t[3], const double P[3][4],
                         const double centredPoints[][3], const ImagePoint* observedPoints, int n) {
    double a;
    double b;
    double c;
    arRotationToAngles(R, &a, &b, &c);
    double centre[3] = {a, b, c};
    double step = SEARCH_START_STEP;
    double best[3] = {0.0, 0.0, 0.0};
    int bestOffset[3] = {0, 0, 0};
    double minErr = SEARCH_ERROR_START;
    for (int sweep = 0; sweep < SEARCH_SWEEPS; sweep++) {
        minErr = SEARCH_ERROR_START;
        for (int t1 = -1; t1 <= 1; t1++) {
            for (int t2 = -1; t2 <= 1; t2++) {
                for (int t3 = -1; t3 <= 1; t3++) {
                    double ca = centre[0] + step * t1;
                    double cb = centre[1] + step * t2;
                    double cc = centre[2] + step * t3;
                    double M[3][4];
                    composeProjection(ca, cb, cc, t, P, M);
                    double err = reprojectionError(M, centredPoints, observedPoints, n);
                    if (err < minErr) {
                        minErr = err;
                        best[0] = ca;
                        best[1] = cb;
                        best[2] = cc;
                        bestOffset[0] = t1;
                        bestOffset[1] = t2;
                        bestOffset[2] = t3;
                    }
                }
            }
        }
        if (!(minErr < SEARCH_ERROR_START)) {
            // No rotation of the sweep gave an error below the start value
            // (every error infinite or NaN, say): there is nothing to return.
            return poseFailure(PoseStatus::BrokeDown);
        }
        if (bestOffset[0] == 0 && bestOffset[1] == 0 && bestOffset[2] == 0) {
            step *= 0.5;
        }
        centre[0] = best[0];
        centre[1] = best[1];
        centre[2] = best[2];
    }
    double rotation[3][3];
    arAnglesToRotation(best[0], best[1], best[2], rotation);
    return PoseFit{PoseStatus::Ok, arPoseOf(rotation, t), minErr / n};
}
