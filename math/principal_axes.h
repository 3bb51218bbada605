#pragma once

#include "math/matrix.h"
#include "math/symmetric_eigen.h"

// Full principal component analysis of the rows of x (left unchanged): unit
// axes by decreasing spread into evec (m x c, m = min(rows, cols)), their
// shares of the variance into ev (length m), and the mean into mean (length
// c). -1 on bad shapes, too few rows, or points that all coincide.
int arMatrixPrincipalAxes(const Matrix* x, Matrix* evec, Vector* ev, Vector* mean);
