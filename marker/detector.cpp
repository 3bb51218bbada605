#include "marker/detector.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <new>

#include "marker/outline_fit.h"
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
// are dropped, and with `strictOutline` those whose fitted corners miss their
// outline (arCornersOffOutline): the most confident of these identified as
// `sought` (any pattern when -1) goes to `doubted` when more confident than
// it. Returns the number of markers.
int identifyMarkers(const FrameImage& frame, const CameraParam& camera, const PatternSet& patterns,
                    EdgeLineStorage& edgeStorage, const MarkerCandidate* candidates, int count,
                    bool robustSides, bool strictOutline, int sought, MarkerInfo* markers,
                    MarkerInfo& doubted) {
    int found = 0;
    for (int i = 0; i < count; i++) {
        const MarkerCandidate& candidate = candidates[i];
        MarkerInfo& marker = markers[found];
        marker.area = candidate.area;
        marker.centre = candidate.centre;
        marker.interrupted = candidate.interruption[0] <= candidate.interruption[1];
        if (arFitEdgeLines(camera.distFactor, edgeStorage, candidate, marker.edgeLines,
                           marker.vertices, robustSides) != MarkerStatus::Ok) {
            continue;
        }
        const bool offOutline =
            strictOutline &&
            arCornersOffOutline(camera.distFactor, candidate.contourX, candidate.contourY,
                                candidate.pointCount, marker.vertices) > OUTLINE_CORNERS_OFF_MAX;
        arPatternCode(patterns, frame, candidate.contourX, candidate.contourY,
                      candidate.cornerIndex, &marker.id, &marker.direction, &marker.confidence);
        if (!offOutline) {
            found++;
        } else if (marker.id >= 0 && (sought < 0 || marker.id == sought) &&
                   marker.confidence >= CONFIDENCE_MIN && marker.confidence > doubted.confidence) {
            doubted = marker;
        }
    }
    return found;
}

}  // namespace

int arRegionAreaMax(int width, int height, const DetectorSettings& settings) {
    if (!settings.largeMarkers) {
        return REGION_AREA_MAX;
    }
    const double scale = static_cast<double>(width) * height / (640.0 * 480.0);
    const double scaled = std::floor(REGION_AREA_MAX * scale);
    return static_cast<int>(std::clamp<double>(scaled, REGION_AREA_MAX, INT32_MAX));
}

Detector::Detector(const CameraParam& camera, const DetectorSettings& settings)
    : camera_(camera), settings_(settings), refineEdges_(settings.refineEdges) {
    arSetEdgeEveryPixel(refineStorage_, settings.refineEveryPixel);
}

std::unique_ptr<Detector> Detector::create(const CameraParam& camera,
                                           const DetectorSettings& settings) {
    return make(camera, settings, true);
}

std::unique_ptr<Detector> Detector::make(const CameraParam& camera,
                                         const DetectorSettings& settings, bool glance) {
    if (camera.xsize <= 0 || camera.ysize <= 0 || settings.labelCapacity < 0) {
        return nullptr;
    }
    std::unique_ptr<Detector> detector(new (std::nothrow) Detector(camera, settings));
    if (detector == nullptr || arInitLabeling(detector->labelStorage_, camera.xsize, camera.ysize,
                                              settings.labelCapacity) != MarkerStatus::Ok) {
        return nullptr;
    }
    // Tracing gives up at most once per region, and there are no more
    // regions than provisional labels.
    if (arInitSquareStorage(detector->squareStorage_, detector->labelStorage_.labelCapacity) !=
        MarkerStatus::Ok) {
        return nullptr;
    }
    if (settings.localRetry && arInitLocalThreshold(detector->localStorage_, camera.xsize,
                                                    camera.ysize) != MarkerStatus::Ok) {
        return nullptr;
    }
    detector->regionAreaMax_ = arRegionAreaMax(camera.xsize, camera.ysize, settings);
    if (glance && (settings.thresholdRetry || settings.localRetry) &&
        !createGlance(*detector, camera, settings)) {
        return nullptr;
    }
    return detector;
}

