#pragma once

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

// Least confidence a marker must have to be chosen.
inline constexpr double CHOOSE_CONFIDENCE_MIN = 0.5;

// What the tracking step keeps from frame to frame.
struct TrackerState {
    int patternId = -1;     // id of the loaded pattern; markers are matched against it
    int chosenMarker = -1;  // index in the current frame's marker list, -1 when none
    int poseContinues = 0;  // 1 when the next pose may continue from cameraPose
    double patternWidth = 0.0;
    ImagePoint patternCentre = {0.0, 0.0};
    Pose cameraPose{};            // last marker-to-camera pose
    int poseKnown = 0;            // 1 while cameraPose holds a pose that converts to a key
    PoseSettings poseSettings{};  // how every pose is fitted (the plain fit by default)
    double poseError = 0.0;       // mean squared reprojection error of the last fit
};

// Index of the marker carrying `patternId` with the highest confidence of at
// least CHOOSE_CONFIDENCE_MIN, the earlier one on equal confidence; -1 when none.
int chooseMarker(const MarkerInfo* markers, int count, int patternId);

// The tracking step on a frame's marker list: chooses the marker, updates the
// pose in `state` against `camera` and returns 1 with the frame's camera
// values in `key`, or 0 for a not-found row.
int trackMarkers(TrackerState& state, const CameraParam& camera, const MarkerInfo* markers,
                 int count, CameraKey* key);

// How a Tracker works, from the command line's options; the defaults are
// Lumeko's behaviour without options.
struct TrackerSettings {
    // A frame in which the loaded marker is not seen at DETECT_THRESHOLD is
    // detected again at a threshold chosen from the frame (--auto-threshold;
    // the Detector's threshold retry).
    bool autoThreshold = false;
    // Region area limits scaled to the frame size (--large-markers); for the
    // Detector's large-marker setting.
    bool largeMarkers = false;
    // Sub-pixel edges and a converged pose (--refine); for the Detector's and
    // the pose's refinement settings.
    bool refine = false;
    // A frame in which the loaded marker is not seen at DETECT_THRESHOLD is
    // detected again at local thresholds, before any --auto-threshold retry
    // (--adaptive-threshold; the Detector's local retry).
    bool adaptiveThreshold = false;
    // The history holds the marker only on a region like the one it
    // remembers, and a small square inside a larger dark region must match
    // better (--strict-history).
    bool strictHistory = false;
    // Squares with a dented or bumped side, each side fitted without its
    // outlying points (--robust-sides; the Detector's robust sides).
    bool robustSides = false;
    // Most provisional labels of one labeling pass; 0 sizes labeling for the
    // busiest frame of the camera's size. Tests set a small one to reach the
    // busy-frame path, which the full size never takes.
    int32_t labelCapacity = 0;
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

enum class TrackStatus {
    Tracked,          // one row appended, found or not
    DetectionFailed,  // the frame is not of the tracker's size; nothing appended
    TableFull,        // the key table already holds KEY_TABLE_SIZE rows
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

    // With `on`, refines the markers' edges (Detector::setRefineEdges) and
    // fits poses with PoseSettings::refine; off (the default) tracks exactly
    // as before. Set before the first frame.
    void setRefine(bool on);

    // Loads the marker's pattern file (Detector::loadPattern).
    PatternLoad loadPattern(const char* patternName);

    // Detects the marker in `frame`, estimates the camera and appends one row.
    // A frame too busy for detection (more dark regions than its working
    // storage holds) becomes a not-found row, counted in busyFrames(), and
    // the next frame starts its pose afresh.
    TrackStatus track(const FrameImage& frame);

    // A frame without a picture (a number missing from a picture sequence):
    // appends a not-found row without detecting anything, and detection
    // forgets the markers it holds, so that the next frame starts afresh.
    TrackStatus trackAbsent();

    // A frame with no picture (one that could not be decoded) has nothing to
    // find: appends the row a blank frame gives (the marker the history still
    // holds for its two frames, else not found) without detecting anything.
    TrackStatus trackNothing();

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
    FrameRecord markerRecord(int found, const MarkerInfo* markers) const;
    // With --follow: aligns a smeared marker's pose, or a lost (or held)
    // frame's, on the frame; takes what the follower accepts. True for a
    // marker frame whose pose is sharp or aligned: one to anchor the scene on.
    bool followFrame(const FrameImage& frame, const MarkerInfo* markers, FrameRecord& record,
                     int& found, CameraKey& key);
    // With --bridge: follows the scene into `frame`, re-anchors it on a
    // marker frame whose pose is sharp (`sharp`) and fills a lost one's
    // camera from it.
    void bridgeFrame(const FrameImage& frame, bool sharp, FrameRecord& record, int& found,
                     CameraKey& key);
    // Appends the key row and the frame's record.
    TrackStatus appendRow(int found, const CameraKey& key, const FrameRecord& record);

    std::unique_ptr<Detector> markerDetector;
    std::unique_ptr<KeyTable> table;
    std::unique_ptr<FrameReport> frames;
    std::unique_ptr<SceneBridge> sceneBridge;  // with --bridge only
    std::unique_ptr<MarkerFollow> follower;    // with --follow only, once the pattern is loaded
    TrackerState state;
    TrackerSettings trackerSettings;
    long long busy = 0;
};
