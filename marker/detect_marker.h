#pragma once

#include "marker/frame_image.h"
#include "marker/marker_info.h"
#include "marker/marker_records.h"

// Sizes detection's working storage for frames of width x height pixels.
// Called once at set-up, after the camera is made current; 0, or -1 when the
// size is not positive or the storage cannot be allocated.
int arInitDetection(int width, int height);

// Finds the markers of one frame (of the working size) and steadies them with
// the history of earlier frames. On success returns 0 and points `markers` at
// detection's own list of `count` records, valid until the next call; returns
// -1 with `count` 0 when the frame cannot be labelled.
int arDetectMarker(const FrameImage& frame, int threshold, const MarkerInfo** markers, int* count);

// Fits the edges of each of `count` candidates and identifies its pattern
// into `markers`, in candidate order; candidates whose edges cannot be
// fitted are dropped. `count` comes back as the number of markers.
void arIdentifyMarkers(const FrameImage& frame, const MarkerCandidate* candidates,
                       MarkerInfo* markers, int* count);
