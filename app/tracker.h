#pragma once

#include "app/camera_key.h"
#include "marker/frame_image.h"
#include "marker/marker_info.h"
#include "math/image_point.h"

// Binarisation threshold handed to detection on every frame.
inline constexpr int DETECT_THRESHOLD = 100;
// Least confidence a marker must have to be chosen.
inline constexpr double CHOOSE_CONFIDENCE_MIN = 0.5;
// The calibrated camera, relative to the working directory.
inline constexpr const char* CAMERA_PARAM_FILE = "./Data/camera_para.dat";

// Loads, rescales, sets and prints the camera and loads the pattern, once the
// frame size is known. Fatal errors end the program.
void setupTracker(const char* patternName, double patternWidth, int width, int height);

// Turns one frame into one key row (found or not). Fatal errors end the program.
void trackFrame(const FrameImage& frame);

// What the tracking step keeps from frame to frame.
struct TrackerState {
    const char* patternName = nullptr;
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
// pose in `state` and returns 1 with the frame's camera values in `key`, or 0
// for a not-found row.
int trackMarkers(TrackerState& state, const MarkerInfo* markers, int count, CameraKey* key);
