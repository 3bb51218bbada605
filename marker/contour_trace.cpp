#include "marker/contour_trace.h"

#include <algorithm>
#include <cstddef>

namespace {

// Steps of the tracer; increasing d turns clockwise on the screen, starting up.
constexpr int STEP_X[8] = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr int STEP_Y[8] = {-1, -1, 0, 1, 1, 1, 0, -1};

// First pixel of `label` on the box's top row, left to right; ContourNoStart
// if none.
MarkerStatus findStartPixel(const LabelResult& labels, int label, const RegionBox& box,
                            int* startX) {
    const LabelValue* row = labels.labelImage + static_cast<size_t>(box.minY) * labels.width;
    for (int x = box.minX; x <= box.maxX; x++) {
        const int p = row[x];
        if (p > 0 && labels.labelMap[p - 1] == label) {
            *startX = x;
            return MarkerStatus::Ok;
        }
    }
    return MarkerStatus::ContourNoStart;
}

// Walks the outline from point 0 until it comes back there, giving the
// number of points walked in `walked`; ContourDeadEnd or ContourTooLong when
// it cannot.
MarkerStatus walkOutline(const LabelResult& labels, MarkerCandidate* c, int* walked) {
    // Each step's move in the label image, and the label under the point.
    ptrdiff_t move[8];
    for (int d = 0; d < 8; d++)
        move[d] = static_cast<ptrdiff_t>(STEP_Y[d]) * labels.width + STEP_X[d];
    const LabelValue* at =
        labels.labelImage + static_cast<size_t>(c->contourY[0]) * labels.width + c->contourX[0];
    int count = 1;
    int d = 5;
    for (;;) {
        d = (d + 5) & 7;
        int tries = 0;
        while (tries < 8 && at[move[d]] == 0) {
            d = (d + 1) & 7;
            tries++;
        }
        if (tries == 8) {
            return MarkerStatus::ContourDeadEnd;
        }
        at += move[d];
        c->contourX[count] = c->contourX[count - 1] + STEP_X[d];
        c->contourY[count] = c->contourY[count - 1] + STEP_Y[d];
        if (c->contourX[count] == c->contourX[0] && c->contourY[count] == c->contourY[0]) {
            *walked = count;
            return MarkerStatus::Ok;
        }
        count++;
        if (count == CONTOUR_TRACE_LIMIT) {
            return MarkerStatus::ContourTooLong;
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
    std::rotate(c->contourX, c->contourX + v, c->contourX + count);
    std::rotate(c->contourY, c->contourY + v, c->contourY + count);
    c->contourX[count] = c->contourX[0];
    c->contourY[count] = c->contourY[0];
    c->pointCount = count + 1;
}

}  // namespace

MarkerStatus arTraceContour(const LabelResult& labels, int label, const RegionBox& box,
                            MarkerCandidate* candidate) {
    int startX = 0;
    const MarkerStatus start = findStartPixel(labels, label, box, &startX);
    if (start != MarkerStatus::Ok) {
        return start;
    }
    candidate->contourX[0] = startX;
    candidate->contourY[0] = box.minY;
    int count = 0;
    const MarkerStatus walk = walkOutline(labels, candidate, &count);
    if (walk != MarkerStatus::Ok) {
        return walk;
    }
    rotateContour(candidate, count,
                  farthestFromStart(candidate->contourX, candidate->contourY, count));
    return MarkerStatus::Ok;
}
