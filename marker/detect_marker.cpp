#include "marker/detect_marker.h"

#include <chrono>

#include "camera/camera_param.h"
#include "marker/detection_trace.h"
#include "marker/edge_lines.h"
#include "marker/labeling.h"
#include "marker/marker_history.h"
#include "marker/pattern_match.h"
#include "marker/square_candidates.h"

namespace {

using Clock = std::chrono::steady_clock;

MarkerList markerList;
MarkerHistory markerHistory;
LabelResult labelResult;
DetectionTrace trace;

bool frameHasWorkingSize(const FrameImage& frame) {
    return frame.pixels != nullptr && frame.width == arWorkingWidth() &&
           frame.height == arWorkingHeight();
}

// Time since `start`, and restarts it.
Clock::duration lap(Clock::time_point& start) {
    const Clock::time_point now = Clock::now();
    const Clock::duration elapsed = now - start;
    start = now;
    return elapsed;
}

}  // namespace

const DetectionTrace& arDetectionTrace() {
    return trace;
}

int arInitDetection(int width, int height) {
    return arInitLabeling(width, height);
}

// Fits the edges of each candidate and identifies its pattern; candidates
// whose edges cannot be fitted are dropped. `count` goes in as the number of
// candidates and comes back as the number of markers.
void arIdentifyMarkers(const FrameImage& frame, const MarkerCandidate* candidates,
                       MarkerInfo* markers, int* count) {
    int found = 0;
    for (int i = 0; i < *count; i++) {
        const MarkerCandidate& candidate = candidates[i];
        MarkerInfo& marker = markers[found];
        marker.area = candidate.area;
        marker.centre = candidate.centre;
        if (arFitEdgeLines(candidate.contourX, candidate.contourY, candidate.pointCount,
                           candidate.cornerIndex, marker.edgeLines, marker.vertices) < 0) {
            continue;
        }
        arPatternCode(frame, candidate.contourX, candidate.contourY, candidate.cornerIndex,
                      &marker.id, &marker.direction, &marker.confidence);
        found++;
    }
    *count = found;
}

int arDetectMarker(const FrameImage& frame, int threshold, const MarkerInfo** markers, int* count) {
    *count = 0;
    trace = DetectionTrace{};
    const Clock::time_point passStart = Clock::now();
    Clock::time_point stageStart = passStart;

    if (!frameHasWorkingSize(frame) || arLabelImage(frame, threshold, &labelResult) == nullptr) {
        return -1;
    }
    trace.labeling = lap(stageStart);
    trace.labels = &labelResult;

    int candidateCount = 0;
    const MarkerCandidate* candidates = arDetectSquares(
        labelResult, REGION_AREA_MAX, REGION_AREA_MIN, SQUARE_FIT_FACTOR, &candidateCount);
    trace.squares = lap(stageStart);
    trace.candidates = candidates;
    trace.candidateCount = candidateCount;

    markerList.count = candidateCount;
    arIdentifyMarkers(frame, candidates, markerList.markers, &markerList.count);
    trace.identification = lap(stageStart);
    trace.identifiedCount = markerList.count;

    arSteadyMarkers(markerHistory, markerList);
    trace.history = lap(stageStart);
    trace.total = Clock::now() - passStart;

    *markers = markerList.markers;
    *count = markerList.count;
    return 0;
}
