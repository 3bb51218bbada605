// Principal component analysis of the rows of a data matrix: centring, the
// smaller of the two products x x^T and x^T x, its eigen decomposition, and
// unit axes with their shares of the total variance.

#include "math/principal_axes.h"

#include "math/principal_axes_steps.h"

#include <climits>
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

int columnMean(const Matrix* x, Vector* mean) {
    if (x->rows < 1 || x->cols < 1 || mean->length != x->cols) {
        return -1;
    }
    for (int j = 0; j < x->cols; j++) {
        double sum = 0.0;
        for (int i = 0; i < x->rows; i++) {
            sum += at(x, i, j);
        }
        mean->data[j] = sum / x->rows;
    }
    return 0;
}

int centreColumns(Matrix* x, const Vector* mean) {
    if (mean->length != x->cols) {
        return -1;
    }
    for (int i = 0; i < x->rows; i++) {
        for (int j = 0; j < x->cols; j++) {
            at(x, i, j) -= mean->data[j];
        }
    }
    return 0;
}

}  // namespace

int arMatrixRowProducts(const Matrix* x, Matrix* out) {
    if (out->rows != x->rows || out->cols != x->rows) {
        return -1;
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
    return 0;
}

int arMatrixColumnProducts(const Matrix* x, Matrix* out) {
    if (out->rows != x->cols || out->cols != x->cols) {
        return -1;
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
    return 0;
}

int arLiftEigenvectors(const Matrix* x, const Matrix* u, Matrix* evec, Vector* ev) {
    const int r = x->rows;
    const int c = x->cols;
    if (r < 1 || c < 1 || u->rows != r || u->cols != r || evec->rows != r || evec->cols != c ||
        ev->length != r) {
        return -1;
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
    return 0;
}

int arEigenAxes(const Matrix* x, Matrix* evec, Vector* ev, Matrix* products, Vector* work) {
    const int r = x->rows;
    const int c = x->cols;
    const int m = r < c ? r : c;
    if (r < 2 || c < 2 || evec->cols != c || evec->rows != m || ev->length != m ||
        products->rows != m || products->cols != m) {
        return -1;
    }
    Matrix* u = products;
    const bool throughRows = c > r;
    int status = throughRows ? arMatrixRowProducts(x, u) : arMatrixColumnProducts(x, u);
    if (status == 0) {
        status = arSymmetricEigen(u, ev, work);
    }
    if (status == 0) {
        if (throughRows) {
            status = arLiftEigenvectors(x, u, evec, ev);
        } else {
            const int kept = zeroNegligibleAxes(evec, ev);
            copyRows(u, evec, kept);
        }
    }
    return status == 0 ? 0 : -1;
}

int arPrincipalAxesScratchLength(int rows, int cols) {
    const long long m = rows < cols ? rows : cols;
    const long long length = static_cast<long long>(rows) * cols + m * m + m;
    return rows < 0 || cols < 0 || length > INT_MAX ? -1 : static_cast<int>(length);
}

int arMatrixPrincipalAxes(const Matrix* x, Matrix* evec, Vector* ev, Vector* mean,
                          PrincipalAxesScratch scratch) {
    const int r = x->rows;
    const int c = x->cols;
    const int m = r < c ? r : c;
    if (r < 2 || c < 2 || evec->cols != c || evec->rows != m || ev->length != m ||
        mean->length != c) {
        return -1;
    }
    const int needed = arPrincipalAxesScratchLength(r, c);
    if (needed < 0 || scratch.length < needed) {
        return -1;
    }
    Matrix w{scratch.data, r, c};
    Matrix products{scratch.data + r * c, m, m};
    Vector work{products.data + m * m, m};
    for (int i = 0; i < r * c; i++) {
        w.data[i] = x->data[i];
    }
    if (columnMean(&w, mean) < 0 || centreColumns(&w, mean) < 0) {
        return -1;
    }
    const double scale = std::sqrt(static_cast<double>(r));
    for (int i = 0; i < r * c; i++) {
        w.data[i] /= scale;
    }

    if (arEigenAxes(&w, evec, ev, &products, &work) < 0) {
        return -1;
    }

    double total = 0.0;
    for (int i = 0; i < m; i++) {
        total += ev->data[i];
    }
    // Points that all coincide have no variance to share out (and no axis).
    if (total == 0.0) {
        return -1;
    }
    for (int i = 0; i < m; i++) {
        ev->data[i] /= total;
    }
    return 0;
}
