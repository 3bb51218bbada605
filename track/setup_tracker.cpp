#include "track/setup_tracker.h"

#include <unistd.h>

#include <cerrno>
#include <string>

TrackerSetup setupTracker(const char* patternName, double patternWidth, FrameSize size,
                          const TrackerSettings& settings) {
    TrackerSetup setup;
    std::string reason;
    if (arLoadCameraParam(CAMERA_PARAM_FILE, 1, &setup.loaded, &reason) < 0) {
        setup.result = {TrackFailure::CameraUnreadable, 0, reason};
        if (access(CAMERA_PARAM_FILE, F_OK) != 0)
            setup.result.error = errno;
        return setup;
    }
    if (arResizeCameraParam(setup.loaded, size.width, size.height, setup.camera) < 0) {
        setup.result = TrackFailure::CameraUnusable;
        return setup;
    }
    std::unique_ptr<Tracker> tracker = Tracker::create(setup.camera, patternWidth, settings);
    if (tracker == nullptr) {
        setup.result = TrackFailure::OutOfMemory;
        return setup;
    }
    setup.result = tracker->loadPattern(patternName);
    if (setup.result.ok())
        setup.tracker = std::move(tracker);
    return setup;
}
