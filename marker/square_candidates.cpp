#include "marker/square_candidates.h"

#include "marker/contour_trace.h"

namespace {

bool touchesBorder(const RegionBox& box, int width, int height) {
    return box.minX == 1 || box.maxX == width - 2 || box.minY == 1 || box.maxY == height - 2;
}

// Index among points 1..n-2 farthest from point 0 (the closing point left
// out), the earliest on ties; 0 when none lies farther than 0.
int farthestFromStart(const MarkerCandidate& c) {
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

// Appends, in contour order, the corners found strictly between contour
// points s and e: the point farthest from the chord s-e, when its squared
// distance exceeds `threshold`, and recursively those on both sides of it.
// -1 when the list would exceed CORNER_SPLIT_MAX entries.
int findVertices(const int32_t* xs, const int32_t* ys, int s, int e, double threshold, int* corners,
                 int* cornerCount) {
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
        if (findVertices(xs, ys, s, v, threshold, corners, cornerCount) < 0) {
            return -1;
        }
        if (*cornerCount > CORNER_SPLIT_MAX - 1) {
            return -1;
        }
        corners[(*cornerCount)++] = v;
        if (findVertices(xs, ys, v, e, threshold, corners, cornerCount) < 0) {
            return -1;
        }
    }
    return 0;
}

// Runs the corner search on (s, m) and (m, e) with fresh lists; true when
// each half holds exactly one corner, given back in `first` and `second`.
bool oneCornerEachSide(const MarkerCandidate& c, int s, int m, int e, double threshold, int* first,
                       int* second) {
    int listA[CORNER_SPLIT_MAX];
    int listB[CORNER_SPLIT_MAX];
    int countA = 0;
    int countB = 0;
    if (findVertices(c.contourX, c.contourY, s, m, threshold, listA, &countA) < 0 ||
        findVertices(c.contourX, c.contourY, m, e, threshold, listB, &countB) < 0) {
        return false;
    }
    if (countA != 1 || countB != 1) {
        return false;
    }
    *first = listA[0];
    *second = listB[0];
    return true;
}

void setCorners(MarkerCandidate* c, int c1, int c2, int c3) {
    c->cornerIndex[0] = 0;
    c->cornerIndex[1] = c1;
    c->cornerIndex[2] = c2;
    c->cornerIndex[3] = c3;
    c->cornerIndex[4] = c->pointCount - 1;
}

// Marks the smaller of each pair of candidates whose centres are closer than
// the square root of a quarter of the larger area (area 0 = removed).
void markOverlaps(MarkerCandidate* list, int count) {
    for (int i = 0; i < count; i++) {
        for (int j = i + 1; j < count; j++) {
            const double dx = list[i].centre.x - list[j].centre.x;
            const double dy = list[i].centre.y - list[j].centre.y;
            const double d2 = dx * dx + dy * dy;
            if (list[i].area > list[j].area) {
                if (list[i].area / 4 > d2) {
                    list[j].area = 0;
                }
            } else if (list[j].area / 4 > d2) {
                list[i].area = 0;
            }
        }
    }
}

void copyCandidate(const MarkerCandidate& from, MarkerCandidate* to) {
    to->area = from.area;
    to->centre = from.centre;
    to->pointCount = from.pointCount;
    for (int k = 0; k < from.pointCount; k++) {
        to->contourX[k] = from.contourX[k];
        to->contourY[k] = from.contourY[k];
    }
    for (int k = 0; k < 5; k++) {
        to->cornerIndex[k] = from.cornerIndex[k];
    }
}

// Removes the marked candidates, keeping the order of the others.
int removeMarked(MarkerCandidate* list, int count) {
    int kept = 0;
    for (int i = 0; i < count; i++) {
        if (list[i].area == 0) {
            continue;
        }
        if (kept != i) {
            copyCandidate(list[i], &list[kept]);
        }
        kept++;
    }
    return kept;
}

// Finds the four corners of the candidate's contour into its cornerIndex;
// 0 when there are exactly four, -1 otherwise.
int checkSquare(int area, MarkerCandidate* candidate, double factor) {
    const int n = candidate->pointCount;
    const int v = farthestFromStart(*candidate);
    const double threshold = area * 4.0 / 3.0 * 0.01 * factor;
    int listA[CORNER_SPLIT_MAX];
    int listB[CORNER_SPLIT_MAX];
    int countA = 0;
    int countB = 0;
    if (findVertices(candidate->contourX, candidate->contourY, 0, v, threshold, listA, &countA) <
            0 ||
        findVertices(candidate->contourX, candidate->contourY, v, n - 1, threshold, listB,
                     &countB) < 0) {
        return -1;
    }
    if (countA == 1 && countB == 1) {
        setCorners(candidate, listA[0], v, listB[0]);
        return 0;
    }
    int first = 0;
    int second = 0;
    if (countA > 1 && countB == 0) {
        if (!oneCornerEachSide(*candidate, 0, v / 2, v, threshold, &first, &second)) {
            return -1;
        }
        setCorners(candidate, first, second, v);
        return 0;
    }
    if (countA == 0 && countB > 1) {
        if (!oneCornerEachSide(*candidate, v, (v + n - 1) / 2, n - 1, threshold, &first, &second)) {
            return -1;
        }
        setCorners(candidate, v, first, second);
        return 0;
    }
    return -1;
}

}  // namespace

int arDetectSquares(const LabelResult& labels, int areaMax, int areaMin, double factor,
                    SquareStorage& storage) {
    MarkerCandidate* candidates = storage.candidates;
    storage.contourFailureCount = 0;
    int found = 0;
    for (int l = 1; l <= labels.labelCount && found < MARKER_MAX; l++) {
        const int area = labels.areas[l - 1];
        const RegionBox& box = labels.boxes[l - 1];
        if (area < areaMin || area > areaMax) {
            continue;
        }
        if (touchesBorder(box, labels.width, labels.height)) {
            continue;
        }
        MarkerCandidate* candidate = &candidates[found];
        const int failure = arTraceContour(labels, l, box, candidate);
        if (failure != 0) {
            storage.contourFailures[storage.contourFailureCount++] = static_cast<uint8_t>(failure);
            continue;
        }
        if (checkSquare(area, candidate, factor) < 0) {
            continue;
        }
        candidate->area = area;
        candidate->centre = labels.centroids[l - 1];
        found++;
    }
    markOverlaps(candidates, found);
    return removeMarked(candidates, found);
}
