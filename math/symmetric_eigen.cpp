// Eigen decomposition of a small symmetric matrix: Householder reduction to
// tridiagonal form, then implicit-shift QR sweeps, then a selection sort by
// decreasing eigenvalue. The order of every operation is fixed so that the
// results are the same on every machine.

#include <cmath>

#include "math/symmetric_eigen.h"

namespace {

// Sum of a[i] * b[i], i ascending, over vectors of equal length.
double dot(const Vector* a, const Vector* b) {
    double sum = 0.0;
    for (int i = 0; i < a->length; i++) {
        sum += a->data[i] * b->data[i];
    }
    return sum;
}

// A view of row `row` of square `a` from column `from` to the end.
Vector rowTail(Matrix* a, int row, int from) {
    return Vector{a->data + row * a->cols + from, a->cols - from};
}

void swapValues(double& a, double& b) {
    const double t = a;
    a = b;
    b = t;
}

void swapRows(Matrix* a, int r1, int r2) {
    for (int i = 0; i < a->cols; i++) {
        swapValues(a->data[r1 * a->cols + i], a->data[r2 * a->cols + i]);
    }
}

// Turns x into a Householder vector in place; returns minus the signed norm.
double householderReflect(Vector* x) {
    double s = std::sqrt(dot(x, x));
    if (s != 0.0) {
        if (x->data[0] < 0.0) {
            s = -s;
        }
        x->data[0] += s;
        const double w = 1.0 / std::sqrt(s * x->data[0]);
        for (int i = 0; i < x->length; i++) {
            x->data[i] *= w;
        }
    }
    return -s;
}

// Step k of the reduction: reflects row and column k of the trailing block
// so that only the element next to the diagonal remains.
void reduceRowAndColumn(Matrix* a, Vector* d, Vector* e, int k) {
    const int n = a->rows;
    double* m = a->data;
    double* dv = d->data;

    dv[k] = m[k * n + k];
    Vector v = rowTail(a, k, k + 1);
    e->data[k] = householderReflect(&v);
    if (e->data[k] == 0.0) {
        return;
    }

    // d[i] = (A v)[i] over the trailing block, reading only its upper triangle.
    for (int i = k + 1; i < n; i++) {
        double s = 0.0;
        for (int j = k + 1; j < i; j++) {
            s += m[j * n + i] * m[k * n + j];
        }
        for (int j = i; j < n; j++) {
            s += m[i * n + j] * m[k * n + j];
        }
        dv[i] = s;
    }

    Vector dTail{dv + k + 1, n - k - 1};
    const double t = dot(&v, &dTail) / 2.0;

    for (int i = n - 1; i > k; i--) {
        const double p = m[k * n + i];
        const double q = dv[i] - t * p;
        dv[i] = q;
        for (int j = i; j < n; j++) {
            m[i * n + j] -= p * dv[j] + q * m[k * n + j];
        }
    }
}

// Replaces a (holding the Householder vectors in its rows) by the product
// of the reflections, one basis vector per row.
void accumulateReflections(Matrix* a) {
    const int n = a->rows;
    double* m = a->data;
    for (int k = n - 1; k >= 0; k--) {
        if (k < n - 2) {
            Vector v = rowTail(a, k, k + 1);
            for (int i = k + 1; i < n; i++) {
                Vector row = rowTail(a, i, k + 1);
                const double t = dot(&v, &row);
                for (int j = k + 1; j < n; j++) {
                    m[i * n + j] -= t * m[k * n + j];
                }
            }
        }
        for (int j = 0; j < n; j++) {
            m[k * n + j] = 0.0;
        }
        m[k * n + k] = 1.0;
    }
}

// Householder reduction of symmetric a (upper triangle read) to tridiagonal
// d / e (a n x n with n >= 2, d n long, e n - 1 long); a is replaced by the
// accumulated transformation.
void reduceTridiagonal(Matrix* a, Vector* d, Vector* e) {
    const int n = a->rows;
    double* m = a->data;

    for (int k = 0; k < n - 2; k++) {
        reduceRowAndColumn(a, d, e, k);
    }
    d->data[n - 2] = m[(n - 2) * n + (n - 2)];
    e->data[n - 2] = m[(n - 2) * n + (n - 1)];
    d->data[n - 1] = m[(n - 1) * n + (n - 1)];
    accumulateReflections(a);
}

double offDiagonalTolerance(const double* d, int j) {
    return QR_CONVERGENCE * (std::fabs(d[j - 1]) + std::fabs(d[j]));
}

bool offDiagonalNegligible(const double* w, const double* d, int j) {
    return std::fabs(w[j]) <= offDiagonalTolerance(d, j);
}

// Lowest j <= h such that the block j ... h has no negligible off-diagonal
// element (w[0] is 0, so j stops at 0 at the latest). The step down is taken
// only on a definitely larger element, so a NaN ends the block.
int unreducedBlockStart(const double* w, const double* d, int h) {
    int j = h;
    while (j > 0 && std::fabs(w[j]) > offDiagonalTolerance(d, j)) {
        j--;
    }
    return j;
}

// Rotation (c, s) that annihilates y against x.
void planeRotation(double x, double y, double* c, double* s) {
    if (std::fabs(x) >= std::fabs(y)) {
        if (std::fabs(x) > EIGEN_VALUE_FLOOR) {
            const double u = -y / x;
            *c = 1.0 / std::sqrt(u * u + 1.0);
            *s = u * *c;
        } else {
            *c = 1.0;
            *s = 0.0;
        }
    } else {
        const double u = -x / y;
        *s = 1.0 / std::sqrt(u * u + 1.0);
        *c = u * *s;
    }
}

void rotateRows(Matrix* a, int k, double c, double s) {
    double* upper = a->data + k * a->cols;
    double* lower = upper + a->cols;
    for (int i = 0; i < a->cols; i++) {
        const double p = upper[i];
        const double q = lower[i];
        upper[i] = c * p - s * q;
        lower[i] = s * p + c * q;
    }
}

// One implicit-shift QR sweep over the tridiagonal block j ... h (diagonal
// d, off-diagonal w[j+1 ... h]), chasing the bulge down and applying each
// rotation to the rows of a.
void qrSweep(Matrix* a, double* d, double* w, int j, int h) {
    double t = (d[h - 1] - d[h]) / 2.0;
    double r = std::sqrt(t * t + w[h] * w[h]);
    if (t < 0.0) {
        r = -r;
    }
    double x = d[j] - d[h] + w[h] * w[h] / (t + r);
    double y = w[j + 1];

    for (int k = j; k < h; k++) {
        double c;
        double s;
        planeRotation(x, y, &c, &s);

        t = d[k] - d[k + 1];
        const double g = (t * s + 2.0 * c * w[k + 1]) * s;
        d[k] -= g;
        d[k + 1] += g;
        if (k > j) {
            w[k] = c * w[k] - s * y;
        }
        w[k + 1] += s * (c * t - 2.0 * s * w[k + 1]);

        rotateRows(a, k, c, s);

        if (k < h - 1) {
            x = w[k + 1];
            y = -s * w[k + 2];
            w[k + 2] = c * w[k + 2];
        }
    }
}

void diagonalise(Matrix* a, double* d, double* w) {
    const int n = a->rows;
    for (int h = n - 1; h > 0; h--) {
        const int j = unreducedBlockStart(w, d, h);
        if (j == h) {
            continue;
        }
        for (int sweep = 0; sweep < QR_MAX_SWEEPS; sweep++) {
            qrSweep(a, d, w, j, h);
            if (offDiagonalNegligible(w, d, h)) {
                break;
            }
        }
    }
}

// Selection sort by decreasing eigenvalue; equal values keep their order.
void sortDescending(Matrix* a, double* d) {
    const int n = a->rows;
    for (int j = 0; j < n - 1; j++) {
        int m = j;
        for (int i = j + 1; i < n; i++) {
            if (d[i] > d[m]) {
                m = i;
            }
        }
        swapValues(d[j], d[m]);
        swapRows(a, j, m);
    }
}

}  // namespace

MathStatus arSymmetricEigen(Matrix* a, Vector* d, Vector* work) {
    if (a->rows != a->cols || a->rows < 2 || d->length != a->rows || work->length < a->rows) {
        return MathStatus::BadShape;
    }
    const int n = a->rows;
    double* w = work->data;
    // w[i] is the off-diagonal element between rows i - 1 and i.
    Vector e{w + 1, n - 1};
    reduceTridiagonal(a, d, &e);
    w[0] = 0.0;

    diagonalise(a, d->data, w);
    sortDescending(a, d->data);
    return MathStatus::Ok;
}
