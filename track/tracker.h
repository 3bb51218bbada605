#pragma once

#include <cmath>
#include <cstdint>
#include <memory>

#include "bridge/scene_bridge.h"
#include "camera/camera_param.h"
#include "follow/marker_follow.h"
#include "image/frame_image.h"
#include "image/transfer_curve.h"
#include "marker/detector.h"
#include "marker/marker_info.h"
#include "math/image_point.h"
#include "pose/marker_pose.h"
#include "track/camera_key.h"
#include "track/frame_report.h"
#include "track/key_table.h"
#include "track/set_camera.h"
#include "track/set_follow.h"
#include "track/track_result.h"

// Least confidence a marker must have to be chosen.
inline constexpr double CHOOSE_CONFIDENCE_MIN = 0.5;

// What the tracking step keeps from frame to frame.
struct TrackerState {
    int patternId = -1;          // id of the loaded pattern; markers are matched against it
    int chosenMarker = -1;       // index in the current frame's marker list, -1 when none
    bool poseContinues = false;  // the next pose may continue from cameraPose
    double patternWidth = 0.0;
    ImagePoint patternCentre = {0.0, 0.0};
    Pose cameraPose{};            // last marker-to-camera pose
    bool poseKnown = false;       // cameraPose holds a pose that converts to a key
    PoseSettings poseSettings{};  // how every pose is fitted (the plain fit by default)
    double poseError = 0.0;       // mean squared reprojection error of the last fit
    bool poseFresh = false;       // the last fit started afresh, not from the frame before
    bool poseMirrored = false;    // the last fit gave way to its mirror (PoseFit::mirrored)
};

// The frames since a fresh pose whose marker, small or far, fits the mirror
// of its pose nearly as well (arPosesAmbiguous), and those followed on from
// them, while every one does: each frame's row, its pose, and where it has a
// square its mirror pose with that pose's error. When a later frame's
// continued pose gives way to its mirror, or a fresh pose that fits clearly
// better than its own lies further than POSE_BRANCH_TURN (radians) from the
// run's last, the run went the wrong way of the two: its frames take their
// mirrors, and the followed ones are left without a camera.
inline constexpr int AMBIGUOUS_RUN_MAX = 8;
// A square whose corners miss its rounded outline by the 2.5 pixels that
// strict detection allows is smeared by some 8 pixels or more.
inline constexpr double DOUBTED_STREAK = 8.0;
inline constexpr double POSE_BRANCH_TURN = 20.0 * M_PI / 180.0;
struct AmbiguousRun {
    int count = 0;
    long frames[AMBIGUOUS_RUN_MAX] = {};
    Pose poses[AMBIGUOUS_RUN_MAX] = {};
    bool mirrored[AMBIGUOUS_RUN_MAX] = {};
    Pose mirrors[AMBIGUOUS_RUN_MAX] = {};
    double errors[AMBIGUOUS_RUN_MAX] = {};
};

// Index of the marker carrying `patternId` with the highest confidence of at
// least CHOOSE_CONFIDENCE_MIN, the earlier one on equal confidence; -1 when none.
int chooseMarker(const MarkerInfo* markers, int count, int patternId);

// The tracking step on a frame's marker list: chooses the marker, updates the
// pose in `state` against `camera` and gives the frame's key row (not found
// without a marker, or without a pose).
KeyRow trackMarkers(TrackerState& state, const CameraParam& camera, const MarkerInfo* markers,
                    int count);

// How a Tracker works, from the command line's options; the defaults are
// Lumeko's behaviour without options. Each option is one field of the
// settings of the stage it changes, handed down as it is.
struct TrackerSettings {
    // How markers are found: the threshold retries (--auto-threshold,
    // --adaptive-threshold), the region size limits (--large-markers), the
    // strict history (--strict-history), dented sides (--robust-sides) and
    // sub-pixel edges (--refine). Tests set a small labelCapacity to reach
    // the busy-frame path, which the full size never takes.
    DetectorSettings detection;
    // How poses are fitted: to convergence, through the lens (--refine).
    PoseSettings pose;
    // A frame without the marker takes its camera from the points of the
    // marker's plane followed around it, when enough of them agree on one
    // (--bridge; SceneBridge).
    bool bridge = false;
    // The keys are written as tracked, without the five-frame smoothing
    // (--no-smoothing).
    bool noSmoothing = false;
    // A frame without the marker, or with it smeared, takes the pose that
    // aligns the marker's drawing, along the motion over the shutter, with
    // the frame (--follow; MarkerFollow).
    bool follow = false;
    // The curve the frames' levels encode light with, for the refined
    // edges' ramps and the follower's drawing (--transfer).
    TransferCurve transfer = TransferCurve::Srgb;
};

