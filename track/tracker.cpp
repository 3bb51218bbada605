#include "track/tracker.h"

#include <cmath>
#include <exception>
#include <new>

#include "camera/distortion.h"
#include "pose/initial_rotation.h"
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
// the previous pose when there is one, else from the marker alone. A fit that
// fails keeps the pose there was, except that one which broke down
// numerically leaves no pose: the frame counts as not found and the next one
// starts afresh from its marker. A pose with the marker behind the camera is
// never kept: a continued fit that gives one is fitted afresh as on a first
// frame, and when that gives one too (or fails) the frame has no pose.
void updatePose(TrackerState& state, const CameraParam& camera, const MarkerInfo& marker) {
    const MarkerSquare square = markerSquare(marker);
    const bool continuing = state.poseContinues;
    PoseFit fit = continuing
                      ? arMarkerPoseCont(camera, square, state.cameraPose, state.patternCentre,
                                         state.patternWidth, state.poseSettings)
                      : arMarkerPose(camera, square, state.patternCentre, state.patternWidth,
                                     state.poseSettings);
    state.poseContinues = true;
    const auto behind = [&](const PoseFit& f) {
        return f.ok() && !arMarkerInFront(f.pose, state.patternCentre, state.patternWidth);
    };
    if (behind(fit)) {
        if (continuing) {
            fit = arMarkerPose(camera, square, state.patternCentre, state.patternWidth,
                               state.poseSettings);
        }
        if (!fit.ok() || behind(fit)) {
            state.poseKnown = false;
            return;
        }
    }
    if (fit.ok()) {
        state.cameraPose = fit.pose;
        state.poseError = fit.error;
        state.poseKnown = true;
    } else if (fit.status == PoseStatus::BrokeDown) {
        state.poseKnown = false;
    }
}

