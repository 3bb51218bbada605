#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "media/frame_source.h"
#include "track/track_result.h"
#include "track/tracker.h"

// The frames of one run go from the frame source to the tracker here: each
// frame, as it came, becomes one key row and one record of the report.

// TooLong, before the first frame, when the source says it holds more
// frames than the key table takes.
TrackResult fitsKeyTable(const FrameSource& source);

// Called after each frame has been handed to the tracker: how many have
// been, and why detection could not trace each region it gave up on in that
// frame (none for a frame without a picture).
using FrameDone = std::function<void(long long framesDone, std::span<const MarkerStatus> untraced)>;

// Tracks every frame of the prepared `source` with `tracker`: a picture is
// tracked, a movie frame whose picture did not decode as a blank frame, a
// gap in a sequence as a frame after which the next starts afresh. Ends at
// the source's End, or with the first failure: the tracker's, or
// InputFailed with what the source said.
TrackResult trackFrames(FrameSource& source, Tracker& tracker, const FrameDone& frameDone);