bool Detector::createGlance(Detector& detector, const CameraParam& camera,
                            const DetectorSettings& settings) {
    CameraParam half;
    if (camera.xsize < 2 * GLANCE_SIZE_MIN || camera.ysize < 2 * GLANCE_SIZE_MIN ||
        arResizeCameraParam(camera, camera.xsize / 2, camera.ysize / 2, half) != CameraStatus::Ok) {
        return true;  // too small a frame to glance at: the retries always run
    }
    DetectorSettings glance = settings;
    glance.refineEdges = false;
    glance.strictHistory = false;
    detector.glance_ = make(half, glance, false);
    detector.halfPixels_.reset(
        new (std::nothrow) unsigned char[4 * static_cast<size_t>(half.xsize) * half.ysize]);
    detector.half_ = {detector.halfPixels_.get(), half.xsize, half.ysize};
    return detector.glance_ != nullptr && detector.halfPixels_ != nullptr;
}

PatternLoad Detector::loadPattern(const char* filename) {
    const PatternLoad load = arLoadPatternFile(patterns_, filename);
    if (glance_ != nullptr)
        glance_->patterns_ = patterns_;
    return load;
}

void Detector::detectNothing(const MarkerInfo** markers, int* count) {
    trace_ = DetectionTrace{};
    DetectionPass& pass = passes_[0];
    startPass(pass);
    arSteadyMarkers(pass.history, pass.list);
    commit(pass);
    *markers = pass.list.markers;
    *count = pass.list.count;
}

MarkerStatus Detector::detect(const FrameImage& frame, const MarkerInfo** markers, int* count) {
    *count = 0;
    seenCount_ = 0;
    doubted_ = MarkerInfo{};
    if (frame.pixels == nullptr || frame.width != camera_.xsize || frame.height != camera_.ysize) {
        trace_ = DetectionTrace{};
        return MarkerStatus::BadFrame;
    }
    DetectionPass* kept = &passes_[0];
    const MarkerStatus status =
        detectPending(frame, {PassThreshold::Kind::Level, settings_.threshold}, *kept);
    if (status == MarkerStatus::Ok &&
        (settings_.thresholdRetry || settings_.localRetry || settings_.paperRetry)) {
        if (!seeSoughtMarker(*kept))
            kept = &retryAtChosenThresholds(frame, *kept);
        framesUnseen_ = kept == &passes_[0] && !seeSoughtMarker(*kept) ? framesUnseen_ + 1 : 0;
    }
    commit(*kept);
    if (status != MarkerStatus::Ok) {
        return status;
    }
    *markers = kept->list.markers;
    *count = kept->list.count;
    return MarkerStatus::Ok;
}

bool Detector::seeSoughtMarker(const DetectionPass& pass) {
    SeenMarker seen;
    if (arSeenMarker(pass.list, pass.seenCount, soughtPattern_, &seen) != MarkerStatus::Ok) {
        return false;
    }
    lastSeen_ = seen;
    return true;
}

Detector::DetectionPass& Detector::retryAtChosenThresholds(const FrameImage& frame,
                                                           DetectionPass& first) {
    using Kind = PassThreshold::Kind;
    PassThreshold thresholds[RETRY_THRESHOLD_MAX + 3];
    int tries = 0;
    if (settings_.localRetry) {
        thresholds[tries++] = {Kind::LocalNarrow, 0};
        thresholds[tries++] = {Kind::LocalWide, 0};
    }
    if (settings_.thresholdRetry || settings_.paperRetry)
        arCountGreyLevels(frame, &wholeLevels_);
    if (settings_.thresholdRetry) {
        int chosen[RETRY_THRESHOLD_MAX];
        const int count =
            arRetryThresholds(frame, lastSeen_, wholeLevels_, settings_.threshold, chosen);
        for (int i = 0; i < count; i++) {
            thresholds[tries++] = {Kind::Level, chosen[i]};
        }
    }
    int paper = 0;
    if (settings_.paperRetry && choosePaperThreshold(wholeLevels_, &paper) == MarkerStatus::Ok &&
        paper != settings_.threshold)
        thresholds[tries++] = {Kind::Level, paper};
    if (framesUnseen_ >= GLANCE_AFTER && glance_ != nullptr &&
        !glanceSeesMarker(frame, thresholds, tries)) {
        retriesSpared_++;
        return first;
    }
    if (settings_.localRetry)
        arTileLevels(localStorage_, frame);
    DetectionPass& retry = passes_[1];
    for (int i = 0; i < tries; i++) {
        if (detectPending(frame, thresholds[i], retry) == MarkerStatus::Ok &&
            seeSoughtMarker(retry)) {
            return retry;
        }
    }
    return first;
}

