#pragma once

// The documented detection entry points, as thin wrappers over one default
// Detector (marker/detector.h) kept in detect_marker.cpp. New code creates
// and passes its own Detector instead.

#include "marker/detection_trace.h"
#include "marker/frame_image.h"
#include "marker/marker_info.h"
#include "marker/pattern_set.h"

// Starts detection afresh for frames of width x height pixels: creates the
// default detector for the current camera (arSetCameraParam), whose size must
// be width x height, with an empty history. Patterns loaded so far, before or
// after an earlier call, stay loaded with their ids. 0, or -1 when the size
// is not positive, differs from the current camera's, or memory runs out
// (the previous detector, if any, is then kept).
int arInitDetection(int width, int height);

// Finds the markers of one frame (of the working size) and steadies them with
// the history of earlier frames. On success returns 0 and points `markers` at
// detection's own list of `count` records, valid until the next call; returns
// -1 with `count` 0 when the frame cannot be labelled or detection has not
// been initialised.
int arDetectMarker(const FrameImage& frame, int threshold, const MarkerInfo** markers, int* count);

// Loads a pattern file into the default detector's next free slot (or, before
// arInitDetection, into the patterns the default detector will start with);
// returns the slot number (the pattern's id), or -1. Prints nothing: for the
// reason use Detector::loadPattern or arLoadPatternFile (marker/pattern.h).
// The file's format is described in marker/pattern.h.
int arLoadPattern(const char* filename);

// The trace of the last arDetectMarker call (all zero before the first).
const DetectionTrace& arDetectionTrace();

// The default detector's pattern set, filled by arLoadPattern.
const PatternSet& arPatternSet();
