#include "app/tracker.h"

#include <cstdio>
#include <cstdlib>

#include "app/console.h"
#include "app/key_table.h"
#include "camera/camera_param.h"
#include "marker/detect_marker.h"
#include "marker/pattern.h"
#include "math/matrix.h"
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

TrackerState trackerState;

[[noreturn]] void failWith(const char* message, const char* name) {
    std::exit(reportFailure(message, name));
}

// Updates the marker-to-camera pose from the chosen marker: continuing from
// the previous pose when there is one, else from the marker alone.
void updatePose(TrackerState& state, const MarkerInfo& marker) {
    MarkerSquare square = markerSquare(marker);
    // A pose that broke down numerically leaves no pose: the frame counts as
    // not found and the next one starts afresh from its marker.
    if (state.poseContinues == 1) {
        if (arMarkerPoseCont(square, state.cameraPose, state.patternCentre, state.patternWidth,
                             state.cameraPose) == POSE_BROKE_DOWN) {
            state.poseKnown = 0;
        }
        return;
    }
    const double err =
        arMarkerPose(square, state.patternCentre, state.patternWidth, state.cameraPose);
    if (err >= 0.0) {
        state.poseKnown = 1;
    } else if (err == POSE_BROKE_DOWN) {
        state.poseKnown = 0;
    }
    state.poseContinues = 1;
}

}  // namespace

void setupTracker(const char* patternName, double patternWidth, int width, int height) {
    CameraParam loaded;
    if (arLoadCameraParam(CAMERA_PARAM_FILE, 1, &loaded) < 0) {
        failWith("can not load camera parameter <%s>\n", CAMERA_PARAM_FILE);
    }
    CameraParam resized;
    arResizeCameraParam(loaded, width, height, resized);
    arSetCameraParam(resized);
    arPrintCameraParam(resized);
    if (arInitDetection(width, height) < 0) {
        failWith("%s", "can not malloc\n");
    }
    trackerState.patternName = patternName;
    trackerState.patternWidth = patternWidth;
    trackerState.patternId = arLoadPattern(patternName);
    if (trackerState.patternId < 0) {
        failWith("can not load pattern <%s>\n", patternName);
    }
}

void trackFrame(const FrameImage& frame) {
    const MarkerInfo* markers = nullptr;
    int count = 0;
    if (arDetectMarker(frame, DETECT_THRESHOLD, &markers, &count) < 0) {
        failWith("%s", "error at arDetectMarker\n");
    }
    CameraKey key{};
    int found = trackMarkers(trackerState, markers, count, &key);
    appendKeyRow(found, key.x, key.y, key.z, key.rotY, key.rotX, key.rotZ);
}

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

int trackMarkers(TrackerState& state, const MarkerInfo* markers, int count, CameraKey* key) {
    state.chosenMarker = chooseMarker(markers, count, state.patternId);
    if (state.chosenMarker < 0) {
        state.poseContinues = 0;
        return 0;
    }
    updatePose(state, markers[state.chosenMarker]);
    if (state.poseKnown == 0 || poseToCameraKey(state.cameraPose, key) < 0) {
        // No pose yet, or one that broke down numerically: the frame counts
        // as not found and the next one starts afresh from its marker.
        state.poseKnown = 0;
        state.poseContinues = 0;
        return 0;
    }
    return 1;
}
