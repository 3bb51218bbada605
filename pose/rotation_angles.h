#pragma once

// Conversion between a rotation matrix and its three angles (a, b, c) in
// radians, with R = Rz(a) * Ry(b) * Rz(c - a): b in [0, pi], a and c in [-pi, pi].

// Writes the angles of R, taking R[2][2] as clamped into [-1, 1].
void arRotationToAngles(const double R[3][3], double* a, double* b, double* c);
void arAnglesToRotation(double a, double b, double c, double R[3][3]);