MarkerStatus Detector::labelAt(const FrameImage& frame, PassThreshold threshold) {
    if (threshold.kind == PassThreshold::Kind::Level)
        return arLabelImage(labelStorage_, frame, threshold.level, &labelResult_);
    arLocalThresholds(localStorage_, threshold.kind == PassThreshold::Kind::LocalNarrow
                                         ? LOCAL_WINDOW_NARROW
                                         : LOCAL_WINDOW_WIDE);
    return arLabelImageLocal(labelStorage_, frame, localStorage_, &labelResult_);
}

bool Detector::glanceSeesMarker(const FrameImage& frame, const PassThreshold* thresholds,
                                int count) {
    Detector& glance = *glance_;
    arHalvePicture(frame, half_);
    if (settings_.localRetry)
        arTileLevels(glance.localStorage_, half_);
    for (int i = 0; i < count; i++) {
        if (glance.labelAt(half_, thresholds[i]) != MarkerStatus::Ok)
            return true;
        const int candidates =
            arDetectSquares(glance.labelResult_, glance.regionAreaMax_, REGION_AREA_MIN,
                            SQUARE_FIT_FACTOR, glance.squareStorage_, settings_.robustSides);
        if (glanceMatches(candidates))
            return true;
    }
    return false;
}

bool Detector::glanceMatches(int candidates) const {
    // Only the match counts here: the sides are fitted if the retries run.
    const Detector& glance = *glance_;
    for (int i = 0; i < candidates; i++) {
        const MarkerCandidate& square = glance.squareStorage_.candidates[i];
        int id = -1;
        int direction = 0;
        double confidence = 0.0;
        arPatternCode(glance.patterns_, half_, square.contourX, square.contourY, square.cornerIndex,
                      &id, &direction, &confidence);
        if (id >= 0 && (soughtPattern_ < 0 || id == soughtPattern_) &&
            confidence >= GLANCE_CONFIDENCE_MIN)
            return true;
    }
    return false;
}

void Detector::commit(const DetectionPass& pass) {
    history_.count = pass.history.count;
    std::copy_n(pass.history.entries, pass.history.count, history_.entries);
    seenCount_ = pass.seenCount;
}

void Detector::startPass(DetectionPass& pass) const {
    pass.list.count = 0;
    pass.history.count = history_.count;
    std::copy_n(history_.entries, history_.count, pass.history.entries);
    pass.seenCount = 0;
}

int Detector::identifySquares(const FrameImage& frame, int* label, DetectionPass& pass) {
    Clock::time_point start = Clock::now();
    const int count =
        arDetectSquares(labelResult_, regionAreaMax_, REGION_AREA_MIN, SQUARE_FIT_FACTOR,
                        squareStorage_, settings_.robustSides, label);
    trace_.squares += lap(start);
    pass.list.count =
        identifyMarkers(frame, camera_, patterns_, edgeStorage_, squareStorage_.candidates, count,
                        settings_.robustSides, settings_.strictHistory, soughtPattern_,
                        pass.list.markers, doubted_);
    pass.seenCount = pass.list.count;
    trace_.identification += lap(start);
    return count;
}

