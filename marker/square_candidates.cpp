#include "marker/square_candidates.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "marker/bent_square.h"
#include "marker/contour_trace.h"
#include "marker/outline_corners.h"

namespace {

bool touchesBorder(const RegionBox& box, int width, int height) {
    return box.minX == 1 || box.maxX == width - 2 || box.minY == 1 || box.maxY == height - 2;
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
    if (arFindVertices(c.contourX, c.contourY, s, m, threshold, listA, &countA) !=
            MarkerStatus::Ok ||
        arFindVertices(c.contourX, c.contourY, m, e, threshold, listB, &countB) !=
            MarkerStatus::Ok ||
        countA != 1 || countB != 1) {
        return MarkerStatus::NotASquare;
    }
    *first = listA[0];
    *second = listB[0];
    return MarkerStatus::Ok;
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
    to->interruption[0] = from.interruption[0];
    to->interruption[1] = from.interruption[1];
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
    const int v = arFarthestFromStart(*candidate);
    const double threshold = arCornerThreshold(area, factor);
    int listA[CORNER_SPLIT_MAX];
    int listB[CORNER_SPLIT_MAX];
    int countA = 0;
    int countB = 0;
    if (arFindVertices(candidate->contourX, candidate->contourY, 0, v, threshold, listA, &countA) !=
            MarkerStatus::Ok ||
        arFindVertices(candidate->contourX, candidate->contourY, v, n - 1, threshold, listB,
                       &countB) != MarkerStatus::Ok) {
        return MarkerStatus::NotASquare;
    }
    if (countA == 1 && countB == 1) {
        arSetCorners(candidate, listA[0], v, listB[0]);
        return MarkerStatus::Ok;
    }
    int first = 0;
    int second = 0;
    if (countA > 1 && countB == 0) {
        if (oneCornerEachSide(*candidate, 0, v / 2, v, threshold, &first, &second) !=
            MarkerStatus::Ok) {
            return MarkerStatus::NotASquare;
        }
        arSetCorners(candidate, first, second, v);
        return MarkerStatus::Ok;
    }
    if (countA == 0 && countB > 1) {
        if (oneCornerEachSide(*candidate, v, (v + n - 1) / 2, n - 1, threshold, &first, &second) !=
            MarkerStatus::Ok) {
            return MarkerStatus::NotASquare;
        }
        arSetCorners(candidate, v, first, second);
        return MarkerStatus::Ok;
    }
    return MarkerStatus::NotASquare;
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
                   arCheckBentSquare(area, candidate, factor) == MarkerStatus::Ok) {
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
