#pragma once

// Small dense matrices and vectors of doubles, heap-allocated per call.
// Operations that can fail return 0 or -1; creators return null when memory
// runs out. A failed shape check leaves every argument unchanged.

struct Matrix {
    double* data;  // rows * cols values, row by row; element (i, j) at i * cols + j
    int rows;
    int cols;
};

// Either owns its array (made by arVectorCreate) or is a view into another
// array held by its user; views are never destroyed.
struct Vector {
    double* data;
    int length;
};

// Smallest pivot magnitude the Gauss-Jordan inversion accepts.
inline constexpr double PIVOT_FLOOR = 1e-10;
// Largest dimension the Gauss-Jordan inversion handles (its permutation record).
inline constexpr int GAUSS_JORDAN_MAX = 50;

Matrix* arMatrixCreate(int rows, int cols);
int arMatrixDestroy(Matrix* m);
Matrix* arMatrixClone(const Matrix* src);
// dest = a * b; dest must be a different matrix from a and b.
int arMatrixMultiply(Matrix* dest, const Matrix* a, const Matrix* b);
// Inverts m (square, m->rows as dimension and stride) in place; -1 if singular.
int arMatrixInvertInPlace(Matrix* m);
// Inverts the n x n matrix at `a` (element (i, j) at i * stride + j) in place;
// returns `a`, or null on failure (the array is then partly transformed).
double* arGaussJordanInvert(double* a, int n, int stride);

Vector* arVectorCreate(int length);
int arVectorDestroy(Vector* v);
// Sum of a[i] * b[i], i ascending; NaN when the lengths differ (a NaN then
// spreads through whatever is computed from it instead of ending the process).
double arVectorDot(const Vector* a, const Vector* b);

// Inverse of the rigid transformation [R | t]; `in` and `out` may be the same.
int arPoseInvert(const double in[3][4], double out[3][4]);
