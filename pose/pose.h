#pragma once

// A rigid transformation [R | t] by value: R the left 3x3 block of m, t its
// last column; a point p goes to R p + t. A marker pose maps marker
// coordinates into camera coordinates. A plain struct of one array: it copies
// and compares bytewise, and `pose.m` goes wherever a double[3][4] is taken.
struct Pose {
    double m[3][4];
};

// The two ways a pose can fail; either way the pose is left untouched.
// The marker gives no pose to start from: a direction outside 0..3, or edges
// without a first rotation.
inline constexpr double POSE_NO_START = -1.0;
// The computation broke down on the way: a singular translation fit, a
// rotation search without a finite error, or a value that is not finite.
inline constexpr double POSE_BROKE_DOWN = -2.0;
