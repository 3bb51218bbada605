// Speed of one detection pass on noisy frames with one marker, stage by
// stage, and of the labeling pass against a plain table-rewrite labeling.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "marker/detector.h"
#include "marker/labeling.h"
#include "tests/marker/reference_labeling.h"
#include "tests/marker/test_frames.h"

namespace {

using lumeko_test::TestFrame;

// A grey frame with a marker of a fifth of its height, noise of +-`noise`
// on every channel (a pixel is dark when its three channels add up to 300 or
// less, so stronger noise makes many small dark specks).
TestFrame noisyFrame(int width, int height, int noise) {
    TestFrame frame(width, height, lumeko_test::Colour{150, 150, 150});
    const double side = height / 5.0;
    frame.drawMarker({width * 0.4 + 0.5, height * 0.45 + 0.5}, side, 0.3,
                     lumeko_test::randomPicture(5));
    frame.addNoise(42, noise);
    return frame;
}

// A white frame with the marker and a share of `percent` of its pixels
// black at random: many small regions that merge often.
TestFrame speckledFrame(int width, int height, int percent) {
    TestFrame frame(width, height);
    const double side = height / 5.0;
    frame.drawMarker({width * 0.4 + 0.5, height * 0.45 + 0.5}, side, 0.3,
                     lumeko_test::randomPicture(5));
    unsigned seed = 7;
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            seed = seed * 1103515245u + 12345u;
            if (static_cast<int>((seed >> 16) % 100) < percent) {
                frame.set(x, y, lumeko_test::BLACK);
            }
        }
    }
    return frame;
}

// Frames by kind: 0 grey with channel noise of +-amount, 1 speckled with
// amount percent black pixels.
TestFrame benchFrame(const benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const int amount = static_cast<int>(state.range(3));
    return state.range(2) == 0 ? noisyFrame(width, height, amount)
                               : speckledFrame(width, height, amount);
}

// Loads the frames' marker into `detector`.
void loadPattern(Detector& detector) {
    char path[] = "/tmp/lumeko-bench-XXXXXX";
    const int fd = mkstemp(path);
    const std::string text = lumeko_test::patternFileText(lumeko_test::randomPicture(5));
    if (fd >= 0) {
        (void)!write(fd, text.data(), text.size());
        close(fd);
        PatternLoadError error = PatternLoadError::None;
        detector.loadPattern(path, &error);
        unlink(path);
    }
}

double micros(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

void BM_DetectMarker(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const std::unique_ptr<Detector> detector =
        Detector::create(lumeko_test::undistortedCamera(width, height));
    if (detector == nullptr) {
        state.SkipWithError("cannot create the detector");
        return;
    }
    loadPattern(*detector);
    TestFrame frame = benchFrame(state);
    const MarkerInfo* markers = nullptr;
    int count = 0;
    double labeling = 0, squares = 0, identification = 0, history = 0, total = 0;
    int status = 0;
    for (auto _ : state) {
        status = detector->detect(frame.image(), 100, &markers, &count);
        const DetectionTrace& trace = detector->trace();
        labeling += micros(trace.labeling);
        squares += micros(trace.squares);
        identification += micros(trace.identification);
        history += micros(trace.history);
        total += micros(trace.total);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["label_us"] = labeling / n;
    state.counters["squares_us"] = squares / n;
    state.counters["identify_us"] = identification / n;
    state.counters["history_us"] = history / n;
    state.counters["total_us"] = total / n;
    state.counters["markers"] = count;
    state.counters["status"] = status;
    const DetectionTrace& trace = detector->trace();
    state.counters["regions"] = trace.labels ? trace.labels->labelCount : -1;
}
BENCHMARK(BM_DetectMarker)
    ->Args({640, 480, 0, 0})
    ->Args({640, 480, 0, 60})
    ->Args({640, 480, 1, 10})
    ->Args({1920, 1080, 0, 0})
    ->Args({1920, 1080, 0, 60})
    ->Args({1920, 1080, 0, 70})
    ->Args({1920, 1080, 1, 1})
    ->Unit(benchmark::kMillisecond);

// Frames whose labeling is worth timing: width, height, kind (0 grey noise,
// 1 black specks) and its amount.
void noisyFrames(benchmark::internal::Benchmark* b) {
    b->Args({640, 480, 0, 60})
        ->Args({640, 480, 1, 10})
        ->Args({640, 480, 1, 30})
        ->Args({1920, 1080, 0, 60})
        ->Args({1920, 1080, 0, 70})
        ->Args({1920, 1080, 1, 1})
        ->Unit(benchmark::kMillisecond);
}

void BM_LabelImage(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const auto storage = std::make_unique<LabelStorage>();
    arInitLabeling(*storage, width, height);
    TestFrame frame = benchFrame(state);
    LabelResult result{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(arLabelImage(*storage, frame.image(), 100, &result));
    }
    state.counters["regions"] = result.labelCount;
}
BENCHMARK(BM_LabelImage)->Apply(noisyFrames);

// The labeling rules taken literally: every merge rewrites the table.
void BM_TableRewriteLabelImage(benchmark::State& state) {
    TestFrame frame = benchFrame(state);
    int regions = 0;
    for (auto _ : state) {
        const lumeko_test::ReferenceLabels labels =
            lumeko_test::referenceLabelImage(frame.image(), 100, 32768);
        regions = labels.labelCount;
        benchmark::DoNotOptimize(regions);
    }
    state.counters["regions"] = regions;
}
BENCHMARK(BM_TableRewriteLabelImage)->Apply(noisyFrames);

}  // namespace
