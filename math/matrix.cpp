#include "math/matrix.h"

#include <cmath>

MathStatus arMatrixMultiply(Matrix* dest, const Matrix* a, const Matrix* b) {
    if (b->rows != a->cols || dest->rows != a->rows || dest->cols != b->cols) {
        return MathStatus::BadShape;
    }
    for (int i = 0; i < a->rows; i++) {
        for (int j = 0; j < b->cols; j++) {
            double sum = 0.0;
            for (int k = 0; k < a->cols; k++) {
                sum += a->data[i * a->cols + k] * b->data[k * b->cols + j];
            }
            dest->data[i * dest->cols + j] = sum;
        }
    }
    return MathStatus::Ok;
}

MathStatus arMatrixInvertInPlace(Matrix* m) {
    return arGaussJordanInvert(m->data, m->rows, m->rows);
}

namespace {

void swapValues(double& a, double& b) {
    const double t = a;
    a = b;
    b = t;
}

// Row of the largest |a(i, 0)| among rows k ... n-1 (first of equals), and
// that magnitude; the magnitude stays 0 when every candidate is 0.
int findPivotRow(const double* a, int n, int stride, int k, double* magnitude) {
    int row = k;
    double best = 0.0;
    for (int i = k; i < n; i++) {
        const double candidate = std::fabs(a[i * stride]);
        if (best < candidate) {
            best = candidate;
            row = i;
        }
    }
    *magnitude = best;
    return row;
}

void swapRows(double* a, int n, int stride, int r1, int r2) {
    for (int j = 0; j < n; j++) {
        swapValues(a[r1 * stride + j], a[r2 * stride + j]);
    }
}

void swapColumns(double* a, int n, int stride, int c1, int c2) {
    for (int i = 0; i < n; i++) {
        swapValues(a[i * stride + c1], a[i * stride + c2]);
    }
}

// One elimination step on pivot row k: every row moves one place to the
// left and its last element becomes the new column of the inverse.
void eliminateWithPivotRow(double* a, int n, int stride, int k) {
    double* pivotRow = a + k * stride;
    const double v = pivotRow[0];
    for (int j = 1; j < n; j++) {
        pivotRow[j - 1] = pivotRow[j] / v;
    }
    pivotRow[n - 1] = 1.0 / v;

    for (int i = 0; i < n; i++) {
        if (i == k) {
            continue;
        }
        double* row = a + i * stride;
        const double t = row[0];
        for (int j = 1; j < n; j++) {
            row[j - 1] = row[j] - t * pivotRow[j - 1];
        }
        row[n - 1] = -t * pivotRow[n - 1];
    }
}

// Undoes the row exchanges recorded in `order` by exchanging columns.
void unpermuteColumns(double* a, int n, int stride, int* order) {
    for (int j = 0; j < n; j++) {
        int i = j;
        while (i < n && order[i] != j) {
            i++;
        }
        order[i] = order[j];
        swapColumns(a, n, stride, i, j);
    }
}

}  // namespace

MathStatus arGaussJordanInvert(double* a, int n, int stride) {
    if (n < 1 || n > GAUSS_JORDAN_MAX) {
        return MathStatus::BadShape;
    }
    if (n == 1) {
        a[0] = 1.0 / a[0];
        return MathStatus::Ok;
    }

    int order[GAUSS_JORDAN_MAX];
    for (int i = 0; i < n; i++) {
        order[i] = i;
    }

    for (int k = 0; k < n; k++) {
        double magnitude = 0.0;
        const int p = findPivotRow(a, n, stride, k, &magnitude);
        if (magnitude <= PIVOT_FLOOR) {
            return MathStatus::Singular;
        }
        const int entry = order[k];
        order[k] = order[p];
        order[p] = entry;
        swapRows(a, n, stride, k, p);
        eliminateWithPivotRow(a, n, stride, k);
    }

    unpermuteColumns(a, n, stride, order);
    return MathStatus::Ok;
}

MathStatus arInvert3x3(const double a[3][3], double inverse[3][3]) {
    const double c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
    const double c01 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
    const double c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
    const double det = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
    if (det == 0.0 || !std::isfinite(det)) {
        return MathStatus::Singular;
    }
    const double inv = 1.0 / det;
    inverse[0][0] = c00 * inv;
    inverse[1][0] = c01 * inv;
    inverse[2][0] = c02 * inv;
    inverse[0][1] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) * inv;
    inverse[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) * inv;
    inverse[2][1] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) * inv;
    inverse[0][2] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) * inv;
    inverse[1][2] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) * inv;
    inverse[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) * inv;
    return MathStatus::Ok;
}

Pose arPoseInvert(const Pose& pose) {
    double work[4 * 4];
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 4; j++) {
            work[i * 4 + j] = pose.m[i][j];
        }
    }
    work[12] = 0.0;
    work[13] = 0.0;
    work[14] = 0.0;
    work[15] = 1.0;

    // A rigid transformation always inverts.
    Matrix m{work, 4, 4};
    arMatrixInvertInPlace(&m);

    Pose inverse;
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 4; j++) {
            inverse.m[i][j] = work[i * 4 + j];
        }
    }
    return inverse;
}

Pose arPoseOf(const double R[3][3], const double t[3]) {
    Pose pose;
    for (int j = 0; j < 3; j++) {
        for (int k = 0; k < 3; k++) {
            pose.m[j][k] = R[j][k];
        }
        pose.m[j][3] = t[j];
    }
    return pose;
}

Pose arPoseCompose(const Pose& second, const Pose& first) {
    Pose out;
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 4; j++) {
            double v = j == 3 ? second.m[i][3] : 0.0;
            for (int k = 0; k < 3; k++) {
                v += second.m[i][k] * first.m[k][j];
            }
            out.m[i][j] = v;
        }
    }
    return out;
}

void arPoseRotation(const Pose& pose, double R[3][3]) {
    for (int j = 0; j < 3; j++) {
        for (int k = 0; k < 3; k++) {
            R[j][k] = pose.m[j][k];
        }
    }
}

void arPoseTranslation(const Pose& pose, double t[3]) {
    for (int j = 0; j < 3; j++) {
        t[j] = pose.m[j][3];
    }
}

void arPoseApply(const Pose& pose, const double p[3], double out[3]) {
    for (int j = 0; j < 3; j++) {
        const double(&row)[4] = pose.m[j];
        out[j] = row[0] * p[0] + row[1] * p[1] + row[2] * p[2] + row[3];
    }
}

void arPoseApplyPlane(const Pose& pose, double x, double y, double out[3]) {
    for (int j = 0; j < 3; j++) {
        out[j] = pose.m[j][0] * x + pose.m[j][1] * y + pose.m[j][3];
    }
}

void arPoseRotateBack(const Pose& pose, const double v[3], double out[3]) {
    for (int k = 0; k < 3; k++) {
        out[k] = pose.m[0][k] * v[0] + pose.m[1][k] * v[1] + pose.m[2][k] * v[2];
    }
}

double arPoseTurnBetween(const Pose& a, const Pose& b) {
    double trace = 0.0;  // of Ra^T Rb
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++)
            trace += a.m[r][c] * b.m[r][c];
    return std::acos(std::fmax(-1.0, std::fmin(1.0, 0.5 * (trace - 1.0))));
}
