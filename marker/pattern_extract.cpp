#include "marker/pattern_extract.h"

#include <algorithm>
#include <cstddef>

#include "math/matrix.h"

namespace {

// The square the candidate's corners 0..3 are mapped from.
constexpr double PLANE_SQUARE[4][2] = {
    {100.0, 100.0}, {110.0, 100.0}, {110.0, 110.0}, {100.0, 110.0}};
// The sampled part of the plane square: its central half.
constexpr double SAMPLE_START = 102.5;
constexpr double SAMPLE_SPAN = 5.0;

int squaredDistance(const double p[2], const double q[2]) {
    const double dx = p[0] - q[0];
    const double dy = p[1] - q[1];
    return static_cast<int>(dx * dx + dy * dy);
}

// Adds bytes 0..2 of the frame pixel under image point (x, y), truncated
// toward zero, to `sums`; points outside the frame add nothing. The range
// test on the doubles is the same as on the truncated integers, without
// converting values that do not fit an int.
void addSample(const FrameImage& frame, double x, double y, int sums[3]) {
    if (!(x > -1.0 && x < frame.width && y > -1.0 && y < frame.height)) {
        return;
    }
    const int column = static_cast<int>(x);
    const int row = static_cast<int>(y);
    const unsigned char* pixel =
        frame.pixels + 4 * (static_cast<size_t>(row) * frame.width + column);
    sums[0] += pixel[0];
    sums[1] += pixel[1];
    sums[2] += pixel[2];
}

// Solves the homography h that maps the four plane points onto the four image
// points: X = (h00 x + h01 y + h02) / D, Y = (h10 x + h11 y + h12) / D with
// D = h20 x + h21 y + 1 (h22 is 1). Ok, or Degenerate when the points leave
// the system singular (three of them on one line); h is then not written.
MarkerStatus solveHomography(const double plane[4][2], const double image[4][2], double h[3][3]) {
    double aData[64];
    double bData[8];
    double hData[8];
    for (int i = 0; i < 4; i++) {
        const double x = plane[i][0];
        const double y = plane[i][1];
        const double bigX = image[i][0];
        const double bigY = image[i][1];
        const double rowX[8] = {x, y, 1.0, 0.0, 0.0, 0.0, -x * bigX, -y * bigX};
        const double rowY[8] = {0.0, 0.0, 0.0, x, y, 1.0, -x * bigY, -y * bigY};
        std::copy(rowX, rowX + 8, aData + 16 * i);
        std::copy(rowY, rowY + 8, aData + 16 * i + 8);
        bData[2 * i] = bigX;
        bData[2 * i + 1] = bigY;
    }
    Matrix a{aData, 8, 8};
    Matrix b{bData, 8, 1};
    Matrix result{hData, 8, 1};
    if (arMatrixInvertInPlace(&a) != MathStatus::Ok ||
        arMatrixMultiply(&result, &a, &b) != MathStatus::Ok) {
        return MarkerStatus::Degenerate;
    }
    for (int k = 0; k < 8; k++) {
        h[k / 3][k % 3] = hData[k];
    }
    h[2][2] = 1.0;
    return MarkerStatus::Ok;
}

}  // namespace

int arPatternSampleCount(int squaredSide) {
    int samples = PATTERN_SIZE;
    while (samples < PATTERN_SAMPLE_MAX && samples * samples < squaredSide / 4) {
        samples *= 2;
    }
    return samples;
}

MarkerStatus arPatternHomography(const int32_t* contourX, const int32_t* contourY,
                                 const int32_t cornerIndex[5], double h[3][3]) {
    double corners[4][2];
    for (int i = 0; i < 4; i++) {
        corners[i][0] = contourX[cornerIndex[i]];
        corners[i][1] = contourY[cornerIndex[i]];
    }
    return solveHomography(PLANE_SQUARE, corners, h);
}

MarkerStatus arExtractPattern(const FrameImage& frame, const int32_t* contourX,
                              const int32_t* contourY, const int32_t cornerIndex[5],
                              PatternImage* pattern) {
    double h[3][3];
    if (arPatternHomography(contourX, contourY, cornerIndex, h) != MarkerStatus::Ok) {
        return MarkerStatus::Degenerate;
    }
    double corners[4][2];
    for (int i = 0; i < 4; i++) {
        corners[i][0] = contourX[cornerIndex[i]];
        corners[i][1] = contourY[cornerIndex[i]];
    }
    const int lx =
        std::max(squaredDistance(corners[0], corners[1]), squaredDistance(corners[2], corners[3]));
    const int ly =
        std::max(squaredDistance(corners[1], corners[2]), squaredDistance(corners[3], corners[0]));
    const int nx = arPatternSampleCount(lx);
    const int ny = arPatternSampleCount(ly);
    const int cx = nx / PATTERN_SIZE;
    const int cy = ny / PATTERN_SIZE;

    // The sample positions along a row, the same for every row.
    double xs[PATTERN_SAMPLE_MAX];
    for (int i = 0; i < nx; i++) {
        xs[i] = SAMPLE_START + SAMPLE_SPAN * (i + 0.5) / nx;
    }
    // Two samples are mapped at a time (each lane computes exactly what one
    // sample on its own would; nx is a multiple of PATTERN_SIZE, so even).
    // The samples of one pattern cell in one row are added up in a local sum
    // first (integer sums: the order does not matter).
    using Pair = double __attribute__((vector_size(16)));
    int sums[PATTERN_VALUES] = {};
    for (int j = 0; j < ny; j++) {
        const double y = SAMPLE_START + SAMPLE_SPAN * (j + 0.5) / ny;
        int* rowSums = &sums[(j / cy) * PATTERN_SIZE * 3];
        const Pair rowD = Pair{h[2][1] * y, h[2][1] * y};
        const Pair rowX = Pair{h[0][1] * y, h[0][1] * y};
        const Pair rowY = Pair{h[1][1] * y, h[1][1] * y};
        int cell = 0;
        int cellLeft = cx;  // samples still to come in this cell
        int cellSums[3] = {0, 0, 0};
        const auto add = [&](double imageX, double imageY) {
            if (cellLeft == 0) {
                for (int k = 0; k < 3; k++) {
                    rowSums[3 * cell + k] += cellSums[k];
                    cellSums[k] = 0;
                }
                cell++;
                cellLeft = cx;
            }
            cellLeft--;
            addSample(frame, imageX, imageY, cellSums);
        };
        for (int i = 0; i < nx; i += 2) {
            const Pair x = Pair{xs[i], xs[i + 1]};
            const Pair d = h[2][0] * x + rowD + 1.0;
            if (d[0] == 0.0 || d[1] == 0.0) {
                return MarkerStatus::Degenerate;
            }
            const Pair imageX = (h[0][0] * x + rowX + h[0][2]) / d;
            const Pair imageY = (h[1][0] * x + rowY + h[1][2]) / d;
            add(imageX[0], imageY[0]);
            add(imageX[1], imageY[1]);
        }
        for (int k = 0; k < 3; k++) {
            rowSums[3 * cell + k] += cellSums[k];
        }
    }
    const unsigned divisor = static_cast<unsigned>(cx * cy);
    for (int k = 0; k < PATTERN_VALUES; k++) {
        pattern->values[k] = static_cast<unsigned char>(static_cast<unsigned>(sums[k]) / divisor);
    }
    return MarkerStatus::Ok;
}
