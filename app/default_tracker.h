#pragma once

#include "marker/frame_image.h"

// The run's documented entry points, over one tracker of the process. The
// run flow itself passes its own tracker down; these keep the documented
// calls usable (the key table's and the writer's take their table
// explicitly: see key_table.h and camera_motion.h). Fatal errors print their
// message, pause and end the process with status 1.

// Sets the tracker up once the frame size is known.
void setupTracker(const char* patternName, double patternWidth, int width, int height);
// Turns one frame into one key row.
void trackFrame(const FrameImage& frame);
// Smooths the track and writes the camera-motion file for `camNo`.
void finishTrack(int camNo);
// Track a whole input with the process's tracker: 0, or 1 after a failure
// that was reported.
int trackMovie(const char* patternName, double patternWidth, const char* movieName);
int trackImage(const char* patternName, double patternWidth, const char* imageName);
