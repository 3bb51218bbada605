// Cost of one pose: the first-frame method (initial rotation and up to five
// refinement passes) and continuous mode from a nearby previous pose, on
// markers projected through a distorted camera.

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "pose/marker_pose.h"
#include "tests/pose/pose_scene.h"

namespace {

using namespace pose_scene;

struct Scene {
    CameraParam camera;
    std::vector<MarkerSquare> squares;
    std::vector<Pose> previous;
};

const Scene& scene() {
    static const Scene made = [] {
        Scene s;
        const CameraParam camera = makeCamera(true);
        s.camera = camera;
        std::mt19937 rng(61);
        for (int i = 0; i < 64; i++) {
            const Pose truth = randomPose(rng, 50 * PI / 180);
            s.squares.push_back(squareOf(camera, truth));
            s.previous.push_back(turnedPose(truth, 0.04, -0.05));
        }
        return s;
    }();
    return made;
}

void BM_MarkerPose(benchmark::State& state) {
    const Scene& s = scene();
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            arMarkerPose(s.camera, s.squares[i % s.squares.size()], {0, 0}, MARKER_WIDTH));
        i++;
    }
}
BENCHMARK(BM_MarkerPose);

void BM_MarkerPoseCont(benchmark::State& state) {
    const Scene& s = scene();
    size_t i = 0;
    for (auto _ : state) {
        const size_t k = i % s.squares.size();
        benchmark::DoNotOptimize(
            arMarkerPoseCont(s.camera, s.squares[k], s.previous[k], {0, 0}, MARKER_WIDTH));
        i++;
    }
}
BENCHMARK(BM_MarkerPoseCont);

}  // namespace
