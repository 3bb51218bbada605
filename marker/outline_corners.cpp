#include "marker/outline_corners.h"

int arFarthestFromStart(const MarkerCandidate& c) {
    int best = 0;
    int bestDistance = 0;
    for (int i = 1; i < c.pointCount - 1; i++) {
        const int dx = c.contourX[i] - c.contourX[0];
        const int dy = c.contourY[i] - c.contourY[0];
        const int distance = dx * dx + dy * dy;
        if (distance > bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

MarkerStatus arFindVertices(const int32_t* xs, const int32_t* ys, int s, int e, double threshold,
                            int* corners, int* cornerCount, int capacity) {
    const int ia = ys[e] - ys[s];
    const int ib = xs[s] - xs[e];
    const int ic = xs[e] * ys[s] - ys[e] * xs[s];
    const double a = ia;
    const double b = ib;
    const double c = ic;
    int v = 0;
    double farthest = 0.0;
    for (int i = s + 1; i < e; i++) {
        const double d = a * xs[i] + b * ys[i] + c;
        if (d * d > farthest) {
            farthest = d * d;
            v = i;
        }
    }
    if (farthest / (a * a + b * b) > threshold) {
        if (arFindVertices(xs, ys, s, v, threshold, corners, cornerCount, capacity) !=
            MarkerStatus::Ok) {
            return MarkerStatus::NotASquare;
        }
        if (*cornerCount > capacity - 1) {
            return MarkerStatus::NotASquare;
        }
        corners[(*cornerCount)++] = v;
        if (arFindVertices(xs, ys, v, e, threshold, corners, cornerCount, capacity) !=
            MarkerStatus::Ok) {
            return MarkerStatus::NotASquare;
        }
    }
    return MarkerStatus::Ok;
}

void arSetCorners(MarkerCandidate* c, int c1, int c2, int c3) {
    c->cornerIndex[0] = 0;
    c->cornerIndex[1] = c1;
    c->cornerIndex[2] = c2;
    c->cornerIndex[3] = c3;
    c->cornerIndex[4] = c->pointCount - 1;
    c->interruption[0] = 0;
    c->interruption[1] = -1;
}
