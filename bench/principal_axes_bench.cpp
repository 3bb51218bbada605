// Principal axes of one marker side: about a hundred contour points in two
// dimensions, the size the edge-line fit hands over for every side.

#include <benchmark/benchmark.h>

#include <random>

#include "math/principal_axes.h"

static void BM_PrincipalAxesOf100Points(benchmark::State& state) {
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 0.3);
    double data[100 * 2];
    for (int i = 0; i < 100; i++) {
        data[2 * i] = 120.0 + 0.8 * i + noise(rng);
        data[2 * i + 1] = 80.0 + 0.6 * i + noise(rng);
    }
    double axesData[4], sharesData[2], meanData[2], scratchData[100 * 2 + 4 + 2];
    Matrix points{data, 100, 2}, axes{axesData, 2, 2};
    Vector shares{sharesData, 2}, mean{meanData, 2};
    const PrincipalAxesScratch scratch{scratchData, 100 * 2 + 4 + 2};
    for (auto _ : state) {
        benchmark::DoNotOptimize(arMatrixPrincipalAxes(&points, &axes, &shares, &mean, scratch));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_PrincipalAxesOf100Points);
