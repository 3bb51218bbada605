#include "marker/contour_trace.h"

#include <cstddef>
#include <cstdio>

namespace {

// Steps of the tracer; increasing d turns clockwise on the screen, starting up.
constexpr int STEP_X[8] = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr int STEP_Y[8] = {-1, -1, 0, 1, 1, 1, 0, -1};

// Scratch for turning a traced contour to its new start.
int32_t scratchX[CONTOUR_POINT_MAX];
int32_t scratchY[CONTOUR_POINT_MAX];

// First pixel of `label` on the box's top row, left to right; false if none.
bool findStartPixel(const LabelResult& labels, int label, const RegionBox& box, int* startX) {
    const LabelValue* row = labels.labelImage + static_cast<size_t>(box.minY) * labels.width;
    for (int x = box.minX; x <= box.maxX; x++) {
        const int p = row[x];
        if (p > 0 && labels.labelMap[p - 1] == label) {
            *startX = x;
            return true;
        }
    }
    return false;
}

// Walks the outline from point 0 until it comes back there; returns the number
// of points walked, or -1 after printing the diagnostic.
int walkOutline(const LabelResult& labels, MarkerCandidate* c) {
    int count = 1;
    int d = 5;
    for (;;) {
        const int x = c->contourX[count - 1];
        const int y = c->contourY[count - 1];
        d = (d + 5) % 8;
        int tries = 0;
        while (
            tries < 8 &&
            labels.labelImage[static_cast<size_t>(y + STEP_Y[d]) * labels.width + x + STEP_X[d]] ==
                0) {
            d = (d + 1) % 8;
            tries++;
        }
        if (tries == 8) {
            std::printf("??? 2\n");
            return -1;
        }
        c->contourX[count] = x + STEP_X[d];
        c->contourY[count] = y + STEP_Y[d];
        if (c->contourX[count] == c->contourX[0] && c->contourY[count] == c->contourY[0]) {
            return count;
        }
        count++;
        if (count == CONTOUR_TRACE_LIMIT) {
            std::printf("??? 3\n");
            return -1;
        }
    }
}

// Index of the point among 1..count-1 farthest from point 0, the earliest on ties.
int farthestFromStart(const int32_t* xs, const int32_t* ys, int count) {
    int best = 0;
    int bestDistance = 0;
    for (int i = 1; i < count; i++) {
        const int dx = xs[i] - xs[0];
        const int dy = ys[i] - ys[0];
        const int distance = dx * dx + dy * dy;
        if (distance > bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

// Turns the contour to start at point v and closes it with a copy of the new start.
void rotateContour(MarkerCandidate* c, int count, int v) {
    for (int i = 0; i < count; i++) {
        scratchX[i] = c->contourX[i];
        scratchY[i] = c->contourY[i];
    }
    int k = 0;
    for (int i = v; i < count; i++, k++) {
        c->contourX[k] = scratchX[i];
        c->contourY[k] = scratchY[i];
    }
    for (int i = 0; i < v; i++, k++) {
        c->contourX[k] = scratchX[i];
        c->contourY[k] = scratchY[i];
    }
    c->contourX[count] = c->contourX[0];
    c->contourY[count] = c->contourY[0];
    c->pointCount = count + 1;
}

}  // namespace

int arTraceContour(const LabelResult& labels, int label, const RegionBox& box,
                   MarkerCandidate* candidate) {
    int startX = 0;
    if (!findStartPixel(labels, label, box, &startX)) {
        std::printf("??? 1\n");
        return -1;
    }
    candidate->contourX[0] = startX;
    candidate->contourY[0] = box.minY;
    const int count = walkOutline(labels, candidate);
    if (count < 0) {
        return -1;
    }
    rotateContour(candidate, count,
                  farthestFromStart(candidate->contourX, candidate->contourY, count));
    return 0;
}
