// Principal component analysis of the rows of a data matrix: centring, the
// smaller of the two products x x^T and x^T x, its eigen decomposition, and
// unit axes with their shares of the total variance.

#include "math/principal_axes.h"

#include "math/principal_axes_steps.h"

#include <cmath>

namespace {

double& at(Matrix* m, int i, int j) {
    return m->data[i * m->cols + j];
}
double at(const Matrix* m, int i, int j) {
    return m->data[i * m->cols + j];
}

// From the first eigenvalue below the floor on, every eigenvalue becomes 0
// and its axis a row of zeros; returns that first index.
int zeroNegligibleAxes(Matrix* evec, Vector* ev) {
    int first = 0;
    while (first < ev->length && ev->data[first] >= EIGEN_VALUE_FLOOR) {
        first++;
    }
    for (int i = first; i < ev->length; i++) {
        ev->data[i] = 0.0;
        for (int j = 0; j < evec->cols; j++) {
            at(evec, i, j) = 0.0;
        }
    }
    return first;
}

void copyRows(const Matrix* from, Matrix* to, int rows) {
    for (int i = 0; i < rows; i++) {
        for (int j = 0; j < to->cols; j++) {
            at(to, i, j) = at(from, i, j);
        }
    }
}

MathStatus columnMean(const Matrix* x, Vector* mean) {
    if (x->rows < 1 || x->cols < 1 || mean->length != x->cols) {
        return MathStatus::BadShape;
    }
    for (int j = 0; j < x->cols; j++) {
        double sum = 0.0;
        for (int i = 0; i < x->rows; i++) {
            sum += at(x, i, j);
        }
        mean->data[j] = sum / x->rows;
    }
    return MathStatus::Ok;
}

MathStatus centreColumns(Matrix* x, const Vector* mean) {
    if (mean->length != x->cols) {
        return MathStatus::BadShape;
    }
    for (int i = 0; i < x->rows; i++) {
        for (int j = 0; j < x->cols; j++) {
            at(x, i, j) -= mean->data[j];
        }
    }
    return MathStatus::Ok;
}

}  // namespace

MathStatus arMatrixRowProducts(const Matrix* x, Matrix* out) {
    if (out->rows != x->rows || out->cols != x->rows) {
        return MathStatus::BadShape;
    }
    for (int i = 0; i < x->rows; i++) {
        for (int j = 0; j < i; j++) {
            at(out, i, j) = at(out, j, i);
        }
        for (int j = i; j < x->rows; j++) {
            double sum = 0.0;
            for (int k = 0; k < x->cols; k++) {
                sum += at(x, i, k) * at(x, j, k);
            }
            at(out, i, j) = sum;
        }
    }
    return MathStatus::Ok;
}

MathStatus arMatrixColumnProducts(const Matrix* x, Matrix* out) {
    if (out->rows != x->cols || out->cols != x->cols) {
        return MathStatus::BadShape;
    }
    for (int i = 0; i < x->cols; i++) {
        for (int j = 0; j < i; j++) {
            at(out, i, j) = at(out, j, i);
        }
        for (int j = i; j < x->cols; j++) {
            double sum = 0.0;
            for (int k = 0; k < x->rows; k++) {
                sum += at(x, k, i) * at(x, k, j);
            }
            at(out, i, j) = sum;
        }
    }
    return MathStatus::Ok;
}

MathStatus arLiftEigenvectors(const Matrix* x, const Matrix* u, Matrix* evec, Vector* ev) {
    const int r = x->rows;
    const int c = x->cols;
    if (r < 1 || c < 1 || u->rows != r || u->cols != r || evec->rows != r || evec->cols != c ||
        ev->length != r) {
        return MathStatus::BadShape;
    }
    // x^T u_i has squared length lambda_i; dividing by its root makes it unit.
    for (int i = 0; i < r && ev->data[i] >= EIGEN_VALUE_FLOOR; i++) {
        const double w = 1.0 / std::sqrt(std::fabs(ev->data[i]));
        for (int j = 0; j < c; j++) {
            double sum = 0.0;
            for (int k = 0; k < r; k++) {
                sum += at(u, i, k) * at(x, k, j);
            }
            at(evec, i, j) = w * sum;
        }
    }
    zeroNegligibleAxes(evec, ev);
    return MathStatus::Ok;
}

MathStatus arEigenAxes(const Matrix* x, Matrix* evec, Vector* ev, Matrix* products, Vector* work) {
    const int r = x->rows;
    const int c = x->cols;
    const int m = r < c ? r : c;
    if (r < 2 || c < 2 || evec->cols != c || evec->rows != m || ev->length != m ||
        products->rows != m || products->cols != m) {
        return MathStatus::BadShape;
    }
    Matrix* u = products;
    const bool throughRows = c > r;
    MathStatus status = throughRows ? arMatrixRowProducts(x, u) : arMatrixColumnProducts(x, u);
    if (status == MathStatus::Ok) {
        status = arSymmetricEigen(u, ev, work);
    }
    if (status == MathStatus::Ok) {
        if (throughRows) {
            status = arLiftEigenvectors(x, u, evec, ev);
        } else {
            const int kept = zeroNegligibleAxes(evec, ev);
            copyRows(u, evec, kept);
        }
    }
    return status;
}

long long arPrincipalAxesScratchLength(int rows, int cols) {
    const long long m = rows < cols ? rows : cols;
    return static_cast<long long>(rows) * cols + m * m + m;
}

MathStatus arMatrixPrincipalAxes(const Matrix* x, Matrix* evec, Vector* ev, Vector* mean,
                                 PrincipalAxesScratch scratch) {
    const int r = x->rows;
    const int c = x->cols;
    const int m = r < c ? r : c;
    if (r < 2 || c < 2 || evec->cols != c || evec->rows != m || ev->length != m ||
        mean->length != c || scratch.length < arPrincipalAxesScratchLength(r, c)) {
        return MathStatus::BadShape;
    }
    Matrix w{scratch.data, r, c};
    Matrix products{scratch.data + r * c, m, m};
    Vector work{products.data + m * m, m};
    for (int i = 0; i < r * c; i++) {
        w.data[i] = x->data[i];
    }
    if (columnMean(&w, mean) != MathStatus::Ok || centreColumns(&w, mean) != MathStatus::Ok) {
        return MathStatus::BadShape;
    }
    const double scale = std::sqrt(static_cast<double>(r));
    for (int i = 0; i < r * c; i++) {
        w.data[i] /= scale;
    }

    const MathStatus axes = arEigenAxes(&w, evec, ev, &products, &work);
    if (axes != MathStatus::Ok) {
        return axes;
    }

    double total = 0.0;
    for (int i = 0; i < m; i++) {
        total += ev->data[i];
    }
    // Points that all coincide have no variance to share out (and no axis).
    if (total == 0.0) {
        return MathStatus::Singular;
    }
    for (int i = 0; i < m; i++) {
        ev->data[i] /= total;
    }
    return MathStatus::Ok;
}
