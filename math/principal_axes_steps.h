#pragma once

// Steps of arMatrixPrincipalAxes, for its own file and its tests only.

#include "math/matrix.h"

// out = x * x^T
MathStatus arMatrixRowProducts(const Matrix* x, Matrix* out);
// out = x^T * x
MathStatus arMatrixColumnProducts(const Matrix* x, Matrix* out);
// Eigenvectors of x^T x from those (u) of x x^T.
MathStatus arLiftEigenvectors(const Matrix* x, const Matrix* u, Matrix* evec, Vector* ev);
// Principal axes of centred data x (r x c) into evec (m x c), m = min(r, c),
// through the product matrix `products` (m x m) and `work` (at least m long).
MathStatus arEigenAxes(const Matrix* x, Matrix* evec, Vector* ev, Matrix* products, Vector* work);
