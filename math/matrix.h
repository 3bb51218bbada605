#pragma once

// Small dense matrices and vectors of doubles: views over arrays their user
// holds, so that nothing here allocates. Operations that can fail return 0 or
// -1; a failed shape check leaves every argument unchanged.

struct Matrix {
    double* data;  // rows * cols values, row by row; element (i, j) at i * cols + j
    int rows;
    int cols;
};

struct Vector {
    double* data;
    int length;
};

// Smallest pivot magnitude the Gauss-Jordan inversion accepts.
inline constexpr double PIVOT_FLOOR = 1e-10;
// Largest dimension the Gauss-Jordan inversion handles (its permutation record).
inline constexpr int GAUSS_JORDAN_MAX = 50;

// dest = a * b; dest must be a different matrix from a and b.
int arMatrixMultiply(Matrix* dest, const Matrix* a, const Matrix* b);
// Inverts m (square, m->rows as dimension and stride) in place; -1 if singular.
int arMatrixInvertInPlace(Matrix* m);
// Inverts the n x n matrix at `a` (element (i, j) at i * stride + j) in place;
// -1 for n outside 1..GAUSS_JORDAN_MAX (`a` untouched) or a pivot not above
// PIVOT_FLOOR (`a` then partly transformed).
int arGaussJordanInvert(double* a, int n, int stride);

// A rigid transformation [R | t] by value: R the left 3x3 block of m, t its
// last column; a point p goes to R p + t. A marker pose maps marker
// coordinates into camera coordinates. A plain struct of one array: it copies
// and compares bytewise.
struct Pose {
    double m[3][4];
};

// Inverse of the rigid transformation.
Pose arPoseInvert(const Pose& pose);
