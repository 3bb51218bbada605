#pragma once

// Rotations as rotation vectors: the axis times the angle in radians.

// exp([w]x) R: R turned by the rotation vector w (about the axes R maps to).
void arTurnRotation(const double R[3][3], const double w[3], double out[3][3]);

// The rotation vector of R (its angle in 0..pi), so that
// arTurnRotation(I, w) gives R back.
void arRotationVector(const double R[3][3], double w[3]);
