#pragma once

// Camera moves for synthetic footage of a marker lying in the z = 0 plane of
// marker coordinates (x right and y up on the printed marker, z out of it
// towards the camera). Lengths are in the unit of the marker width.

#include <vector>

#include "math/matrix.h"

// Marker-to-camera transformation [R | t]: camera x right, y down, z forward.
using CameraPose = Pose;

struct Point3 {
    double x, y, z;
};

// The camera at `position` looking at `target`, turned by `rollDegrees` about
// its viewing direction (positive turns the camera's x axis towards its y
// axis, so the picture turns the other way). Unturned, the
// picture's up is the marker's +z (or, looking straight down, +y), so a camera
// south of the marker (at negative y) sees it upright.
CameraPose lookAt(const Point3& position, const Point3& target, double rollDegrees);

enum class PathKind { Orbit, Approach, Shake, Exit, Pan, Sway };

// Returns false for an unknown name; names are "orbit", "approach", "shake", "exit", "pan",
// "sway".
bool pathFromName(const char* name, PathKind& kind);

// The pose at frame `frame` of `frameCount` on the path (fractional frames lie
// between their neighbours, for motion blur), for a marker of `markerWidth`
// seen from a base distance `distance`:
// - orbit: once around the marker, elevation swinging between 35 and 70 degrees;
// - approach: from 2.4 x distance in to half the distance, slightly sideways;
// - shake: a hand-held camera about a fixed view, jittering in position and roll;
// - exit: a fixed camera panning sideways so the marker leaves the picture on
//   one side and then the other;
// - pan: a camera moving sideways and turning further that way, so the marker
//   leaves the picture for about the middle half of the path and comes back;
//   the picture shows the table all the while;
// - sway: a hand-held camera swinging its aim twice to each side of the
//   marker and once up and down, rolling a little: the marker stays in the
//   picture, its speed across it rising from nothing at each turn to the
//   most in between, in changing directions (with motion blur, streaks of
//   every length up to the most).
CameraPose pathPose(PathKind kind, double frame, int frameCount, double markerWidth,
                    double distance);

// A view the camera passes through: where it is and the point it looks at.
struct PathView {
    Point3 position, target;
};

// The camera moving through `views` (two or more), spread evenly over the
// frames from the first to the last, on Catmull-Rom curves through their
// positions and through their targets; unrolled.
CameraPose viewsPose(const std::vector<PathView>& views, double frame, int frameCount);
