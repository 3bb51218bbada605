#pragma once

#include "math/matrix.h"

// Relative size below which an off-diagonal element counts as zero.
inline constexpr double QR_CONVERGENCE = 1e-6;
// Most QR sweeps spent on one eigenvalue.
inline constexpr int QR_MAX_SWEEPS = 100;
// Eigenvalues below it count as zero; also the smallest |x| a rotation is formed from.
inline constexpr double EIGEN_VALUE_FLOOR = 1e-16;

// Eigenvalues of symmetric a (upper triangle read) into d, descending;
// eigenvectors into a's rows; `work` (at least a's dimension long) holds the
// off-diagonal on the way. BadShape for a not square, below 2 x 2, d of
// another length or work too short.
MathStatus arSymmetricEigen(Matrix* a, Vector* d, Vector* work);
