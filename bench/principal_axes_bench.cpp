// Principal axes of one marker side: about a hundred contour points in two
// dimensions, the size the edge-line fit hands over for every side.

#include <benchmark/benchmark.h>

#include <random>

#include "math/principal_axes.h"

static void BM_PrincipalAxesOf100Points(benchmark::State& state) {
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 0.3);
    Matrix* points = arMatrixCreate(100, 2);
    for (int i = 0; i < 100; i++) {
        points->data[2 * i] = 120.0 + 0.8 * i + noise(rng);
        points->data[2 * i + 1] = 80.0 + 0.6 * i + noise(rng);
    }
    Matrix* axes = arMatrixCreate(2, 2);
    Vector* shares = arVectorCreate(2);
    Vector* mean = arVectorCreate(2);
    for (auto _ : state) {
        benchmark::DoNotOptimize(arMatrixPrincipalAxes(points, axes, shares, mean));
        benchmark::ClobberMemory();
    }
    arMatrixDestroy(points);
    arMatrixDestroy(axes);
    arVectorDestroy(shares);
    arVectorDestroy(mean);
}
BENCHMARK(BM_PrincipalAxesOf100Points);
