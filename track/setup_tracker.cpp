#include "track/setup_tracker.h"

#include <string>

TrackerSetup setupTracker(const char* patternName, double patternWidth, FrameSize size,
                          const TrackerSettings& settings) {
    TrackerSetup setup;
    const CameraResult load = arLoadCameraParam(CAMERA_PARAM_FILE, 1, &setup.loaded);
    if (!load.ok()) {
        setup.result = {TrackFailure::CameraUnreadable, load.error, load.reason};
        return setup;
    }
    if (arResizeCameraParam(setup.loaded, size.width, size.height, setup.camera) !=
        CameraStatus::Ok) {
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
