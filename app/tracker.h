#pragma once

#include "marker/frame_image.h"

// Binarisation threshold handed to detection on every frame.
inline constexpr int DETECT_THRESHOLD = 100;
// Least confidence a marker must have to be chosen.
inline constexpr double CHOOSE_CONFIDENCE_MIN = 0.5;
// Factor applied to every translation before it is stored.
inline constexpr double TRANSLATION_SCALE = 0.005;
// The calibrated camera, relative to the working directory.
inline constexpr const char* CAMERA_PARAM_FILE = "./Data/camera_para.dat";

// Loads, rescales, sets and prints the camera and loads the pattern, once the
// frame size is known. Fatal errors end the program.
void setupTracker(const char* patternName, double patternWidth, int width, int height);

// Turns one frame into one key row (found or not). Fatal errors end the program.
void trackFrame(const FrameImage& frame);

double radToDeg(double radians);
