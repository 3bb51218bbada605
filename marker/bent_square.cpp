#include "marker/bent_square.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "marker/outline_corners.h"

namespace {

// Twice the signed area of the triangle of contour points a, b, d.
int64_t turn(const MarkerCandidate& c, int a, int b, int d) {
    const int64_t abx = c.contourX[b] - c.contourX[a], aby = c.contourY[b] - c.contourY[a];
    const int64_t bdx = c.contourX[d] - c.contourX[b], bdy = c.contourY[d] - c.contourY[b];
    return abx * bdy - aby * bdx;
}

// The length of the polygon's side from vertex k to the next (contour
// indices `corners`, `count` of them).
double sideLength(const MarkerCandidate& c, const int* corners, int count, int k) {
    const int a = corners[k], b = corners[(k + 1) % count];
    return std::hypot(c.contourX[b] - c.contourX[a], c.contourY[b] - c.contourY[a]);
}

// How far vertex k of the polygon `corners` turns the outline, its sides'
// lengths in `sides`: the sine of the angle between its two sides, negative
// where it turns against the outline's sense `sense`.
double turnSine(const MarkerCandidate& c, const int* corners, const double* sides, int count, int k,
                int sense) {
    const int before = (k + count - 1) % count;
    const int a = corners[before], b = corners[k], d = corners[(k + 1) % count];
    const double la = sides[before], ld = sides[k];
    return la * ld > 0.0 ? sense * static_cast<double>(turn(c, a, b, d)) / (la * ld) : -1.0;
}

// How many of contour points s..e lie within `tolerance` of the line
// through points p and q.
int pointsNearChord(const MarkerCandidate& c, int s, int e, int p, int q, double tolerance) {
    const double a = c.contourY[q] - c.contourY[p], b = c.contourX[p] - c.contourX[q];
    const double length = std::hypot(a, b);
    int on = 0;
    for (int i = s; i <= e; i++) {
        const double d = a * (c.contourX[i] - c.contourX[p]) + b * (c.contourY[i] - c.contourY[p]);
        on += std::fabs(d) <= tolerance * length;
    }
    return on;
}

// Whether each side's contour points (corner k to corner k + 1) lie mostly
// on a line: at least ROBUST_SIDE_ON_LINE of them within
// ROBUST_SIDE_TOLERANCE of the side's length (at least 1.5 pixels) of the
// chord between the corners, or of one from a corner to the middle (an
// object over the other corner).
bool sidesMostlyStraight(const MarkerCandidate& c, const int* corners) {
    for (int k = 0; k < 4; k++) {
        const int s = corners[k], e = k == 3 ? c.pointCount - 1 : corners[k + 1], m = (s + e) / 2;
        const double length =
            std::hypot(c.contourX[e] - c.contourX[s], c.contourY[e] - c.contourY[s]);
        const double tolerance = std::max(1.5, ROBUST_SIDE_TOLERANCE * length);
        const int on = std::max({pointsNearChord(c, s, e, s, e, tolerance),
                                 pointsNearChord(c, s, e, s, m, tolerance),
                                 pointsNearChord(c, s, e, m, e, tolerance)});
        if (on < ROBUST_SIDE_ON_LINE * (e - s + 1)) {
            return false;
        }
    }
    return true;
}

}  // namespace

MarkerStatus arCheckBentSquare(int area, MarkerCandidate* candidate, double factor) {
    MarkerCandidate& c = *candidate;
    const int n = c.pointCount;
    const int v = arFarthestFromStart(c);
    const double threshold = arCornerThreshold(area, factor);
    int corners[ROBUST_VERTEX_MAX];
    int count = 1;
    corners[0] = 0;
    if (v == 0 || arFindVertices(c.contourX, c.contourY, 0, v, threshold, corners, &count,
                                 ROBUST_VERTEX_MAX - 1) != MarkerStatus::Ok) {
        return MarkerStatus::NotASquare;
    }
    corners[count++] = v;
    if (arFindVertices(c.contourX, c.contourY, v, n - 1, threshold, corners, &count,
                       ROBUST_VERTEX_MAX) != MarkerStatus::Ok) {
        return MarkerStatus::NotASquare;
    }
    int64_t twiceArea = 0;
    for (int k = 0; k < count; k++) {
        const int a = corners[k], b = corners[(k + 1) % count];
        twiceArea += static_cast<int64_t>(c.contourX[a]) * c.contourY[b] -
                     static_cast<int64_t>(c.contourX[b]) * c.contourY[a];
    }
    const int sense = twiceArea > 0 ? 1 : -1;
    // The sides' lengths are measured once; dropping a vertex joins its two.
    double sides[ROBUST_VERTEX_MAX];
    for (int k = 0; k < count; k++)
        sides[k] = sideLength(c, corners, count, k);
    while (count >= 4) {
        int weakest = 0;
        double least = 2.0;
        for (int k = 0; k < count; k++) {
            const double t = turnSine(c, corners, sides, count, k, sense);
            if (t < least) {
                least = t;
                weakest = k;
            }
        }
        if (count == 4 && least >= ROBUST_TURN_MIN) {
            break;
        }
        std::copy(corners + weakest + 1, corners + count, corners + weakest);
        std::copy(sides + weakest + 1, sides + count, sides + weakest);
        count--;
        const int joined = (weakest + count - 1) % count;
        sides[joined] = sideLength(c, corners, count, joined);
    }
    if (count != 4 || !sidesMostlyStraight(c, corners)) {
        return MarkerStatus::NotASquare;
    }
    const int start = corners[0];
    std::rotate(c.contourX, c.contourX + start, c.contourX + n - 1);
    std::rotate(c.contourY, c.contourY + start, c.contourY + n - 1);
    c.contourX[n - 1] = c.contourX[0];
    c.contourY[n - 1] = c.contourY[0];
    arSetCorners(candidate, corners[1] - start, corners[2] - start, corners[3] - start);
    return MarkerStatus::Ok;
}
