#pragma once

#include <memory>

#include "app/camera_key.h"
#include "app/key_table.h"
#include "camera/camera_param.h"
#include "marker/detector.h"
#include "marker/frame_image.h"
#include "marker/marker_info.h"
#include "math/image_point.h"

// Binarisation threshold handed to detection on every frame.
inline constexpr int DETECT_THRESHOLD = 100;
// Least confidence a marker must have to be chosen.
inline constexpr double CHOOSE_CONFIDENCE_MIN = 0.5;

// What the tracking step keeps from frame to frame.
struct TrackerState {
    int patternId = -1;     // id of the loaded pattern; markers are matched against it
    int chosenMarker = -1;  // index in the current frame's marker list, -1 when none
    int poseContinues = 0;  // 1 when the next pose may continue from cameraPose
    double patternWidth = 0.0;
    ImagePoint patternCentre = {0.0, 0.0};
    double cameraPose[3][4] = {};  // last marker-to-camera pose
    int poseKnown = 0;             // 1 while cameraPose holds a pose that converts to a key
};

// Index of the marker carrying `patternId` with the highest confidence of at
// least CHOOSE_CONFIDENCE_MIN, the earlier one on equal confidence; -1 when none.
int chooseMarker(const MarkerInfo* markers, int count, int patternId);

// The tracking step on a frame's marker list: chooses the marker, updates the
// pose in `state` against `camera` and returns 1 with the frame's camera
// values in `key`, or 0 for a not-found row.
int trackMarkers(TrackerState& state, const CameraParam& camera, const MarkerInfo* markers,
                 int count, CameraKey* key);

enum class TrackStatus {
    Tracked,          // one row appended, found or not
    DetectionFailed,  // the frame could not be labelled; nothing appended
    TableFull,        // the key table already holds KEY_TABLE_SIZE rows
};

// Turns frames of one size into key rows: owns the detection, the pose
// continuity from frame to frame and the key table of the track.
class Tracker {
  public:
    // A tracker for frames of `camera`'s size (the camera already resized to
    // the frame) and a marker `patternWidth` wide; null when its working
    // storage cannot be allocated.
    static std::unique_ptr<Tracker> create(const CameraParam& camera, double patternWidth);

    // Loads the marker's pattern file; 0, or -1 with the reason in `error`.
    int loadPattern(const char* patternName, PatternLoadError* error);

    // Detects the marker in `frame`, estimates the camera and appends one row.
    TrackStatus track(const FrameImage& frame);

    // Smooths the rows once the last frame has been tracked.
    void smooth();

    const KeyTable& keys() const { return *table; }
    const Detector& detector() const { return *markerDetector; }

  private:
    Tracker() = default;

    std::unique_ptr<Detector> markerDetector;
    std::unique_ptr<KeyTable> table;
    TrackerState state;
};
