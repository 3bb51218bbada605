#pragma once

#include <memory>
#include <optional>

#include "app/options.h"
#include "image/frame_image.h"
#include "track/plate_file.h"
#include "track/tracker.h"

// The calibrated camera, relative to the working directory.
inline constexpr const char* CAMERA_PARAM_FILE = "./Data/camera_para.dat";

// The run flow's steps. Each returns 0, or 1 after it has printed the
// failure's message and paused (libjpeg's own errors end without the pause).

// Loads the camera, resizes it to the frame, prints it, and makes `tracker`
// for that size with the marker's pattern loaded.
int setUpTracker(const char* patternName, double patternWidth, int width, int height,
                 std::unique_ptr<Tracker>& tracker, const TrackerSettings& settings = {});

// Tracks one frame into one key row, printing what detection could not trace.
int trackOneFrame(Tracker& tracker, const FrameImage& frame);

// The row of a frame without a picture, without detection: for a number of a
// picture sequence (`sequence`) a not-found row after which the next frame
// starts afresh; for a movie frame that could not be decoded, the row a
// blank frame gives.
int trackNoPicture(Tracker& tracker, bool sequence);

// Open the input, set `tracker` up for its frames and track every frame:
// every frame of a movie or picture sequence, or the one JPEG still. For a
// sequence `plate` (when given) receives its first number and rate.
int trackMovie(const char* patternName, double patternWidth, const char* movieName,
               std::unique_ptr<Tracker>& tracker, const TrackerSettings& settings = {},
               const RunOptions& options = {}, std::optional<PlateFrames>* plate = nullptr);
int trackImage(const char* patternName, double patternWidth, const char* imageName,
               std::unique_ptr<Tracker>& tracker, const TrackerSettings& settings = {});

// Smooths the track, writes it as the camera-motion file for `camNo` and says
// on the error stream how many rows it holds and in how many the marker was
// found. Writes the plate file beside it for a picture sequence's track, and
// removes an earlier one otherwise.
int finishTrack(Tracker& tracker, int camNo, const std::optional<PlateFrames>& plate = {});

// The whole run for a command line, `Lumeko [options] <five arguments>` (see
// options.h): checks the command line, that Lumeko.cm2 can be written in the
// working folder, then tracks the input; returns the process exit status.
int runLumeko(int argc, char** argv);
