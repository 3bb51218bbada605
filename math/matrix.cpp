#include "math/matrix.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

// Room for `count` doubles; at least one so that an empty matrix or vector
// still has an array of its own.
double* allocateDoubles(int count) {
    const std::size_t n = count > 0 ? static_cast<std::size_t>(count) : 1;
    return static_cast<double*>(std::malloc(n * sizeof(double)));
}

void swapValues(double& a, double& b) {
    const double t = a;
    a = b;
    b = t;
}

// Copies src into dest of the same shape; -1 (dest untouched) for another shape.
int assignMatrix(Matrix* dest, const Matrix* src) {
    if (dest->rows != src->rows || dest->cols != src->cols) {
        return -1;
    }
    const int count = src->rows * src->cols;
    for (int i = 0; i < count; i++) {
        dest->data[i] = src->data[i];
    }
    return 0;
}

}  // namespace

Matrix* arMatrixCreate(int rows, int cols) {
    if (rows < 0 || cols < 0) {
        return nullptr;
    }
    const long long count = static_cast<long long>(rows) * cols;
    if (count > INT_MAX) {
        return nullptr;
    }
    Matrix* m = static_cast<Matrix*>(std::malloc(sizeof(Matrix)));
    if (m == nullptr) {
        return nullptr;
    }
    m->data = allocateDoubles(static_cast<int>(count));
    if (m->data == nullptr) {
        std::free(m);
        return nullptr;
    }
    m->rows = rows;
    m->cols = cols;
    return m;
}

int arMatrixDestroy(Matrix* m) {
    if (m != nullptr) {
        std::free(m->data);
        std::free(m);
    }
    return 0;
}

Matrix* arMatrixClone(const Matrix* src) {
    Matrix* dest = arMatrixCreate(src->rows, src->cols);
    if (dest == nullptr) {
        return nullptr;
    }
    if (assignMatrix(dest, src) < 0) {
        arMatrixDestroy(dest);
        return nullptr;
    }
    return dest;
}

int arMatrixMultiply(Matrix* dest, const Matrix* a, const Matrix* b) {
    if (b->rows != a->cols || dest->rows != a->rows || dest->cols != b->cols) {
        return -1;
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
    return 0;
}

int arMatrixInvertInPlace(Matrix* m) {
    if (arGaussJordanInvert(m->data, m->rows, m->rows) == nullptr) {
        return -1;
    }
    return 0;
}

namespace {

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

double* arGaussJordanInvert(double* a, int n, int stride) {
    if (n < 1 || n > GAUSS_JORDAN_MAX) {
        return nullptr;
    }
    if (n == 1) {
        a[0] = 1.0 / a[0];
        return a;
    }

    int order[GAUSS_JORDAN_MAX];
    for (int i = 0; i < n; i++) {
        order[i] = i;
    }

    for (int k = 0; k < n; k++) {
        double magnitude = 0.0;
        const int p = findPivotRow(a, n, stride, k, &magnitude);
        if (magnitude <= PIVOT_FLOOR) {
            return nullptr;
        }
        const int entry = order[k];
        order[k] = order[p];
        order[p] = entry;
        swapRows(a, n, stride, k, p);
        eliminateWithPivotRow(a, n, stride, k);
    }

    unpermuteColumns(a, n, stride, order);
    return a;
}

Vector* arVectorCreate(int length) {
    if (length < 0) {
        return nullptr;
    }
    Vector* v = static_cast<Vector*>(std::malloc(sizeof(Vector)));
    if (v == nullptr) {
        return nullptr;
    }
    v->data = allocateDoubles(length);
    if (v->data == nullptr) {
        std::free(v);
        return nullptr;
    }
    v->length = length;
    return v;
}

int arVectorDestroy(Vector* v) {
    if (v != nullptr) {
        std::free(v->data);
        std::free(v);
    }
    return 0;
}

double arVectorDot(const Vector* a, const Vector* b) {
    if (a->length != b->length) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    double sum = 0.0;
    for (int i = 0; i < a->length; i++) {
        sum += a->data[i] * b->data[i];
    }
    return sum;
}

int arPoseInvert(const double in[3][4], double out[3][4]) {
    // The 4 x 4 working copy lives on the stack: same arithmetic as a heap
    // matrix, and no allocation that could fail.
    double work[4 * 4];
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 4; j++) {
            work[i * 4 + j] = in[i][j];
        }
    }
    work[12] = 0.0;
    work[13] = 0.0;
    work[14] = 0.0;
    work[15] = 1.0;

    Matrix m{work, 4, 4};
    arMatrixInvertInPlace(&m);

    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 4; j++) {
            out[i][j] = work[i * 4 + j];
        }
    }
    return 0;
}
