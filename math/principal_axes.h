#pragma once

#include "math/matrix.h"
#include "math/symmetric_eigen.h"

// Room held by the caller for the intermediate values of a principal
// component analysis, so that one allocates nothing: for r x c data (m =
// min(r, c)), r * c doubles of centred data, then m * m of the product
// matrix, then m of the eigen decomposition's off-diagonal.
struct PrincipalAxesScratch {
    double* data;
    int length;
};

// The doubles PrincipalAxesScratch needs for rows x cols data (rows and cols
// not negative).
long long arPrincipalAxesScratchLength(int rows, int cols);

// Full principal component analysis of the rows of x (left unchanged): unit
// axes by decreasing spread into evec (m x c, m = min(rows, cols)), their
// shares of the variance into ev (length m), and the mean into mean (length
// c). BadShape for shapes that do not fit, fewer than two rows or columns, or
// a scratch too short; Singular when the points all coincide.
MathStatus arMatrixPrincipalAxes(const Matrix* x, Matrix* evec, Vector* ev, Vector* mean,
                                 PrincipalAxesScratch scratch);
