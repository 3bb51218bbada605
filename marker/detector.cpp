#include "marker/detector.h"

#include <chrono>
#include <new>

#include "marker/pattern_match.h"

namespace {

using Clock = std::chrono::steady_clock;

// Time since `start`, and restarts it.
Clock::duration lap(Clock::time_point& start) {
    const Clock::time_point now = Clock::now();
    const Clock::duration elapsed = now - start;
    start = now;
    return elapsed;
}

// Fits the edges of each of `count` candidates and identifies its pattern
// into `markers`, in candidate order; candidates whose edges cannot be fitted
// are dropped. Returns the number of markers.
int identifyMarkers(const FrameImage& frame, const CameraParam& camera, const PatternSet& patterns,
                    EdgeLineStorage& edgeStorage, const MarkerCandidate* candidates, int count,
                    MarkerInfo* markers) {
    int found = 0;
    for (int i = 0; i < count; i++) {
        const MarkerCandidate& candidate = candidates[i];
        MarkerInfo& marker = markers[found];
        marker.area = candidate.area;
        marker.centre = candidate.centre;
        if (arFitEdgeLines(camera.distFactor, edgeStorage, candidate.contourX, candidate.contourY,
                           candidate.cornerIndex, marker.edgeLines, marker.vertices) < 0) {
            continue;
        }
        arPatternCode(patterns, frame, candidate.contourX, candidate.contourY,
                      candidate.cornerIndex, &marker.id, &marker.direction, &marker.confidence);
        found++;
    }
    return found;
}

}  // namespace

Detector::Detector(const CameraParam& camera) : camera_(camera) {}

std::unique_ptr<Detector> Detector::create(const CameraParam& camera) {
    if (camera.xsize <= 0 || camera.ysize <= 0) {
        return nullptr;
    }
    std::unique_ptr<Detector> detector(new (std::nothrow) Detector(camera));
    if (detector == nullptr ||
        arInitLabeling(detector->labelStorage_, camera.xsize, camera.ysize) < 0) {
        return nullptr;
    }
    return detector;
}

int Detector::loadPattern(const char* filename, PatternLoadError* error) {
    return arLoadPatternFile(patterns_, filename, error);
}

int Detector::detect(const FrameImage& frame, int threshold, const MarkerInfo** markers,
                     int* count) {
    *count = 0;
    trace_ = DetectionTrace{};
    const Clock::time_point passStart = Clock::now();
    Clock::time_point stageStart = passStart;

    if (frame.pixels == nullptr || frame.width != camera_.xsize || frame.height != camera_.ysize ||
        arLabelImage(labelStorage_, frame, threshold, &labelResult_) == nullptr) {
        return -1;
    }
    trace_.labeling = lap(stageStart);
    trace_.labels = &labelResult_;

    const int candidateCount = arDetectSquares(labelResult_, REGION_AREA_MAX, REGION_AREA_MIN,
                                               SQUARE_FIT_FACTOR, squareStorage_);
    trace_.squares = lap(stageStart);
    trace_.candidates = squareStorage_.candidates;
    trace_.candidateCount = candidateCount;
    trace_.contourFailures = {squareStorage_.contourFailures,
                              static_cast<size_t>(squareStorage_.contourFailureCount)};

    markerList_.count =
        identifyMarkers(frame, camera_, patterns_, edgeStorage_, squareStorage_.candidates,
                        candidateCount, markerList_.markers);
    trace_.identification = lap(stageStart);

    arSteadyMarkers(history_, markerList_);
    trace_.history = lap(stageStart);
    trace_.total = Clock::now() - passStart;

    *markers = markerList_.markers;
    *count = markerList_.count;
    return 0;
}
