#pragma once

// How a track (the rows of a Lumeko.cm2) measures up against the truth of
// the footage it was made from.

#include <string>
#include <vector>

#include "tools/compare/truth_table.h"
#include "track/key_table.h"

// A found camera further than this from the truth is a false find.
inline constexpr double FALSE_ANGLE_DEGREES = 20.0;
inline constexpr double FALSE_DISTANCE_FRACTION = 0.2;

enum class Verdict {
    Right,   // found, the marker in view, the camera within the bounds
    Held,    // found in one of the two frames after the marker left the picture, within the bounds
    False,   // found, but the marker out of view (not held) or the camera beyond the bounds
    Missed,  // not found, the marker in view
    None,    // not found, the marker out of view
};
const char* verdictName(Verdict verdict);

struct FrameScore {
    int frame;  // in the truth
    Verdict verdict;
    double rotation, position;  // errors of a found camera (degrees, fraction of the distance)
};

struct ClipScore {
    int frames = 0, visible = 0, found = 0, right = 0, held = 0, falseFinds = 0;
    // Found where the marker is out of view (not held) and within the bounds:
    // false finds, but what following the scene around the marker should give.
    int outOfViewRight = 0;
    // Over the found frames; NaN when there is none.
    double rotationMedian = 0.0, rotationWorst = 0.0, positionMedian = 0.0, positionWorst = 0.0;
};

// Scores track row i against truth frame `from` + i. 0, or -1 with `error`
// set when the track has rows beyond the truth.
int scoreTrack(const std::vector<TruthRow>& truth, const std::vector<KeyRow>& track, int from,
               std::vector<FrameScore>& frames, ClipScore& clip, std::string& error);
