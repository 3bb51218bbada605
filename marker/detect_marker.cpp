// The documented entry points over one default Detector. This file holds the
// only file-level state of marker/, and is its only user of the current camera.

#include "marker/detect_marker.h"

#include <memory>

#include "camera/camera_param.h"
#include "marker/detector.h"
#include "marker/pattern.h"

namespace {

std::unique_ptr<Detector> defaultDetector;
// Patterns loaded before the first arInitDetection; the detector it creates
// starts with them.
PatternSet earlyPatterns;
const DetectionTrace emptyTrace{};

}  // namespace

int arInitDetection(int width, int height) {
    const CameraParam& camera = arCurrentCameraParam();
    if (width != camera.xsize || height != camera.ysize) {
        return -1;
    }
    std::unique_ptr<Detector> detector = Detector::create(camera);
    if (detector == nullptr) {
        return -1;
    }
    detector->setPatterns(arPatternSet());
    defaultDetector = std::move(detector);
    return 0;
}

int arDetectMarker(const FrameImage& frame, int threshold, const MarkerInfo** markers, int* count) {
    if (defaultDetector == nullptr) {
        *count = 0;
        return -1;
    }
    return defaultDetector->detect(frame, threshold, markers, count);
}

int arLoadPattern(const char* filename) {
    PatternLoadError error = PatternLoadError::None;
    if (defaultDetector != nullptr) {
        return defaultDetector->loadPattern(filename, &error);
    }
    return arLoadPatternFile(earlyPatterns, filename, &error);
}

const DetectionTrace& arDetectionTrace() {
    return defaultDetector != nullptr ? defaultDetector->trace() : emptyTrace;
}

const PatternSet& arPatternSet() {
    return defaultDetector != nullptr ? defaultDetector->patterns() : earlyPatterns;
}
