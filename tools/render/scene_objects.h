#pragma once

#include <vector>

// Things lying or standing on the marker plane, in marker coordinates (the
// unit of the marker width; z up, out of the plane towards the camera).

// A flat disc parallel to the plane, `height` above it (0: lying on it), of
// one colour: a dark object on the sheet, or held above it a fingertip or a
// hand, which then moves against the sheet as the camera moves. Swept from
// its centre over (reachX, reachY) it is a rounded bar: a finger or a pen.
struct Disc {
    double x, y, radius, height;
    double colour[3];  // red, green, blue, 0..255
    double reachX = 0.0, reachY = 0.0;
};

// A disc that may come, go and move over a clip: present from frame `first`
// to frame `last` (both included; `last` < 0: to the end), and when `moves`,
// travelling in a straight line from (disc.x, disc.y) at its first frame to
// (toX, toY) at its last.
struct Occluder {
    Disc disc;
    int first = 0, last = -1;
    bool moves = false;
    double toX = 0.0, toY = 0.0;
};

// The occluders present at frame `time` (fractional between frames: present
// within half a frame of their frames) of `frameCount`, placed where they are
// then, into `discs`.
void discsAt(const std::vector<Occluder>& occluders, double time, int frameCount,
             std::vector<Disc>& discs);

// A box standing on the plane, its base centred on (x, y): `width` along x,
// `depth` along y, `height` up. Its faces carry a pattern of squares in many
// shades (corners a feature detector finds), lit most from above.
struct Box {
    double x, y, width, depth, height;
};

// The points origin + s direction.
struct Ray {
    double origin[3];
    double direction[3];
};

// The nearest disc or box face the ray meets at 0 < s < `limit`: its s and
// its colour before the light. False when it meets none.
bool nearestObject(const std::vector<Disc>& discs, const std::vector<Box>& boxes, const Ray& ray,
                   double limit, double& s, double colour[3]);
