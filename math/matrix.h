#pragma once

// Small dense matrices and vectors of doubles: views over arrays their user
// holds, so that nothing here allocates; the 3x3 inverse; the rigid
// transformation Pose and what is done with it. Every operation that can fail
// returns a MathStatus; a failed shape check leaves every argument unchanged.

// How a math operation ended: the one failure type of math/.
enum class MathStatus {
    Ok,
    // Shapes or sizes that do not fit together, too few rows, or working room
    // too short: every argument is left unchanged.
    BadShape,
    // There is no answer: a pivot not above PIVOT_FLOOR, a determinant of 0 or
    // not finite, exactly parallel lines, points that all coincide.
    Singular,
};

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
MathStatus arMatrixMultiply(Matrix* dest, const Matrix* a, const Matrix* b);
// Inverts m (square, m->rows as dimension and stride) in place.
MathStatus arMatrixInvertInPlace(Matrix* m);
// Inverts the n x n matrix at `a` (element (i, j) at i * stride + j) in place;
// BadShape for n outside 1..GAUSS_JORDAN_MAX (`a` untouched), Singular for a
// pivot not above PIVOT_FLOOR (`a` then partly transformed).
MathStatus arGaussJordanInvert(double* a, int n, int stride);

// The inverse of `a` by cofactors into `inverse` (another array); Singular,
// with `inverse` untouched, when the determinant is 0 or not finite.
MathStatus arInvert3x3(const double a[3][3], double inverse[3][3]);

// A rigid transformation [R | t] by value: R the left 3x3 block of m, t its
// last column; a point p goes to R p + t. A marker pose maps marker
// coordinates into camera coordinates. A plain struct of one array: it copies
// and compares bytewise.
struct Pose {
    double m[3][4];
};

// Inverse of the rigid transformation.
Pose arPoseInvert(const Pose& pose);
// The transformation [R | t].
Pose arPoseOf(const double R[3][3], const double t[3]);
// The transformation that applies `second` after `first`: second o first.
Pose arPoseCompose(const Pose& second, const Pose& first);
// Its rotation R and its translation t.
void arPoseRotation(const Pose& pose, double R[3][3]);
void arPoseTranslation(const Pose& pose, double t[3]);
// Where it takes point p: R p + t.
void arPoseApply(const Pose& pose, const double p[3], double out[3]);
// Where it takes point (x, y, 0) of the marker's plane, without the z column.
void arPoseApplyPlane(const Pose& pose, double x, double y, double out[3]);
// The angle between the rotations of two transformations, radians (0..pi).
double arPoseTurnBetween(const Pose& a, const Pose& b);
// R^T v: a direction of the target space (the camera's, for a marker pose)
// seen in the source space.
void arPoseRotateBack(const Pose& pose, const double v[3], double out[3]);
