#pragma once

// Steps of arMatrixPrincipalAxes, for its own file and its tests only.

#include "math/matrix.h"

// out = x * x^T
int arMatrixRowProducts(const Matrix* x, Matrix* out);
// out = x^T * x
int arMatrixColumnProducts(const Matrix* x, Matrix* out);
// Eigenvectors of x^T x from those (u) of x x^T.
int arLiftEigenvectors(const Matrix* x, const Matrix* u, Matrix* evec, Vector* ev);
// Principal axes of centred data x (r x c) into evec (m x c), m = min(r, c).
int arEigenAxes(const Matrix* x, Matrix* evec, Vector* ev);