// Turns frames of one size into key rows: owns the detection, the pose
// continuity from frame to frame and the key table of the track.
class Tracker {
  public:
    // A tracker for frames of `camera`'s size (the camera already resized to
    // the frame) and a marker `patternWidth` wide, working as `settings` say;
    // null when its working storage cannot be allocated.
    static std::unique_ptr<Tracker> create(const CameraParam& camera, double patternWidth,
                                           const TrackerSettings& settings = {});

    // Loads the marker's pattern file (and with --follow its picture for the
    // follower): PatternMissing when it cannot be opened, PatternUnreadable
    // when it holds no pattern, OutOfMemory when the follower's storage
    // cannot be had.
    TrackResult loadPattern(const char* patternName);

    // Several markers on one set: loads the pattern of every further marker
    // (`patterns`, marker 1 on; the loaded pattern is marker 0's), and from
    // then on fits each frame's camera to the corners of every marker of
    // `layout` in view at once (SetCamera), dropping one that disagrees;
    // with --follow, each aligned where smeared and followed where none is
    // found (SetFollow).
    // Fails as loadPattern does, `what` naming the pattern file.
    TrackResult useLayout(const std::vector<std::string>& patterns, const MarkerLayout& layout);

    // Each of the three appends one row and the frame's record, or fails
    // with nothing appended: TableFull when the table holds KEY_TABLE_SIZE
    // rows; OutOfMemory or LibraryFailed when the scene bridge's library fails.

    // Detects the marker in `frame`, estimates the camera and appends its
    // row; WrongFrameSize for a frame not of the camera's size. A frame too
    // busy for detection (more dark regions than its working storage holds)
    // becomes a not-found row, counted in busyFrames(), and the next frame
    // starts its pose afresh.
    TrackResult trackFrame(const FrameImage& frame);

    // A movie frame whose picture did not decode has nothing to find in it:
    // appends the row a blank frame gives (the marker the history still
    // holds for its two frames, else not found) without detecting anything.
    TrackResult trackBlankFrame();

    // A gap in the footage (a number missing from a picture sequence):
    // appends a not-found row, and detection, the pose and the bridge forget
    // what they hold, so that the next frame starts afresh.
    TrackResult trackGap();

    // Frames that became not-found rows because detection could not hold them.
    long long busyFrames() const { return busy; }

    // Smooths the rows once the last frame has been tracked, unless the
    // settings keep them as tracked.
    void smooth();

    const KeyTable& keys() const { return *table; }
    // One record per key row: how each frame's camera came about.
    const FrameReport& report() const { return *frames; }
    const Detector& detector() const { return *markerDetector; }
    const TrackerSettings& settings() const { return trackerSettings; }

