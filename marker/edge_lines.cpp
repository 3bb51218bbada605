#include "marker/edge_lines.h"

#include "camera/distortion.h"
#include "math/matrix.h"
#include "math/principal_axes.h"

#include <cmath>
#include <iterator>

namespace {

MarkerStatus fitLine(EdgeLineStorage& storage, double* points, int count, EdgeLine* line);

// Copies the side points within ROBUST_FIT_TOLERANCE of `line` into
// storage.inliers; how many.
int pointsNear(EdgeLineStorage& storage, int count, const EdgeLine& line) {
    int kept = 0;
    for (int k = 0; k < count; k++) {
        const double x = storage.sidePoints[2 * k], y = storage.sidePoints[2 * k + 1];
        if (std::fabs(line.a * x + line.b * y + line.c) <= ROBUST_FIT_TOLERANCE) {
            storage.inliers[2 * kept] = x;
            storage.inliers[2 * kept + 1] = y;
            kept++;
        }
    }
    return kept;
}

// Fits the line through the candidate's contour points first..last (ideal
// coordinates); Degenerate when fewer than two points or the points do not
// span a line. With `robust`, the points of the candidate's interruption are
// left out, and the line is fitted again without the points farther than
// ROBUST_FIT_TOLERANCE from the first fit (a dent or a bump in the side).
MarkerStatus fitSide(const double distFactor[4], EdgeLineStorage& storage,
                     const MarkerCandidate& candidate, int first, int last, bool robust,
                     EdgeLine* line) {
    double* sidePoints = storage.sidePoints;
    int count = 0;
    for (int i = first; i <= last; i++) {
        if (robust && i >= candidate.interruption[0] && i <= candidate.interruption[1])
            continue;
        arObservedToIdeal(distFactor, candidate.contourX[i], candidate.contourY[i],
                          &sidePoints[2 * count], &sidePoints[2 * count + 1]);
        count++;
    }
    if (count < 2) {
        return MarkerStatus::Degenerate;
    }
    if (!robust) {
        return fitLine(storage, sidePoints, count, line);
    }
    // A dent or a bump pulls a fit through all the points away from the
    // side, and an object over a corner takes one end of it. Of that fit and
    // the chords from end to end and from each end to the middle, the line
    // most points lie near is fitted to those points, then to the points
    // near that fit.
    if (fitLine(storage, sidePoints, count, line) != MarkerStatus::Ok) {
        return MarkerStatus::Degenerate;
    }
    int most = pointsNear(storage, count, *line);
    const int ends[3][2] = {{0, count - 1}, {0, count / 2}, {count / 2, count - 1}};
    for (const auto& end : ends) {
        const double x0 = sidePoints[2 * end[0]], y0 = sidePoints[2 * end[0] + 1];
        const double x1 = sidePoints[2 * end[1]], y1 = sidePoints[2 * end[1] + 1];
        const double length = std::hypot(x1 - x0, y1 - y0);
        if (!(length > 0.0)) {
            continue;
        }
        EdgeLine chord{(y1 - y0) / length, (x0 - x1) / length, 0.0};
        chord.c = -(chord.a * x0 + chord.b * y0);
        const int near = pointsNear(storage, count, chord);
        if (near > most) {
            most = near;
            *line = chord;
        }
    }
    for (int pass = 0; pass < 2; pass++) {
        const int kept = pointsNear(storage, count, *line);
        if (kept < 2 || kept == count) {
            return MarkerStatus::Ok;
        }
        EdgeLine fitted;
        if (fitLine(storage, storage.inliers, kept, &fitted) != MarkerStatus::Ok) {
            return MarkerStatus::Ok;
        }
        *line = fitted;
    }
    return MarkerStatus::Ok;
}

// The principal-axis line through `count` points (x, y pairs); Degenerate
// when they do not span one.
MarkerStatus fitLine(EdgeLineStorage& storage, double* sidePoints, int count, EdgeLine* line) {
    double axesData[4];
    double sharesData[2];
    double meanData[2];
    Matrix points{sidePoints, count, 2};
    Matrix axes{axesData, 2, 2};
    Vector shares{sharesData, 2};
    Vector mean{meanData, 2};
    const PrincipalAxesScratch scratch{storage.fitScratch,
                                       static_cast<int>(std::size(storage.fitScratch))};
    if (arMatrixPrincipalAxes(&points, &axes, &shares, &mean, scratch) != MathStatus::Ok) {
        return MarkerStatus::Degenerate;
    }
    line->a = axesData[1];
    line->b = -axesData[0];
    line->c = -(line->a * meanData[0] + line->b * meanData[1]);
    return MarkerStatus::Ok;
}

}  // namespace

MarkerStatus arFitEdgeLines(const double distFactor[4], EdgeLineStorage& storage,
                            const MarkerCandidate& candidate, EdgeLine edgeLines[4],
                            ImagePoint vertices[4], bool robust) {
    for (int i = 0; i < 4; i++) {
        const int st = candidate.cornerIndex[i];
        const int ed = candidate.cornerIndex[i + 1];
        const int n = ed - st + 1;
        const double trim = 0.05 * n + 0.5;
        const int first = static_cast<int>(st + trim);
        const int last = static_cast<int>(ed - trim);
        if (fitSide(distFactor, storage, candidate, first, last, robust, &edgeLines[i]) !=
            MarkerStatus::Ok) {
            return MarkerStatus::Degenerate;
        }
    }
    for (int j = 0; j < 4; j++) {
        if (arIntersectLines(edgeLines[(j + 3) % 4], edgeLines[j], &vertices[j]) !=
            MathStatus::Ok) {
            return MarkerStatus::Degenerate;
        }
    }
    return MarkerStatus::Ok;
}
