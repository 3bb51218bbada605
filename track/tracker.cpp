#include "track/tracker.h"

#include <cmath>
#include <new>
#include <optional>

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
    const bool continuing = state.poseContinues == 1;
    PoseFit fit = continuing
                      ? arMarkerPoseCont(camera, square, state.cameraPose, state.patternCentre,
                                         state.patternWidth, state.poseSettings)
                      : arMarkerPose(camera, square, state.patternCentre, state.patternWidth,
                                     state.poseSettings);
    state.poseContinues = 1;
    const auto behind = [&](const PoseFit& f) {
        return f.ok() && !arMarkerInFront(f.pose, state.patternCentre, state.patternWidth);
    };
    if (behind(fit)) {
        if (continuing) {
            fit = arMarkerPose(camera, square, state.patternCentre, state.patternWidth,
                               state.poseSettings);
        }
        if (!fit.ok() || behind(fit)) {
            state.poseKnown = 0;
            return;
        }
    }
    if (fit.ok()) {
        state.cameraPose = fit.pose;
        state.poseError = fit.error;
        state.poseKnown = 1;
    } else if (fit.status == PoseStatus::BrokeDown) {
        state.poseKnown = 0;
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

int trackMarkers(TrackerState& state, const CameraParam& camera, const MarkerInfo* markers,
                 int count, CameraKey* key) {
    state.chosenMarker = chooseMarker(markers, count, state.patternId);
    if (state.chosenMarker < 0) {
        state.poseContinues = 0;
        return 0;
    }
    updatePose(state, camera, markers[state.chosenMarker]);
    const std::optional<CameraKey> values =
        state.poseKnown == 0 ? std::nullopt : poseToCameraKey(state.cameraPose);
    if (!values) {
        // No pose yet, or one that broke down numerically: the frame counts
        // as not found and the next one starts afresh from its marker.
        state.poseKnown = 0;
        state.poseContinues = 0;
        return 0;
    }
    *key = *values;
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
    detection.thresholdRetry = settings.autoThreshold;
    detection.localRetry = settings.adaptiveThreshold;
    detection.strictHistory = settings.strictHistory;
    detection.robustSides = settings.robustSides;
    tracker->markerDetector = Detector::create(camera, detection);
    tracker->table.reset(new (std::nothrow) KeyTable{});
    tracker->frames.reset(new (std::nothrow) FrameReport{});
    if (tracker->markerDetector == nullptr || tracker->table == nullptr ||
        tracker->frames == nullptr)
        return nullptr;
    if (settings.bridge) {
        tracker->sceneBridge = SceneBridge::create(camera);
        if (tracker->sceneBridge == nullptr)
            return nullptr;
    }
    tracker->state.patternWidth = patternWidth;
    tracker->trackerSettings = settings;
    tracker->setRefine(settings.refine);
    tracker->markerDetector->setTransferCurve(settings.transfer);
    return tracker;
}

void Tracker::setRefine(bool on) {
    markerDetector->setRefineEdges(on);
    state.poseSettings.refine = on;
}

PatternLoad Tracker::loadPattern(const char* patternName) {
    const PatternLoad load = markerDetector->loadPattern(patternName);
    state.patternId = load.ok() ? load.id : -1;
    markerDetector->seekPattern(state.patternId);
    if (!load.ok() || !trackerSettings.follow)
        return load;
    unsigned char picture[PATTERN_VALUES];
    const PatternLoad read = arReadPatternPicture(patternName, picture);
    if (!read.ok())
        return read;
    follower = MarkerFollow::create(markerDetector->camera(), picture, state.patternWidth,
                                    trackerSettings.transfer);
    if (follower == nullptr)
        return {MarkerStatus::OutOfMemory, 0, ENOMEM};
    return load;
}

TrackStatus Tracker::track(const FrameImage& frame) {
    const CameraParam& camera = markerDetector->camera();
    if (frame.pixels == nullptr || frame.width != camera.xsize || frame.height != camera.ysize)
        return TrackStatus::DetectionFailed;
    const MarkerInfo* markers = nullptr;
    int count = 0;
    // For a frame of the right size, detection fails only when the frame is
    // too busy for its storage: the frame is a row without the marker.
    if (markerDetector->detect(frame, &markers, &count) != MarkerStatus::Ok) {
        busy++;
        markers = nullptr;
        count = 0;
    }
    CameraKey key{};
    int found = trackMarkers(state, markerDetector->camera(), markers, count, &key);
    FrameRecord record = markerRecord(found, markers);
    // A marker whose edges are smeared gives a pose the scene is not anchored
    // on, unless its drawing was aligned with the frame.
    bool sharp = record.status == FrameStatus::Marker &&
                 markers[state.chosenMarker].rampWidth <= FOLLOW_SMEAR_WIDTH;
    if (follower != nullptr)
        sharp = followFrame(frame, markers, record, found, key);
    if (sceneBridge != nullptr)
        bridgeFrame(frame, sharp, record, found, key);
    return appendRow(found, key, record);
}

TrackStatus Tracker::trackAbsent() {
    markerDetector->forgetHistory();
    state.poseKnown = 0;
    state.poseContinues = 0;
    if (sceneBridge != nullptr)
        sceneBridge->forget();
    if (follower != nullptr)
        follower->forget();
    return appendRow(0, CameraKey{}, FrameRecord{});
}

TrackStatus Tracker::trackNothing() {
    const MarkerInfo* markers = nullptr;
    int count = 0;
    markerDetector->detectNothing(&markers, &count);
    CameraKey key{};
    const int found = trackMarkers(state, markerDetector->camera(), markers, count, &key);
    if (sceneBridge != nullptr)
        sceneBridge->forget();
    if (follower != nullptr)
        follower->forget();
    return appendRow(found, key, markerRecord(found, markers));
}

FrameRecord Tracker::markerRecord(int found, const MarkerInfo* markers) const {
    FrameRecord record;
    if (found == 0)
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

// A sharp marker frame anchors the scene on the marker's pose (the frame's
// own camera stays the marker's); a frame without the marker takes the
// scene's camera when the bridge gives one. A held or followed frame, or
// one whose marker is smeared, keeps its camera and only follows the scene.
void Tracker::bridgeFrame(const FrameImage& frame, bool sharp, FrameRecord& record, int& found,
                          CameraKey& key) {
    sceneBridge->follow(frame);
    if (record.status == FrameStatus::Marker) {
        if (sharp)
            sceneBridge->anchor(state.cameraPose);
        return;
    }
    if (record.status != FrameStatus::Lost)
        return;
    const BridgeFit fit = sceneBridge->bridge();
    record.points = fit.points;
    const std::optional<CameraKey> values = fit.ok() ? poseToCameraKey(fit.pose) : std::nullopt;
    if (!values)
        return;
    key = *values;
    found = 1;
    record.status = FrameStatus::Bridged;
    record.error = fit.error;
}

bool Tracker::followFrame(const FrameImage& frame, const MarkerInfo* markers, FrameRecord& record,
                          int& found, CameraKey& key) {
    const long index = frames->count;
    if (record.status == FrameStatus::Marker) {
        const double ramp = markers[state.chosenMarker].rampWidth;
        if (!follower->smeared(index, state.cameraPose, ramp)) {
            follower->found(index, state.cameraPose);
            return true;
        }
        const FollowFit fit = follower->refine(index, frame, state.cameraPose, ramp);
        const std::optional<CameraKey> values = fit.ok ? poseToCameraKey(fit.pose) : std::nullopt;
        if (!values)
            return false;
        state.cameraPose = fit.pose;
        key = *values;
        return true;
    }
    const FollowFit fit = follower->follow(index, frame);
    const std::optional<CameraKey> values = fit.ok ? poseToCameraKey(fit.pose) : std::nullopt;
    if (!values) {
        // A marker held where the motion says it no longer is gives no camera.
        if (record.status == FrameStatus::Held && follower->movedFrom(index, state.cameraPose)) {
            found = 0;
            record = FrameRecord{};
        }
        return false;
    }
    key = *values;
    found = 1;
    state.cameraPose = fit.pose;
    state.poseKnown = 1;
    record = FrameRecord{};
    record.status = FrameStatus::Followed;
    const double h = 0.5 * state.patternWidth;
    // The printed picture's top-left corner first, clockwise as printed.
    const double corners[4][2] = {{-h, h}, {h, h}, {h, -h}, {-h, -h}};
    const CameraParam& camera = markerDetector->camera();
    for (int k = 0; k < 4; k++) {
        double X[3], p[3];
        for (int r = 0; r < 3; r++)
            X[r] = fit.pose.m[r][0] * corners[k][0] + fit.pose.m[r][1] * corners[k][1] +
                   fit.pose.m[r][3];
        for (int r = 0; r < 3; r++)
            p[r] = camera.mat[r][0] * X[0] + camera.mat[r][1] * X[1] + camera.mat[r][2] * X[2] +
                   camera.mat[r][3];
        arIdealToObserved(camera.distFactor, p[0] / p[2], p[1] / p[2], &record.corners[k].x,
                          &record.corners[k].y);
    }
    record.error = fit.outcome.residual;
    record.points = fit.outcome.samples;
    return false;
}

TrackStatus Tracker::appendRow(int found, const CameraKey& key, const FrameRecord& record) {
    if (appendKeyRow(*table, found, key.x, key.y, key.z, key.rotY, key.rotX, key.rotZ) < 0)
        return TrackStatus::TableFull;
    frames->rows[frames->count++] = record;
    return TrackStatus::Tracked;
}

void Tracker::smooth() {
    if (!trackerSettings.noSmoothing)
        smoothKeyTable(*table);
}
