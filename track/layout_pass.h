#pragma once

#include <string>
#include <vector>

#include "camera/camera_param.h"
#include "layout/layout_records.h"
#include "media/frame_source.h"
#include "pose/marker_pose.h"
#include "track/frame_loop.h"
#include "track/track_result.h"
#include "track/tracker.h"

// A marker of the set as the command line names it: its pattern file and
// printed width. Marker 0 is the five arguments' own.
struct SetMarker {
    std::string pattern;
    double width = 0.0;
};

// A mirror pose is kept beside the better one when its error is at most
// this many times the better one's plus MIRROR_ERROR_FLOOR (squared pixels).
inline constexpr double MIRROR_ERROR_RATIO = 4.0;
inline constexpr double MIRROR_ERROR_FLOOR = 0.5;

// The first pass: every frame of the prepared `source` through a detector
// with every marker's pattern loaded (working as `settings` say, for frames
// of `camera`'s size); each marker identified in a frame (the most confident
// square of its pattern; none when two squares of it are seen) is fitted
// alone, its mirror pose kept where it fits nearly as well, and appended to
// `sightings` in order of frames. Fails as set-up and the frame loop fail
// (PatternMissing and PatternUnreadable with `what` naming the file).
TrackResult sightMarkers(FrameSource& source, const CameraParam& camera,
                         const std::vector<SetMarker>& markers, const TrackerSettings& settings,
                         std::vector<MarkerSighting>& sightings, const FrameDone& frameDone);

// The sightings of one frame's marker list into `sightings`; `slotOf`
// gives the set's marker for each pattern slot (-1: none).
void sightFrame(const CameraParam& camera, const MarkerInfo* markers, int count,
                const std::vector<int>& slotMarker, const std::vector<SetMarker>& set,
                const PoseSettings& pose, int frame, std::vector<MarkerSighting>& sightings);