bool Detector::listHoldsSought(const DetectionPass& pass) const {
    SeenMarker seen;
    return arSeenMarker(pass.list, pass.seenCount, soughtPattern_, &seen) == MarkerStatus::Ok;
}

int Detector::findMarkers(const FrameImage& frame, DetectionPass& pass) {
    int label = 1;
    const int count = identifySquares(frame, &label, pass);
    if (!settings_.moreSquares || label > labelResult_.labelCount)
        return count;
    if (soughtPattern_ < 0)
        return gatherMarkers(frame, label, pass);
    if (listHoldsSought(pass))
        return count;
    while (label <= labelResult_.labelCount) {
        const int more = identifySquares(frame, &label, pass);
        if (listHoldsSought(pass))
            return more;
    }
    label = 1;
    return identifySquares(frame, &label, pass);
}

int Detector::gatherMarkers(const FrameImage& frame, int label, DetectionPass& pass) {
    MarkerList& gathered = gathered_;
    gathered.count = pass.list.count;
    std::copy_n(pass.list.markers, pass.list.count, gathered.markers);
    int replaceable = gathered.count;  // the first list's squares before this may be replaced
    const auto place = [&](const MarkerInfo& marker) {
        if (gathered.count < MARKER_MAX) {
            gathered.markers[gathered.count++] = marker;
            return true;
        }
        while (replaceable > 0 && arIdentified(gathered.markers[replaceable - 1]))
            replaceable--;
        if (replaceable == 0)
            return false;
        gathered.markers[--replaceable] = marker;
        return true;
    };
    int count = 0;
    bool room = true;
    while (room && label <= labelResult_.labelCount) {
        count = identifySquares(frame, &label, pass);
        for (int i = 0; room && i < pass.list.count; i++) {
            if (arIdentified(pass.list.markers[i]))
                room = place(pass.list.markers[i]);
        }
    }
    pass.list.count = pass.seenCount = gathered.count;
    std::copy_n(gathered.markers, gathered.count, pass.list.markers);
    return count;
}

MarkerStatus Detector::detectPending(const FrameImage& frame, PassThreshold threshold,
                                     DetectionPass& pass) {
    trace_ = DetectionTrace{};
    const Clock::time_point passStart = Clock::now();
    Clock::time_point stageStart = passStart;
    MarkerList& list = pass.list;
    startPass(pass);

    if (labelAt(frame, threshold) != MarkerStatus::Ok) {
        // A frame in which nothing was seen, for the history as well.
        list.count = 0;
        arSteadyMarkers(pass.history, list);
        list.count = 0;
        return MarkerStatus::CapacityExceeded;
    }
    trace_.labeling = lap(stageStart);
    trace_.labels = &labelResult_;

    const int candidateCount = findMarkers(frame, pass);
    stageStart = Clock::now();
    trace_.candidates = squareStorage_.candidates;
    trace_.candidateCount = candidateCount;
    trace_.contourFailures = {squareStorage_.contourFailures.get(),
                              static_cast<size_t>(squareStorage_.contourFailureCount)};

    if (refineEdges_) {
        // Sub-pixel edges only for the markers that may keep an identity: the
        // others (patches of texture, mostly) leave the pass unused.
        arMarkersKeepingIdentity(pass.history, list, keepsIdentity_);
        for (int i = 0; i < list.count; i++) {
            if (!keepsIdentity_[i])
                continue;
            MarkerInfo& marker = list.markers[i];
            const EdgeRefinement refined = arRefineEdges(frame, camera_.distFactor, refineStorage_,
                                                         marker.edgeLines, marker.vertices);
            marker.rampWidth = refined.rampWidth;
            marker.narrowestRamp = refined.narrowestRamp;
        }
        trace_.refinement = lap(stageStart);
    }

    if (settings_.strictHistory) {
        arQuestionNestedMarkers(labelResult_, list);
    }
    arSteadyMarkers(pass.history, list, settings_.strictHistory);
    trace_.history = lap(stageStart);
    trace_.total = Clock::now() - passStart;
    return MarkerStatus::Ok;
}
