// Speed of one detection pass on noisy frames with one marker, stage by
// stage, with and without edge refinement, of the refinement alone, and of
// the labeling pass against a plain table-rewrite labeling. Targets for the
// pass on a textured noisy frame (kind 2): 0.25 ms at 640 x 480 and 1.5 ms at
// 1920 x 1080; compare the minimum of --benchmark_repetitions, the machine
// being shared.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "bench/reference_labeling.h"
#include "marker/detector.h"
#include "marker/edge_refine.h"
#include "marker/labeling.h"
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

// A textured scene: 8 x 8 tiles of greys from 120 to 183 (a pixel is dark at
// 100 and below), the marker, and noise of +-`noise` on every channel, as a
// phone gives in low light: the detection pass's targets are set on it.
TestFrame texturedFrame(int width, int height, int noise) {
    TestFrame frame(width, height);
    for (int i = 0; i < 64; i++) {
        const unsigned char g = static_cast<unsigned char>(120 + 9 * (i * 7 % 8));
        frame.fillRect(width * (i % 8) / 8, height * (i / 8) / 8, width / 8 + 1, height / 8 + 1,
                       {g, g, g});
    }
    frame.drawMarker({width * 0.4 + 0.5, height * 0.45 + 0.5}, height / 5.0, 0.3,
                     lumeko_test::randomPicture(5));
    frame.addNoise(42, noise);
    return frame;
}

// Frames by kind: 0 grey with channel noise of +-amount, 1 speckled with
// amount percent black pixels, 2 textured with channel noise of +-amount.
TestFrame benchFrame(const benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const int amount = static_cast<int>(state.range(3));
    switch (state.range(2)) {
        case 0:
            return noisyFrame(width, height, amount);
        case 1:
            return speckledFrame(width, height, amount);
        default:
            return texturedFrame(width, height, amount);
    }
}

// Loads the frames' marker into `detector`.
void loadPattern(Detector& detector) {
    char path[] = "/tmp/lumeko-bench-XXXXXX";
    const int fd = mkstemp(path);
    const std::string text = lumeko_test::patternFileText(lumeko_test::randomPicture(5));
    if (fd >= 0) {
        (void)!write(fd, text.data(), text.size());
        close(fd);
        detector.loadPattern(path);
        unlink(path);
    }
}

double micros(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

// One detection pass, stage by stage; with `refine` the markers' edges are
// refined as well (the refinement stage's time in refine_us).
void detectMarker(benchmark::State& state, bool refine) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const std::unique_ptr<Detector> detector =
        Detector::create(lumeko_test::undistortedCamera(width, height));
    if (detector == nullptr) {
        state.SkipWithError("cannot create the detector");
        return;
    }
    loadPattern(*detector);
    detector->setRefineEdges(refine);
    double refinement = 0;
    TestFrame frame = benchFrame(state);
    const MarkerInfo* markers = nullptr;
    int count = 0;
    double labeling = 0, squares = 0, identification = 0, history = 0, total = 0;
    MarkerStatus status = MarkerStatus::Ok;
    for (auto _ : state) {
        status = detector->detect(frame.image(), &markers, &count);
        const DetectionTrace& trace = detector->trace();
        labeling += micros(trace.labeling);
        squares += micros(trace.squares);
        identification += micros(trace.identification);
        history += micros(trace.history);
        refinement += micros(trace.refinement);
        total += micros(trace.total);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["label_us"] = labeling / n;
    state.counters["squares_us"] = squares / n;
    state.counters["identify_us"] = identification / n;
    state.counters["history_us"] = history / n;
    if (refine) {
        state.counters["refine_us"] = refinement / n;
    }
    state.counters["total_us"] = total / n;
    state.counters["markers"] = count;
    state.counters["status"] = static_cast<int>(status);
    const DetectionTrace& trace = detector->trace();
    state.counters["regions"] = trace.labels ? trace.labels->labelCount : -1;
}

void BM_DetectMarker(benchmark::State& state) {
    detectMarker(state, false);
}
BENCHMARK(BM_DetectMarker)
    ->Args({640, 480, 0, 0})
    ->Args({640, 480, 0, 60})
    ->Args({640, 480, 1, 10})
    ->Args({1920, 1080, 0, 0})
    ->Args({1920, 1080, 0, 60})
    ->Args({1920, 1080, 0, 70})
    ->Args({1920, 1080, 1, 1})
    ->Args({640, 480, 2, 30})  // the targets' frames: textured, noisy
    ->Args({640, 480, 2, 60})
    ->Args({1920, 1080, 2, 30})
    ->Args({1920, 1080, 2, 60})
    ->Unit(benchmark::kMillisecond);

// The same passes with edge refinement: total_us against BM_DetectMarker's
// is what refinement adds to a pass (meant to stay below a tenth).
void BM_DetectMarkerRefined(benchmark::State& state) {
    detectMarker(state, true);
}
BENCHMARK(BM_DetectMarkerRefined)
    ->Args({640, 480, 0, 0})
    ->Args({640, 480, 0, 60})
    ->Args({1920, 1080, 0, 0})
    ->Args({1920, 1080, 0, 60})
    ->Unit(benchmark::kMillisecond);

// The refinement stage alone on the frame's marker, from its plain sides.
void BM_RefineEdges(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const CameraParam camera = lumeko_test::undistortedCamera(width, height);
    const std::unique_ptr<Detector> detector = Detector::create(camera);
    TestFrame frame = benchFrame(state);
    const MarkerInfo* markers = nullptr;
    int count = 0;
    if (detector == nullptr ||
        detector->detect(frame.image(), &markers, &count) != MarkerStatus::Ok || count < 1) {
        state.SkipWithError("no marker to refine");
        return;
    }
    const MarkerInfo plain = markers[0];
    EdgeRefineStorage storage;
    int refined = 0;
    for (auto _ : state) {
        MarkerInfo marker = plain;
        refined = arRefineEdges(frame.image(), camera.distFactor, storage, marker.edgeLines,
                                marker.vertices)
                      .sides;
        benchmark::DoNotOptimize(marker);
    }
    state.counters["sides"] = refined;
}
BENCHMARK(BM_RefineEdges)
    ->Args({640, 480, 0, 0})
    ->Args({640, 480, 0, 60})
    ->Args({1920, 1080, 0, 60})
    ->Unit(benchmark::kMicrosecond);

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
        benchmark::DoNotOptimize(result);
    }
    state.counters["regions"] = result.labelCount;
}
BENCHMARK(BM_LabelImage)->Apply(noisyFrames)->Args({640, 480, 2, 60})->Args({1920, 1080, 2, 60});

// Labeling at the local thresholds (--adaptive-threshold's retry): the
// tiles' means and limits, then the labeling against them.
void BM_LabelImageLocal(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const auto storage = std::make_unique<LabelStorage>();
    arInitLabeling(*storage, width, height);
    LocalThresholdStorage local;
    arInitLocalThreshold(local, width, height);
    TestFrame frame = benchFrame(state);
    LabelResult result{};
    for (auto _ : state) {
        arTileLevels(local, frame.image());
        arLocalThresholds(local, LOCAL_WINDOW_NARROW);
        benchmark::DoNotOptimize(arLabelImageLocal(*storage, frame.image(), local, &result));
        benchmark::DoNotOptimize(result);
    }
    state.counters["regions"] = result.labelCount;
}
BENCHMARK(BM_LabelImageLocal)
    ->Apply(noisyFrames)
    ->Args({640, 480, 2, 60})
    ->Args({1920, 1080, 2, 60});

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
