#pragma once

#include "math/matrix.h"

// Relative size below which an off-diagonal element counts as zero.
inline constexpr double QR_CONVERGENCE = 1e-6;
// Most QR sweeps spent on one eigenvalue.
inline constexpr int QR_MAX_SWEEPS = 100;
// Eigenvalues below it count as zero; also the smallest |x| a rotation is formed from.
inline constexpr double EIGEN_VALUE_FLOOR = 1e-16;

// Turns x into a Householder vector in place; returns minus the signed norm.
double arHouseholderReflect(Vector* x);
// Householder reduction of symmetric a (upper triangle read) to tridiagonal
// d / e; a is replaced by the accumulated transformation.
int arReduceTridiagonal(Matrix* a, Vector* d, Vector* e);
// Eigenvalues of symmetric a into d, descending; eigenvectors into a's rows.
int arSymmetricEigen(Matrix* a, Vector* d);

int arMatrixColumnMean(const Matrix* x, Vector* mean);
int arMatrixCentre(Matrix* x, const Vector* mean);
// out = x * x^T
int arMatrixRowProducts(const Matrix* x, Matrix* out);
// out = x^T * x
int arMatrixColumnProducts(const Matrix* x, Matrix* out);
// Eigenvectors of x^T x from those (u) of x x^T.
int arLiftEigenvectors(const Matrix* x, const Matrix* u, Matrix* evec, Vector* ev);
// Principal axes of centred data x (r x c) into evec (m x c), m = min(r, c).
int arEigenAxes(const Matrix* x, Matrix* evec, Vector* ev);
// Full principal component analysis of the rows of x (left unchanged): unit
// axes by decreasing spread, their shares of the variance, and the mean.
// -1 on bad shapes, too few rows, or points that all coincide.
int arMatrixPrincipalAxes(const Matrix* x, Matrix* evec, Vector* ev, Vector* mean);