// The scene bridge for frames of `camera`'s size; none when its storage
// cannot be had (OpenCV throws where it cannot allocate).
std::unique_ptr<SceneBridge> makeSceneBridge(const CameraParam& camera) {
    try {
        return SceneBridge::create(camera);
    } catch (const std::exception&) {
        return nullptr;
    }
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

KeyRow trackMarkers(TrackerState& state, const CameraParam& camera, const MarkerInfo* markers,
                    int count) {
    state.chosenMarker = chooseMarker(markers, count, state.patternId);
    if (state.chosenMarker < 0) {
        state.poseContinues = false;
        return KeyRow{};
    }
    updatePose(state, camera, markers[state.chosenMarker]);
    const KeyRow row = state.poseKnown ? keyRowOfPose(state.cameraPose) : KeyRow{};
    if (row.found == 0) {
        // No pose yet, or one that broke down numerically: the frame counts
        // as not found and the next one starts afresh from its marker.
        state.poseKnown = false;
        state.poseContinues = false;
    }
    return row;
}

std::unique_ptr<Tracker> Tracker::create(const CameraParam& camera, double patternWidth,
                                         const TrackerSettings& settings) {
    std::unique_ptr<Tracker> tracker(new (std::nothrow) Tracker());
    if (tracker == nullptr)
        return nullptr;
    tracker->markerDetector = Detector::create(camera, settings.detection);
    tracker->table.reset(new (std::nothrow) KeyTable{});
    tracker->frames.reset(new (std::nothrow) FrameReport{});
    if (tracker->markerDetector == nullptr || tracker->table == nullptr ||
        tracker->frames == nullptr)
        return nullptr;
    if (settings.bridge) {
        tracker->sceneBridge = makeSceneBridge(camera);
        if (tracker->sceneBridge == nullptr)
            return nullptr;
    }
    tracker->state.patternWidth = patternWidth;
    tracker->state.poseSettings = settings.pose;
    tracker->trackerSettings = settings;
    return tracker;
}

TrackResult Tracker::loadPattern(const char* patternName) {
    PatternLoadError error = PatternLoadError::None;
    state.patternId = markerDetector->loadPattern(patternName, &error);
    markerDetector->seekPattern(state.patternId);
    if (state.patternId >= 0)
        return {};
    return error == PatternLoadError::FileMissing ? TrackFailure::PatternMissing
                                                  : TrackFailure::PatternUnreadable;
}

TrackResult Tracker::trackFrame(const FrameImage& frame) {
    const CameraParam& camera = markerDetector->camera();
    if (frame.pixels == nullptr || frame.width != camera.xsize || frame.height != camera.ysize)
        return TrackFailure::WrongFrameSize;
    const MarkerInfo* markers = nullptr;
    int count = 0;
    // For a frame of the right size, detection fails only when the frame is
    // too busy for its storage: the frame is a row without the marker.
    if (markerDetector->detect(frame, &markers, &count) < 0) {
        busy++;
        markers = nullptr;
        count = 0;
    }
    KeyRow row = trackMarkers(state, camera, markers, count);
    FrameRecord record = markerRecord(row, markers);
    if (sceneBridge != nullptr) {
        if (const TrackResult bridged = bridgeFrame(frame, record, row); !bridged.ok())
            return bridged;
    }
    return appendRow(row, record);
}

TrackResult Tracker::trackBlankFrame() {
    const MarkerInfo* markers = nullptr;
    int count = 0;
    markerDetector->detectNothing(&markers, &count);
    const KeyRow row = trackMarkers(state, markerDetector->camera(), markers, count);
    if (sceneBridge != nullptr)
        sceneBridge->forget();
    return appendRow(row, markerRecord(row, markers));
}

TrackResult Tracker::trackGap() {
    markerDetector->forgetHistory();
    state.poseKnown = false;
    state.poseContinues = false;
    if (sceneBridge != nullptr)
        sceneBridge->forget();
    return appendRow(KeyRow{}, FrameRecord{});
}

FrameRecord Tracker::markerRecord(const KeyRow& row, const MarkerInfo* markers) const {
    FrameRecord record;
    if (row.found == 0)
        return record;
    const MarkerInfo& marker = markers[state.chosenMarker];
    const bool held = state.chosenMarker >= markerDetector->seenCount();
    record.status = held ? FrameStatus::Held : FrameStatus::Marker;
    record.confidence = marker.confidence;
    for (int k = 0; k < 4; k++) {
        const ImagePoint& ideal = marker.vertices[arMarkerOrderIndex(marker.direction, k)];
        arIdealToObserved(markerDetector->camera().distFactor, ideal.x, ideal.y,
                          &record.corners[k].x, &record.corners[k].y);
    }
    record.error = std::sqrt(state.poseError);
    record.points = 4;
    return record;
}

// A marker frame anchors the scene on the marker's pose (the frame's own
// camera stays the marker's); a frame without the marker takes the scene's
// camera when the bridge gives one. A held frame keeps its held marker and
// only follows the scene. What the bridge's library throws ends here.
TrackResult Tracker::bridgeFrame(const FrameImage& frame, FrameRecord& record, KeyRow& row) try {
    sceneBridge->follow(frame);
    if (record.status == FrameStatus::Marker) {
        sceneBridge->anchor(state.cameraPose);
        return {};
    }
    if (record.status != FrameStatus::Lost)
        return {};
    const BridgeFit fit = sceneBridge->bridge();
    record.points = fit.points;
    const KeyRow bridged = fit.ok ? keyRowOfPose(fit.pose) : KeyRow{};
    if (bridged.found == 0)
        return {};
    row = bridged;
    record.status = FrameStatus::Bridged;
    record.error = fit.error;
    return {};
} catch (const std::bad_alloc&) {
    return TrackFailure::OutOfMemory;
} catch (const std::exception& failure) {
    return {TrackFailure::LibraryFailed, 0, failure.what()};
}

TrackResult Tracker::appendRow(const KeyRow& row, const FrameRecord& record) {
    if (const TrackResult appended = appendKeyRow(*table, row); !appended.ok())
        return appended;
    frames->rows[frames->count++] = record;
    return {};
}

void Tracker::smooth() {
    if (!trackerSettings.noSmoothing)
        smoothKeyTable(*table);
}
