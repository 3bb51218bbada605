#include "track/tracker.h"

#include <cmath>
#include <exception>
#include <new>

#include "camera/distortion.h"
#include "math/matrix.h"
#include "pose/initial_rotation.h"
#include "pose/marker_pose.h"
#include "track/marker_square_of.h"

namespace {

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
    state.poseFresh = !continuing;
    state.poseMirrored = fit.ok() && fit.mirrored;
    const auto behind = [&](const PoseFit& f) {
        return f.ok() && !arMarkerInFront(f.pose, state.patternCentre, state.patternWidth);
    };
    if (behind(fit)) {
        if (continuing) {
            fit = arMarkerPose(camera, square, state.patternCentre, state.patternWidth,
                               state.poseSettings);
            state.poseFresh = true;
            state.poseMirrored = false;
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

// What a pattern load's failure means to the run.
TrackResult trackResultOfPattern(const PatternLoad& load) {
    switch (load.status) {
        case MarkerStatus::Ok:
            return {};
        case MarkerStatus::PatternCannotOpen:
            return {TrackFailure::PatternMissing, load.error};
        case MarkerStatus::OutOfMemory:
            return TrackFailure::OutOfMemory;
        default:
            return TrackFailure::PatternUnreadable;
    }
}

// A bridge step's status ends the run only when the bridge's library failed:
// every other status leaves the frame without the scene's camera.
TrackResult trackResultOfBridge(BridgeStatus status) {
    if (status == BridgeStatus::OutOfMemory)
        return TrackFailure::OutOfMemory;
    if (status == BridgeStatus::OpenCvFailed)
        return {TrackFailure::LibraryFailed, 0, "OpenCV failed in the scene bridge"};
    return {};
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
    tracker->markerDetector->setTransferCurve(settings.transfer);
    return tracker;
}

TrackResult Tracker::loadPattern(const char* patternName) {
    const PatternLoad load = markerDetector->loadPattern(patternName);
    state.patternId = load.ok() ? load.id : -1;
    markerDetector->seekPattern(state.patternId);
    if (!load.ok())
        return trackResultOfPattern(load);
    if (!trackerSettings.follow)
        return {};
    unsigned char picture[PATTERN_VALUES];
    if (const PatternLoad read = arReadPatternPicture(patternName, picture); !read.ok())
        return trackResultOfPattern(read);
    follower = MarkerFollow::create(markerDetector->camera(), picture, state.patternWidth,
                                    trackerSettings.transfer);
    if (follower == nullptr)
        return TrackFailure::OutOfMemory;
    return {};
}

TrackResult Tracker::trackFrame(const FrameImage& frame) {
    const CameraParam& camera = markerDetector->camera();
    if (frame.pixels == nullptr || frame.width != camera.xsize || frame.height != camera.ysize)
        return TrackFailure::WrongFrameSize;
    const MarkerInfo* markers = nullptr;
    int count = 0;
    // For a frame of the right size, detection fails only when the frame is
    // too busy for its storage: the frame is a row without the marker.
    if (markerDetector->detect(frame, &markers, &count) != MarkerStatus::Ok) {
        busy++;
        markers = nullptr;
        count = 0;
    }
    FrameRecord record;
    KeyRow row =
        setCamera ? trackSet(markers, count, record) : trackMarkers(state, camera, markers, count);
    if (!setCamera)
        record = markerRecord(row, markers);
    // A marker whose edges are smeared gives a pose the scene is not anchored
    // on, unless its drawing was aligned with the frame.
    bool sharp = false;
    if (follower != nullptr)
        sharp = followFrame(frame, markers, record, row);
    else if (setFollow != nullptr)
        sharp = followSet(frame, markers, record, row);
    const bool smeared = record.status == FrameStatus::Marker &&
                         markers[state.chosenMarker].rampWidth > FOLLOW_SMEAR_WIDTH;
    if (follower == nullptr && setFollow == nullptr)
        sharp = record.status == FrameStatus::Marker && !smeared;
    if (sceneBridge != nullptr) {
        if (const TrackResult bridged = bridgeFrame(frame, sharp, smeared, record, row);
            !bridged.ok())
            return bridged;
    }
    if (follower != nullptr) {
        if (record.status == FrameStatus::Lost)
            followCold(frame, record, row);
        followBack(frame, record);
    }
    if (!setCamera && state.poseSettings.refine)
        keepPoseBranch(markers, row.found != 0 ? record : FrameRecord{});
    return appendRow(row, record);
}

TrackResult Tracker::useLayout(const std::vector<std::string>& patterns,
                               const MarkerLayout& layout) {
    std::vector<int> slotMarker(PATTERN_SLOT_MAX, -1);
    if (state.patternId >= 0)
        slotMarker[state.patternId] = 0;
    for (size_t m = 0; m < patterns.size(); m++) {
        const PatternLoad load = markerDetector->loadPattern(patterns[m].c_str());
        if (!load.ok()) {
            TrackResult failed = trackResultOfPattern(load);
            failed.what = patterns[m];
            return failed;
        }
        slotMarker[load.id] = static_cast<int>(m) + 1;
    }
    markerDetector->seekPattern(-1);
    setCamera.reset(new (std::nothrow) SetCamera(layout, slotMarker));
    frames->markerSet = true;
    if (setCamera == nullptr)
        return TrackFailure::OutOfMemory;
    return follower != nullptr ? followLayout(patterns, layout) : TrackResult{};
}

TrackResult Tracker::followLayout(const std::vector<std::string>& patterns,
                                  const MarkerLayout& layout) {
    setFollow.reset(new (std::nothrow) SetFollow(layout));
    if (setFollow == nullptr)
        return TrackFailure::OutOfMemory;
    // The first marker's follower follows it among the others.
    if (layout.markers[0].linked)
        setFollow->add(0, std::move(follower));
    follower.reset();
    for (size_t m = 1; m < layout.markers.size(); m++) {
        if (!layout.markers[m].linked)
            continue;
        unsigned char picture[PATTERN_VALUES];
        if (const PatternLoad read = arReadPatternPicture(patterns[m - 1].c_str(), picture);
            !read.ok()) {
            TrackResult failed = trackResultOfPattern(read);
            failed.what = patterns[m - 1];
            return failed;
        }
        // A set's markers are followed forwards only.
        std::unique_ptr<MarkerFollow> own =
            MarkerFollow::create(markerDetector->camera(), picture, layout.markers[m].width,
                                 trackerSettings.transfer, false);
        if (own == nullptr)
            return TrackFailure::OutOfMemory;
        setFollow->add(static_cast<int>(m), std::move(own));
    }
    return {};
}

bool Tracker::followSet(const FrameImage& frame, const MarkerInfo* markers, FrameRecord& record,
                        KeyRow& row) {
    if (record.status == FrameStatus::Marker)
        return alignSetSquares(frame, markers, record, row);
    followLostSet(frame, record, row);
    return false;
}

bool Tracker::alignSetSquares(const FrameImage& frame, const MarkerInfo* markers,
                              FrameRecord& record, KeyRow& row) {
    const long index = frames->count;
    const uint32_t used = record.markers;
    SideRamps ramps[SET_MARKER_MAX];
    for (int m = 0; m < SET_MARKER_MAX; m++)
        if (used & (1u << m))
            ramps[m] = {setCamera->square(m)->rampWidth, setCamera->square(m)->narrowestRamp};
    uint32_t refused = 0;
    const uint32_t taken = setFollow->align(index, frame, state.cameraPose, used, ramps, &refused);
    if (taken != 0 || refused != 0) {
        // The smeared squares give way to their alignments; a refused one
        // to nothing.
        const uint32_t kept = used & ~taken & ~refused;
        const SetCameraFit fit =
            (kept | taken) != 0
                ? setCamera->fitFollowed(markerDetector->camera(), kept, taken, setFollow->poses())
                : SetCameraFit{};
        row = takeSetFit(fit, markers, record);
        record.dropped |= refused;
        if (row.found == 0) {
            record = FrameRecord{};
            setCamera->forget();
            return false;
        }
    }
    setFollow->found(index, state.cameraPose, taken);
    return (taken & (1u << __builtin_ctz(record.markers))) != 0 ||
           !(markers[state.chosenMarker].rampWidth > FOLLOW_SMEAR_WIDTH);
}

void Tracker::followLostSet(const FrameImage& frame, FrameRecord& record, KeyRow& row) {
    const long index = frames->count;
    const uint32_t taken = setFollow->follow(index, frame);
    if (taken == 0)
        return;
    const SetCameraFit fit =
        setCamera->fitFollowed(markerDetector->camera(), 0, taken, setFollow->poses());
    const KeyRow followed = fit.found ? keyRowOfPose(fit.camera) : KeyRow{};
    if (followed.found == 0)
        return;
    row = followed;
    state.cameraPose = fit.camera;
    state.poseKnown = true;
    state.poseError = fit.error;
    // The record's corners are the first marker used's, as a found frame's.
    const PlacedMarker& first = setFollow->marker(__builtin_ctz(fit.used));
    record = followedRecord(arPoseCompose(fit.camera, first.toWorld), first.width,
                            std::sqrt(fit.error), 4 * __builtin_popcount(fit.used));
    record.markers = fit.used;
    record.dropped = fit.dropped;
    setFollow->found(index, fit.camera);
}

KeyRow Tracker::trackSet(const MarkerInfo* markers, int count, FrameRecord& record) {
    // Markers held from earlier frames (at the end of the list) stand in only
    // when none is seen: their corners are where they were, and fitted with
    // a marker seen now they pull the camera back towards the frame before.
    const int seen = markerDetector->seenCount();
    const SetCameraFit fit = setCamera->fit(markerDetector->camera(), markers,
                                            seen > 0 ? seen : count, state.poseSettings);
    return takeSetFit(fit, markers, record);
}

KeyRow Tracker::takeSetFit(const SetCameraFit& fit, const MarkerInfo* markers,
                           FrameRecord& record) {
    record = FrameRecord{};
    record.dropped = fit.dropped;
    state.chosenMarker = fit.found ? fit.chosen : -1;
    state.poseKnown = fit.found;
    state.poseContinues = fit.found;
    if (!fit.found)
        return KeyRow{};
    state.cameraPose = fit.camera;
    state.poseError = fit.error;
    const KeyRow row = keyRowOfPose(fit.camera);
    if (row.found == 0) {
        state.poseKnown = false;
        state.chosenMarker = -1;
        setCamera->forget();
        return row;
    }
    record = markerRecord(row, markers);
    record.markers = fit.used;
    record.dropped = fit.dropped;
    record.points = 4 * __builtin_popcount(fit.used);
    return row;
}

TrackResult Tracker::trackBlankFrame() {
    const MarkerInfo* markers = nullptr;
    int count = 0;
    markerDetector->detectNothing(&markers, &count);
    FrameRecord record;
    const KeyRow row = setCamera ? trackSet(markers, count, record)
                                 : trackMarkers(state, markerDetector->camera(), markers, count);
    if (sceneBridge != nullptr)
        sceneBridge->forget();
    if (follower != nullptr)
        follower->forget();
    if (setFollow != nullptr)
        setFollow->forget();
    return appendRow(row, setCamera ? record : markerRecord(row, markers));
}

TrackResult Tracker::trackGap() {
    markerDetector->forgetHistory();
    state.poseKnown = false;
    state.poseContinues = false;
    if (setCamera != nullptr)
        setCamera->forget();
    if (sceneBridge != nullptr)
        sceneBridge->forget();
    if (follower != nullptr)
        follower->forget();
    if (setFollow != nullptr)
        setFollow->forget();
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

// A sharp marker frame anchors the scene on the marker's pose (the frame's
// own camera stays the marker's); a frame without the marker takes the
// scene's camera when the bridge gives one (a smeared marker aligned with its
// smear anchors it every frame). A held or followed frame, or one whose
// marker is smeared and not aligned, keeps its camera and only follows the
// scene. The bridge's library running out of memory, or failing otherwise,
// ends the run.
TrackResult Tracker::bridgeFrame(const FrameImage& frame, bool sharp, bool smeared,
                                 FrameRecord& record, KeyRow& row) {
    if (record.status == FrameStatus::Marker && sharp)
        return trackResultOfBridge(sceneBridge->markerFrame(frame, state.cameraPose, smeared));
    if (const TrackResult followed = trackResultOfBridge(sceneBridge->follow(frame));
        !followed.ok())
        return followed;
    if (record.status != FrameStatus::Lost)
        return {};
    const BridgeFit fit = sceneBridge->bridge();
    if (const TrackResult failed = trackResultOfBridge(fit.status); !failed.ok())
        return failed;
    record.points = fit.points;
    const KeyRow bridged = fit.ok() ? keyRowOfPose(fit.pose) : KeyRow{};
    if (bridged.found == 0)
        return {};
    row = bridged;
    record.status = FrameStatus::Bridged;
    record.error = fit.error;
    return {};
}

bool Tracker::followFrame(const FrameImage& frame, const MarkerInfo* markers, FrameRecord& record,
                          KeyRow& row) {
    const long index = frames->count;
    // Frames that may lie on either of two poses predict nothing of which.
    const bool branchKnown =
        ambiguous.count == 0 || ambiguous.frames[ambiguous.count - 1] != index - 1;
    if (record.status == FrameStatus::Marker && branchKnown &&
        follower->wrongPoseOfTwo(index, state.cameraPose))
        takeMirrorPose(markers, record, row);
    if (record.status == FrameStatus::Marker) {
        const MarkerInfo& marker = markers[state.chosenMarker];
        const SideRamps ramps{marker.rampWidth, marker.narrowestRamp};
        // A square with an interrupted side is aligned too: the whole
        // picture places it more closely than the side's two ends.
        if (!marker.interrupted && !follower->smeared(index, state.cameraPose, ramps)) {
            follower->found(index, state.cameraPose);
            return true;
        }
        const FollowFit fit = follower->refine(index, frame, state.cameraPose, ramps,
                                               std::sqrt(state.poseError), marker.interrupted);
        if (fit.refused) {
            // Neither the smeared square nor its alignment can be trusted:
            // the frame is followed as one without the marker, and the next
            // one starts afresh, without holding the square over the frames
            // after it.
            row = KeyRow{};
            record = FrameRecord{};
            markerDetector->forgetHistory();
            state.poseKnown = false;
            state.poseContinues = false;
            followUnseen(frame, record, row);
            return false;
        }
        const KeyRow refined = fit.ok ? keyRowOfPose(fit.pose) : KeyRow{};
        if (refined.found == 0)
            return ramps.widest <= FOLLOW_SMEAR_WIDTH;
        state.cameraPose = fit.pose;
        row = refined;
        return true;
    }
    followUnseen(frame, record, row);
    return false;
}

void Tracker::followUnseen(const FrameImage& frame, FrameRecord& record, KeyRow& row) {
    const long index = frames->count;
    FollowFit fit = follower->follow(index, frame);
    if (!fit.ok && record.status == FrameStatus::Lost)
        fit = alignDoubted(frame);
    const KeyRow followed = fit.ok ? keyRowOfPose(fit.pose) : KeyRow{};
    if (followed.found == 0) {
        // A marker held where the motion says it no longer is gives no camera.
        if (record.status == FrameStatus::Held && follower->movedFrom(index, state.cameraPose)) {
            row = KeyRow{};
            record = FrameRecord{};
        }
        return;
    }
    row = followed;
    state.cameraPose = fit.pose;
    state.poseKnown = true;
    record = followedRecord(fit);
}

// The other of the marker's two poses, when it fits the corners nearly as
// well (arPosesAmbiguous).
void Tracker::takeMirrorPose(const MarkerInfo* markers, FrameRecord& record, KeyRow& row) {
    const PoseFit mirror = arMarkerPoseMirror(
        markerDetector->camera(), markerSquare(markers[state.chosenMarker]), state.cameraPose,
        state.patternCentre, state.patternWidth, state.poseSettings);
    if (!arPosesAmbiguous(state.poseError, mirror))
        return;
    const KeyRow mirrored = keyRowOfPose(mirror.pose);
    if (mirrored.found == 0)
        return;
    row = mirrored;
    state.cameraPose = mirror.pose;
    state.poseError = mirror.error;
    record.error = std::sqrt(mirror.error);
}

FollowFit Tracker::alignDoubted(const FrameImage& frame) {
    const MarkerInfo* doubted = markerDetector->doubtedMarker();
    if (doubted == nullptr || doubted->id != state.patternId)
        return {};
    const PoseFit square =
        arMarkerPose(markerDetector->camera(), markerSquare(*doubted), state.patternCentre,
                     state.patternWidth, state.poseSettings);
    if (!square.ok() || !arMarkerInFront(square.pose, state.patternCentre, state.patternWidth))
        return {};
    return follower->alignDoubted(frames->count, frame, square.pose, DOUBTED_STREAK);
}

void Tracker::followCold(const FrameImage& frame, FrameRecord& record, KeyRow& row) {
    const FollowFit fit = follower->followCold(frames->count, frame);
    const KeyRow cold = fit.ok ? keyRowOfPose(fit.pose) : KeyRow{};
    if (cold.found == 0)
        return;
    row = cold;
    record = followedRecord(fit);
    record.cold = true;
    BackFollow back[FOLLOW_BACK_FRAMES];
    takeBack(back, follower->followBackCold(frames->count, back), true);
}

void Tracker::followBack(const FrameImage& frame, const FrameRecord& record) {
    const long index = frames->count;
    if (record.status == FrameStatus::Lost || record.status == FrameStatus::Held || record.cold) {
        follower->lost(index, frame, record.cold);
        return;
    }
    BackFollow back[FOLLOW_BACK_FRAMES];
    takeBack(back, follower->followBack(index, back), false);
    // A frame followed less cleanly than a smeared marker's alignment (the
    // motion may have turned back since the frames it was followed from) is
    // kept too: the next frames may follow back into it more cleanly. Of a
    // run of such frames only the first is, or each would follow back into
    // all before it.
    if (followedLoosely(record) && (index == 0 || !followedLoosely(frames->rows[index - 1])))
        follower->lost(index, frame);
}

void Tracker::takeBack(const BackFollow* back, int count, bool cold) {
    for (int k = 0; k < count; k++) {
        const KeyRow row = keyRowOfPose(back[k].fit.pose);
        FrameRecord& earlier = frames->rows[back[k].frame];
        // A frame taken once is not taken again, but for one followed
        // loosely, which a clean fit takes; one found cold only from a
        // camera. A held marker's frame takes its own camera.
        const bool open =
            earlier.status == FrameStatus::Lost || earlier.status == FrameStatus::Held;
        if (row.found == 0 ||
            !(open || (earlier.cold && !cold) || loosePlaceOf(back[k].fit, earlier)))
            continue;
        table->rows[back[k].frame] = row;
        earlier = followedRecord(back[k].fit);
        earlier.cold = cold;
    }
}

bool Tracker::followedLoosely(const FrameRecord& record) const {
    return record.status == FrameStatus::Followed && !record.cold &&
           record.error > follower->limits().cleanResidual;
}

bool Tracker::loosePlaceOf(const FollowFit& fit, const FrameRecord& earlier) const {
    const FollowLimits& limits = follower->limits();
    return followedLoosely(earlier) && fit.outcome.residual <= limits.cleanResidual &&
           fit.outcome.residual <= limits.looseGiveWay * earlier.error;
}

FrameRecord Tracker::followedRecord(const FollowFit& fit) const {
    return followedRecord(fit.pose, state.patternWidth, fit.outcome.residual, fit.outcome.samples);
}

FrameRecord Tracker::followedRecord(const Pose& pose, double width, double error,
                                    int points) const {
    FrameRecord record;
    record.status = FrameStatus::Followed;
    const double h = 0.5 * width;
    // The printed picture's top-left corner first, clockwise as printed.
    const double corners[4][2] = {{-h, h}, {h, h}, {h, -h}, {-h, -h}};
    const CameraParam& camera = markerDetector->camera();
    for (int k = 0; k < 4; k++) {
        double X[3], p[3];
        for (int r = 0; r < 3; r++)
            X[r] = pose.m[r][0] * corners[k][0] + pose.m[r][1] * corners[k][1] + pose.m[r][3];
        for (int r = 0; r < 3; r++)
            p[r] = camera.mat[r][0] * X[0] + camera.mat[r][1] * X[1] + camera.mat[r][2] * X[2] +
                   camera.mat[r][3];
        arIdealToObserved(camera.distFactor, p[0] / p[2], p[1] / p[2], &record.corners[k].x,
                          &record.corners[k].y);
    }
    record.error = error;
    record.points = points;
    return record;
}

void Tracker::keepPoseBranch(const MarkerInfo* markers, const FrameRecord& record) {
    AmbiguousRun& run = ambiguous;
    const long index = frames->count;
    const bool square = state.chosenMarker >= 0 && (record.status == FrameStatus::Marker ||
                                                    record.status == FrameStatus::Held);
    const bool followed = record.status == FrameStatus::Followed;
    const bool continues =
        run.count > 0 && run.count < AMBIGUOUS_RUN_MAX && run.frames[run.count - 1] == index - 1;
    if (followed && continues) {
        // Followed on from the run's poses: on the same of the two.
        addToRun(index, state.cameraPose, nullptr);
        return;
    }
    if (!square || (!state.poseFresh && !state.poseMirrored && !continues)) {
        run.count = 0;
        return;
    }
    const PoseFit mirror = arMarkerPoseMirror(
        markerDetector->camera(), markerSquare(markers[state.chosenMarker]), state.cameraPose,
        state.patternCentre, state.patternWidth, state.poseSettings);
    // A fresh pose that fits clearly better than its mirror, far from the
    // run's last pose: the run went the wrong way, as it does where a
    // continued pose gives way to its mirror.
    const bool wrongBefore =
        state.poseMirrored ||
        (state.poseFresh && continues && mirror.ok() &&
         mirror.error > POSE_BRANCH_RATIO * state.poseError &&
         arPoseTurnBetween(state.cameraPose, run.poses[run.count - 1]) > POSE_BRANCH_TURN);
    if (wrongBefore)
        turnRunToMirrors();
    if (state.poseMirrored || !arPosesAmbiguous(state.poseError, mirror)) {
        run.count = 0;
        return;
    }
    if (state.poseFresh || !continues)
        run.count = 0;
    addToRun(index, state.cameraPose, &mirror);
}

void Tracker::addToRun(long index, const Pose& pose, const PoseFit* mirror) {
    AmbiguousRun& run = ambiguous;
    run.frames[run.count] = index;
    run.poses[run.count] = pose;
    run.mirrored[run.count] = mirror != nullptr;
    if (mirror != nullptr) {
        run.mirrors[run.count] = mirror->pose;
        run.errors[run.count] = mirror->error;
    }
    run.count++;
}

void Tracker::turnRunToMirrors() {
    AmbiguousRun& run = ambiguous;
    if (run.count == 0)
        return;
    // The frames just before the run followed back from it went the wrong
    // way too; they are left without a camera.
    for (long f = run.frames[0] - 1; f >= 0 && run.frames[0] - f <= AMBIGUOUS_RUN_MAX / 2 &&
                                     frames->rows[f].status == FrameStatus::Followed;
         f--) {
        replaceKeyRow(*table, static_cast<int>(f), KeyRow{});
        frames->rows[f] = FrameRecord{};
    }
    for (int k = 0; k < run.count; k++) {
        const long f = run.frames[k];
        if (run.mirrored[k]) {
            replaceKeyRow(*table, static_cast<int>(f), keyRowOfPose(run.mirrors[k]));
            frames->rows[f].error = std::sqrt(run.errors[k]);
        } else {
            // A followed frame has no square of its own to fit the mirror
            // to: it is left without a camera.
            replaceKeyRow(*table, static_cast<int>(f), KeyRow{});
            frames->rows[f] = FrameRecord{};
        }
    }
    run.count = 0;
    // The follower's frames before went the wrong way.
    if (follower != nullptr)
        follower->forget();
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