  private:
    Tracker() = default;
    // The frame's record from the marker chosen in it, if any.
    FrameRecord markerRecord(const KeyRow& row, const MarkerInfo* markers) const;
    // With --follow: aligns a smeared marker's pose, or a lost (or held)
    // frame's, on the frame; takes what the follower accepts. True for a
    // marker frame whose pose is sharp or aligned: one to anchor the scene on.
    bool followFrame(const FrameImage& frame, const MarkerInfo* markers, FrameRecord& record,
                     KeyRow& row);
    // A frame without the marker (lost, held, or its square refused):
    // followed from the frames before, or from the square detection
    // doubted; a held marker the motion says has moved on is dropped.
    void followUnseen(const FrameImage& frame, FrameRecord& record, KeyRow& row);
    // With --follow: a lost frame's square that detection doubted (its
    // corners off its outline) is aligned on the frame, its streak searched
    // about DOUBTED_STREAK pixels long (MarkerFollow::alignDoubted).
    FollowFit alignDoubted(const FrameImage& frame);
    void takeMirrorPose(const MarkerInfo* markers, FrameRecord& record, KeyRow& row);
    // With --follow: a frame left without a camera by all else may still
    // be found cold (MarkerFollow::followCold).
    void followCold(const FrameImage& frame, FrameRecord& record, KeyRow& row);
    // With --follow: keeps a frame left without a camera of its own
    // (`record` lost or held, or found cold), or follows back from one with
    // a camera into those kept before it and rewrites their rows with what
    // is taken; a frame followed loosely is kept as well.
    void followBack(const FrameImage& frame, const FrameRecord& record);
    // Rewrites the rows of the `count` frames followed back into (`back`)
    // that are lost or held, or found cold when these are not (`cold`), or
    // followed loosely (see loosePlaceOf).
    void takeBack(const BackFollow* back, int count, bool cold);
    // Whether `record` was followed forwards less cleanly than a smeared
    // marker's alignment (FollowLimits::cleanResidual).
    bool followedLoosely(const FrameRecord& record) const;
    // Whether `earlier` was followed loosely and `fit`, followed back,
    // matches clearly more cleanly (FollowLimits::looseGiveWay): the fit
    // takes its place.
    bool loosePlaceOf(const FollowFit& fit, const FrameRecord& earlier) const;
    // With --follow and a layout: a frame's smeared markers are aligned on
    // its light and its camera fitted again with them (one whose square
    // and alignment disagree left out); a frame without a camera from the
    // markers in view takes the one the markers followed give together.
    // Every marker's follower remembers the camera. True for a marker frame
    // whose first marker used is sharp or aligned: one to anchor the scene on.
    bool followSet(const FrameImage& frame, const MarkerInfo* markers, FrameRecord& record,
                   KeyRow& row);
    // The first, for a frame with a camera from the squares.
    bool alignSetSquares(const FrameImage& frame, const MarkerInfo* markers, FrameRecord& record,
                         KeyRow& row);
    // The second, for a frame without one.
    void followLostSet(const FrameImage& frame, FrameRecord& record, KeyRow& row);
    // A followed frame's record: its corners where `fit` puts them.
    FrameRecord followedRecord(const FollowFit& fit) const;
    // The same for a marker `width` wide at `pose`, with the fit's `error`
    // and the `points` it compared.
    FrameRecord followedRecord(const Pose& pose, double width, double error, int points) const;
    // With --bridge: follows the scene into `frame`, re-anchors it on a
    // marker frame whose pose is sharp (`sharp`; every such frame when its
    // marker is `smeared`) and fills a lost one's camera from it.
    TrackResult bridgeFrame(const FrameImage& frame, bool sharp, bool smeared, FrameRecord& record,
                            KeyRow& row);
    // With --follow, at useLayout: a follower for each placed marker.
    TrackResult followLayout(const std::vector<std::string>& patterns, const MarkerLayout& layout);
    // With a layout: the frame's camera from every marker in view, and its record.
    KeyRow trackSet(const MarkerInfo* markers, int count, FrameRecord& record);
    // The key row and the record of the set's camera `fit`, which the
    // tracking state takes.
    KeyRow takeSetFit(const SetCameraFit& fit, const MarkerInfo* markers, FrameRecord& record);
    // With --refine: keeps the run of frames whose pose may be the wrong
    // one of two (the frame's `record`, its square among `markers`), and
    // turns the run the other way when the frame shows it went wrong
    // (AmbiguousRun).
    void keepPoseBranch(const MarkerInfo* markers, const FrameRecord& record);
    void addToRun(long index, const Pose& pose, const PoseFit* mirror);
    void turnRunToMirrors();
    // Appends the key row and the frame's record.
    TrackResult appendRow(const KeyRow& row, const FrameRecord& record);

    std::unique_ptr<Detector> markerDetector;
    std::unique_ptr<KeyTable> table;
    std::unique_ptr<FrameReport> frames;
    std::unique_ptr<SceneBridge> sceneBridge;  // with --bridge only
    // With --follow only, once the pattern is loaded; with a layout it
    // follows the first marker among the others, in setFollow.
    std::unique_ptr<MarkerFollow> follower;
    std::unique_ptr<SetCamera> setCamera;  // with several markers only
    std::unique_ptr<SetFollow> setFollow;  // with several markers and --follow only
    TrackerState state;
    AmbiguousRun ambiguous;  // with --refine only
    TrackerSettings trackerSettings;
    long long busy = 0;
};
