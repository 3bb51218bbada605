#pragma once

// A point in image coordinates: x to the right, y downwards, (0, 0) the
// top-left pixel. Whether it is observed (with lens distortion) or ideal
// (distortion removed) is said by whoever holds it.
struct ImagePoint {
    double x;
    double y;
};
