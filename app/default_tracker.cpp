#include "app/default_tracker.h"

#include <cstdlib>

#include "app/run_flow.h"

namespace {

std::unique_ptr<Tracker> processTracker;

void exitOnFailure(int status) {
    if (status != 0)
        std::exit(status);
}

}  // namespace

void setupTracker(const char* patternName, double patternWidth, int width, int height) {
    exitOnFailure(setUpTracker(patternName, patternWidth, width, height, processTracker));
}

void trackFrame(const FrameImage& frame) {
    exitOnFailure(trackOneFrame(*processTracker, frame));
}

void finishTrack(int camNo) {
    exitOnFailure(finishTrack(*processTracker, camNo));
}

int trackMovie(const char* patternName, double patternWidth, const char* movieName) {
    return trackMovie(patternName, patternWidth, movieName, processTracker);
}

int trackImage(const char* patternName, double patternWidth, const char* imageName) {
    return trackImage(patternName, patternWidth, imageName, processTracker);
}
