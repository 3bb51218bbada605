#include "track/tracker.h"

#include <algorithm>
#include <new>

#include "track/auto_threshold.h"

#include "pose/marker_pose.h"

namespace {

// The geometry pose estimation works from.
MarkerSquare markerSquare(const MarkerInfo& marker) {
    MarkerSquare square{};
    square.direction = marker.direction;
    for (int i = 0; i < 4; i++) {
        square.edgeLines[i] = marker.edgeLines[i];
        square.vertices[i] = marker.vertices[i];
    }
    return square;
}

// Updates the marker-to-camera pose from the chosen marker: continuing from
// the previous pose when there is one, else from the marker alone.
void updatePose(TrackerState& state, const CameraParam& camera, const MarkerInfo& marker) {
    MarkerSquare square = markerSquare(marker);
    // A pose that broke down numerically leaves no pose: the frame counts as
    // not found and the next one starts afresh from its marker.
    if (state.poseContinues == 1) {
        if (arMarkerPoseCont(camera, square, state.cameraPose, state.patternCentre,
                             state.patternWidth, state.cameraPose,
                             state.poseSettings) == POSE_BROKE_DOWN) {
            state.poseKnown = 0;
        }
        return;
    }
    const double err = arMarkerPose(camera, square, state.patternCentre, state.patternWidth,
                                    state.cameraPose, state.poseSettings);
    if (err >= 0.0) {
        state.poseKnown = 1;
    } else if (err == POSE_BROKE_DOWN) {
        state.poseKnown = 0;
    }
    state.poseContinues = 1;
}

}  // namespace

int chooseMarker(const MarkerInfo* markers, int count, int patternId) {
    int chosen = -1;
    for (int i = 0; i < count; i++) {
        if (!(markers[i].confidence >= CHOOSE_CONFIDENCE_MIN) || markers[i].id != patternId) {
            continue;
        }
        if (chosen == -1 || markers[i].confidence > markers[chosen].confidence) {
            chosen = i;
        }
    }
    return chosen;
}

int trackMarkers(TrackerState& state, const CameraParam& camera, const MarkerInfo* markers,
                 int count, CameraKey* key) {
    state.chosenMarker = chooseMarker(markers, count, state.patternId);
    if (state.chosenMarker < 0) {
        state.poseContinues = 0;
        return 0;
    }
    updatePose(state, camera, markers[state.chosenMarker]);
    if (state.poseKnown == 0 || poseToCameraKey(state.cameraPose, key) < 0) {
        // No pose yet, or one that broke down numerically: the frame counts
        // as not found and the next one starts afresh from its marker.
        state.poseKnown = 0;
        state.poseContinues = 0;
        return 0;
    }
    return 1;
}

std::unique_ptr<Tracker> Tracker::create(const CameraParam& camera, double patternWidth,
                                         const TrackerSettings& settings) {
    std::unique_ptr<Tracker> tracker(new (std::nothrow) Tracker());
    if (tracker == nullptr)
        return nullptr;
    DetectorSettings detection;
    detection.largeMarkers = settings.largeMarkers;
    detection.labelCapacity = settings.labelCapacity;
    tracker->markerDetector = Detector::create(camera, detection);
    tracker->table.reset(new (std::nothrow) KeyTable{});
    if (tracker->markerDetector == nullptr || tracker->table == nullptr)
        return nullptr;
    tracker->state.patternWidth = patternWidth;
    tracker->trackerSettings = settings;
    tracker->setRefine(settings.refine);
    return tracker;
}

void Tracker::setRefine(bool on) {
    markerDetector->setRefineEdges(on);
    state.poseSettings.refine = on;
}

int Tracker::loadPattern(const char* patternName, PatternLoadError* error) {
    state.patternId = markerDetector->loadPattern(patternName, error);
    return state.patternId < 0 ? -1 : 0;
}

TrackStatus Tracker::track(const FrameImage& frame) {
    const CameraParam& camera = markerDetector->camera();
    if (frame.pixels == nullptr || frame.width != camera.xsize || frame.height != camera.ysize)
        return TrackStatus::DetectionFailed;
    const MarkerInfo* markers = nullptr;
    int count = 0;
    // For a frame of the right size, detection fails only when the frame is
    // too busy for its storage: the frame is a row without the marker.
    if (trackerSettings.autoThreshold)
        historyBefore = markerDetector->history();
    if (markerDetector->detect(frame, DETECT_THRESHOLD, &markers, &count) < 0) {
        busy++;
        markers = nullptr;
        count = 0;
    } else if (trackerSettings.autoThreshold) {
        retryAtChosenThreshold(frame, &markers, &count);
    }
    CameraKey key{};
    const int found = trackMarkers(state, markerDetector->camera(), markers, count, &key);
    if (appendKeyRow(*table, found, key.x, key.y, key.z, key.rotY, key.rotX, key.rotZ) < 0)
        return TrackStatus::TableFull;
    return TrackStatus::Tracked;
}

TrackStatus Tracker::trackAbsent() {
    markerDetector->restoreHistory(MarkerHistory{});
    state.poseKnown = 0;
    state.poseContinues = 0;
    if (appendKeyRow(*table, 0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0) < 0)
        return TrackStatus::TableFull;
    return TrackStatus::Tracked;
}

TrackStatus Tracker::trackNothing() {
    // (A retry at another threshold sees nothing in a blank frame either.)
    const MarkerInfo* markers = nullptr;
    int count = 0;
    markerDetector->detectNothing(&markers, &count);
    CameraKey key{};
    const int found = trackMarkers(state, markerDetector->camera(), markers, count, &key);
    if (appendKeyRow(*table, found, key.x, key.y, key.z, key.rotY, key.rotX, key.rotZ) < 0)
        return TrackStatus::TableFull;
    return TrackStatus::Tracked;
}

bool Tracker::rememberSeenMarker(const MarkerInfo* markers) {
    const int seen = chooseMarker(markers, markerDetector->seenCount(), state.patternId);
    if (seen < 0)
        return false;
    lastSeenCentre = markers[seen].centre;
    lastSeenArea = markers[seen].area;
    return true;
}

void Tracker::retryAtChosenThreshold(const FrameImage& frame, const MarkerInfo** markers,
                                     int* count) {
    if (rememberSeenMarker(*markers))
        return;
    historyAfterFirst = markerDetector->history();
    std::copy_n(*markers, *count, firstPass.markers);
    firstPass.count = *count;
    // Around where the marker was last seen the grey levels are mostly its
    // ink and the paper around it; before the first find, the whole frame's.
    int thresholds[2] = {-1, chooseThreshold(frame, {0, 0, frame.width, frame.height})};
    if (lastSeenArea > 0)
        thresholds[0] = chooseThreshold(
            frame, boxAroundMarker(lastSeenCentre.x, lastSeenCentre.y, lastSeenArea));
    for (int i = 0; i < 2; i++) {
        const int threshold = thresholds[i];
        if (threshold < 0 || threshold == DETECT_THRESHOLD ||
            (i == 1 && threshold == thresholds[0]))
            continue;
        markerDetector->restoreHistory(historyBefore);
        const MarkerInfo* retried = nullptr;
        int retriedCount = 0;
        if (markerDetector->detect(frame, threshold, &retried, &retriedCount) == 0 &&
            rememberSeenMarker(retried)) {
            *markers = retried;
            *count = retriedCount;
            return;
        }
    }
    markerDetector->restoreHistory(historyAfterFirst);
    *markers = firstPass.markers;
    *count = firstPass.count;
}

void Tracker::smooth() {
    smoothKeyTable(*table);
}
