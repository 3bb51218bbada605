#include "marker/square_candidates.h"

#include <algorithm>
#include <cmath>
#include <new>

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
// NotASquare when the list would exceed CORNER_SPLIT_MAX entries.
MarkerStatus findVertices(const int32_t* xs, const int32_t* ys, int s, int e, double threshold,
                          int* corners, int* cornerCount, int capacity = CORNER_SPLIT_MAX) {
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
        if (findVertices(xs, ys, s, v, threshold, corners, cornerCount, capacity) !=
            MarkerStatus::Ok) {
            return MarkerStatus::NotASquare;
        }
        if (*cornerCount > capacity - 1) {
            return MarkerStatus::NotASquare;
        }
        corners[(*cornerCount)++] = v;
        if (findVertices(xs, ys, v, e, threshold, corners, cornerCount, capacity) !=
            MarkerStatus::Ok) {
            return MarkerStatus::NotASquare;
        }
    }
    return MarkerStatus::Ok;
}

// Runs the corner search on (s, m) and (m, e) with fresh lists: Ok when each
// half holds exactly one corner, given back in `first` and `second`, else
// NotASquare.
MarkerStatus oneCornerEachSide(const MarkerCandidate& c, int s, int m, int e, double threshold,
                               int* first, int* second) {
    int listA[CORNER_SPLIT_MAX];
    int listB[CORNER_SPLIT_MAX];
    int countA = 0;
    int countB = 0;
    if (findVertices(c.contourX, c.contourY, s, m, threshold, listA, &countA) != MarkerStatus::Ok ||
        findVertices(c.contourX, c.contourY, m, e, threshold, listB, &countB) != MarkerStatus::Ok ||
        countA != 1 || countB != 1) {
        return MarkerStatus::NotASquare;
    }
    *first = listA[0];
    *second = listB[0];
    return MarkerStatus::Ok;
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

// Finds the four corners of the candidate's contour into its cornerIndex:
// Ok when there are exactly four, NotASquare otherwise.
MarkerStatus checkSquare(int area, MarkerCandidate* candidate, double factor) {
    const int n = candidate->pointCount;
    const int v = farthestFromStart(*candidate);
    const double threshold = area * 4.0 / 3.0 * 0.01 * factor;
    int listA[CORNER_SPLIT_MAX];
    int listB[CORNER_SPLIT_MAX];
    int countA = 0;
    int countB = 0;
    if (findVertices(candidate->contourX, candidate->contourY, 0, v, threshold, listA, &countA) !=
            MarkerStatus::Ok ||
        findVertices(candidate->contourX, candidate->contourY, v, n - 1, threshold, listB,
                     &countB) != MarkerStatus::Ok) {
        return MarkerStatus::NotASquare;
    }
    if (countA == 1 && countB == 1) {
        setCorners(candidate, listA[0], v, listB[0]);
        return MarkerStatus::Ok;
    }
    int first = 0;
    int second = 0;
    if (countA > 1 && countB == 0) {
        if (oneCornerEachSide(*candidate, 0, v / 2, v, threshold, &first, &second) !=
            MarkerStatus::Ok) {
            return MarkerStatus::NotASquare;
        }
        setCorners(candidate, first, second, v);
        return MarkerStatus::Ok;
    }
    if (countA == 0 && countB > 1) {
        if (oneCornerEachSide(*candidate, v, (v + n - 1) / 2, n - 1, threshold, &first, &second) !=
            MarkerStatus::Ok) {
            return MarkerStatus::NotASquare;
        }
        setCorners(candidate, v, first, second);
        return MarkerStatus::Ok;
    }
    return MarkerStatus::NotASquare;
}

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

// For an outline a fingertip or a smudge dents or bumps: the outline's
// polygon (the corner search's, up to ROBUST_VERTEX_MAX corners) loses the
// vertex that turns least (or against the outline) until four are left that
// each turn by at least ROBUST_TURN_MIN, and the sides between them must be
// mostly straight. The contour is then turned to start at the first corner.
// Ok with the corners set, NotASquare when the outline is no such square.
MarkerStatus checkSquareRobust(int area, MarkerCandidate* candidate, double factor) {
    MarkerCandidate& c = *candidate;
    const int n = c.pointCount;
    const int v = farthestFromStart(c);
    const double threshold = area * 4.0 / 3.0 * 0.01 * factor;
    int corners[ROBUST_VERTEX_MAX];
    int count = 1;
    corners[0] = 0;
    if (v == 0 || findVertices(c.contourX, c.contourY, 0, v, threshold, corners, &count,
                               ROBUST_VERTEX_MAX - 1) != MarkerStatus::Ok) {
        return MarkerStatus::NotASquare;
    }
    corners[count++] = v;
    if (findVertices(c.contourX, c.contourY, v, n - 1, threshold, corners, &count,
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
    setCorners(candidate, corners[1] - start, corners[2] - start, corners[3] - start);
    return MarkerStatus::Ok;
}

// Traces label `l` into the next candidate: Ok, or why tracing gave up (kept
// while the failure list has room).
MarkerStatus traceRegion(const LabelResult& labels, int l, SquareStorage& storage,
                         MarkerCandidate* candidate) {
    const MarkerStatus traced = arTraceContour(labels, l, labels.boxes[l - 1], candidate);
    if (traced != MarkerStatus::Ok &&
        storage.contourFailureCount < storage.contourFailureCapacity) {
        storage.contourFailures[storage.contourFailureCount++] = traced;
    }
    return traced;
}

void acceptCandidate(const LabelResult& labels, int l, MarkerCandidate* candidate) {
    candidate->area = labels.areas[l - 1];
    candidate->centre = labels.centroids[l - 1];
}

void swapCandidates(MarkerCandidate& a, MarkerCandidate& b, MarkerCandidate& scratch) {
    copyCandidate(a, &scratch);
    copyCandidate(b, &a);
    copyCandidate(scratch, &b);
}

// The labels from `label` on whose outline is a plain square fill the list
// from the front, in label order, until it is full; `label` is left at the
// first label not looked at. With `robust`, those whose outline is a
// square only with a dented or bumped side fill it from the back, and a
// plain square that finds the list full takes the place of the latest of
// them. Returns the plain squares' count; `bent` gets the others'.
int collectSquares(const LabelResult& labels, int areaMax, int areaMin, double factor,
                   SquareStorage& storage, bool robust, int* bent, int* label) {
    MarkerCandidate* list = storage.candidates;
    int plain = 0;
    *bent = 0;
    int& l = *label;
    for (; l <= labels.labelCount && plain < MARKER_MAX; l++) {
        const int area = labels.areas[l - 1];
        if (area < areaMin || area > areaMax ||
            touchesBorder(labels.boxes[l - 1], labels.width, labels.height)) {
            continue;
        }
        const bool full = plain + *bent == MARKER_MAX;
        MarkerCandidate* candidate = full ? &storage.scratch : &list[plain];
        if (traceRegion(labels, l, storage, candidate) != MarkerStatus::Ok) {
            continue;
        }
        if (checkSquare(area, candidate, factor) == MarkerStatus::Ok) {
            if (full) {  // over the latest bent square, at list[plain]
                (*bent)--;
                copyCandidate(*candidate, &list[plain]);
            }
            acceptCandidate(labels, l, &list[plain++]);
        } else if (robust && !full &&
                   checkSquareRobust(area, candidate, factor) == MarkerStatus::Ok) {
            MarkerCandidate* back = &list[MARKER_MAX - ++*bent];
            if (back != candidate)
                copyCandidate(*candidate, back);
            acceptCandidate(labels, l, back);
        }
    }
    return plain;
}

// Moves the `bent` squares at the list's back (the latest first) to follow
// the `plain` ones, in label order.
void placeBentSquares(SquareStorage& storage, int plain, int bent) {
    MarkerCandidate* list = storage.candidates;
    for (int i = MARKER_MAX - bent, j = MARKER_MAX - 1; i < j; i++, j--)
        swapCandidates(list[i], list[j], storage.scratch);
    if (plain != MARKER_MAX - bent) {
        for (int k = 0; k < bent; k++)
            copyCandidate(list[MARKER_MAX - bent + k], &list[plain + k]);
    }
}

}  // namespace

MarkerStatus arInitSquareStorage(SquareStorage& storage, int32_t regions) {
    if (regions < 0) {
        return MarkerStatus::BadSize;
    }
    if (regions > storage.contourFailureCapacity) {
        try {
            storage.contourFailures = std::make_unique_for_overwrite<MarkerStatus[]>(regions);
        } catch (const std::bad_alloc&) {
            storage.contourFailures.reset();
            storage.contourFailureCapacity = 0;
            return MarkerStatus::OutOfMemory;
        }
        storage.contourFailureCapacity = regions;
    }
    return MarkerStatus::Ok;
}

int arDetectSquares(const LabelResult& labels, int areaMax, int areaMin, double factor,
                    SquareStorage& storage, bool robust, int* nextLabel) {
    storage.contourFailureCount = 0;
    int bent = 0;
    int label = nextLabel != nullptr ? std::max(*nextLabel, 1) : 1;
    const int plain =
        collectSquares(labels, areaMax, areaMin, factor, storage, robust, &bent, &label);
    if (nextLabel != nullptr)
        *nextLabel = label;
    placeBentSquares(storage, plain, bent);
    const int found = plain + bent;
    markOverlaps(storage.candidates, found);
    return removeMarked(storage.candidates, found);
}
