#pragma once

#include <memory>

#include "camera/camera_param.h"
#include "media/frame_source.h"
#include "track/track_result.h"
#include "track/tracker.h"

// The calibrated camera, relative to the working directory.
inline constexpr const char* CAMERA_PARAM_FILE = "./Data/camera_para.dat";

// What setting the tracker up gave: the result and as far as it got.
struct TrackerSetup {
    TrackResult result;
    CameraParam loaded{};              // the camera file's record, once loaded
    CameraParam camera{};              // resized to the frames, once that worked
    std::unique_ptr<Tracker> tracker;  // with the pattern loaded, once ready
};

// Loads the camera from CAMERA_PARAM_FILE, resizes it to frames of `size`
// and makes the tracker for them, working as `settings` say, with the
// marker's pattern loaded. Fails with CameraUnreadable (`what` says why, and
// `error` is the errno of looking for the file when it is not there),
// CameraUnusable (its values are not finite for these frames), OutOfMemory,
// PatternMissing or PatternUnreadable.
TrackerSetup setupTracker(const char* patternName, double patternWidth, FrameSize size,
                          const TrackerSettings& settings);
