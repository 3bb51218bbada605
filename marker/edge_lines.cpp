#include "marker/edge_lines.h"

#include "camera/distortion.h"
#include "math/matrix.h"
#include "math/principal_axes.h"

#include <iterator>

namespace {

// Fits the line through the contour points first..last (ideal coordinates);
// -1 when fewer than two points or the points do not span a line.
int fitSide(const double distFactor[4], EdgeLineStorage& storage, const int32_t* contourX,
            const int32_t* contourY, int first, int last, EdgeLine* line) {
    double* sidePoints = storage.sidePoints;
    const int count = last - first + 1;
    if (count < 2) {
        return -1;
    }
    for (int k = 0; k < count; k++) {
        arObservedToIdeal(distFactor, contourX[first + k], contourY[first + k], &sidePoints[2 * k],
                          &sidePoints[2 * k + 1]);
    }
    double axesData[4];
    double sharesData[2];
    double meanData[2];
    Matrix points{sidePoints, count, 2};
    Matrix axes{axesData, 2, 2};
    Vector shares{sharesData, 2};
    Vector mean{meanData, 2};
    const PrincipalAxesScratch scratch{storage.fitScratch,
                                       static_cast<int>(std::size(storage.fitScratch))};
    if (arMatrixPrincipalAxes(&points, &axes, &shares, &mean, scratch) < 0) {
        return -1;
    }
    line->a = axesData[1];
    line->b = -axesData[0];
    line->c = -(line->a * meanData[0] + line->b * meanData[1]);
    return 0;
}

}  // namespace

int arFitEdgeLines(const double distFactor[4], EdgeLineStorage& storage, const int32_t* contourX,
                   const int32_t* contourY, const int32_t cornerIndex[5], EdgeLine edgeLines[4],
                   ImagePoint vertices[4]) {
    for (int i = 0; i < 4; i++) {
        const int st = cornerIndex[i];
        const int ed = cornerIndex[i + 1];
        const int n = ed - st + 1;
        const double trim = 0.05 * n + 0.5;
        const int first = static_cast<int>(st + trim);
        const int last = static_cast<int>(ed - trim);
        if (fitSide(distFactor, storage, contourX, contourY, first, last, &edgeLines[i]) < 0) {
            return -1;
        }
    }
    for (int j = 0; j < 4; j++) {
        if (arIntersectLines(edgeLines[(j + 3) % 4], edgeLines[j], &vertices[j]) < 0) {
            return -1;
        }
    }
    return 0;
}
