#pragma once

#include <string>
#include <vector>

#include "math/image_point.h"
#include "math/matrix.h"

// Several printed markers on one set: what the first pass sees of them and
// the layout learned from it. Marker 0 is the first marker (the five
// arguments'), whose coordinates are the world's; the others follow in the
// order of their --marker options.

// Most markers on one set.
inline constexpr int SET_MARKER_MAX = 32;

// How a layout step ended: the one failure type of layout/.
enum class LayoutStatus {
    Ok,
    NoLink,        // no frame sees the first marker with another: nothing to place
    SolveFailed,   // the adjustment could not run (a value not finite)
    CannotRead,    // a layout file that cannot be opened (errno kept)
    BadFile,       // a layout file whose line `line` is not what it should be
    WrongMarkers,  // a layout file whose markers or widths differ from the command line's
    CannotWrite,   // a layout file that could not be written (errno kept)
};

// One marker seen in one frame: its corners in ideal pixels, in the order of
// the printed square's corners (top left, top right, bottom right, bottom
// left), and the one or two marker-to-camera poses they fit: two where the
// square is small or far enough that its mirror about the line of sight fits
// nearly as well, the better first.
struct MarkerSighting {
    int frame = 0;
    int marker = 0;
    ImagePoint corners[4] = {};
    int poseCount = 0;
    Pose poses[2] = {};
    double errors[2] = {};  // mean squared reprojection error of each, ideal pixels
};

// Where a marker of the set lies.
struct PlacedMarker {
    bool linked = false;  // placed; false for a marker never linked to the first
    double width = 0.0;
    Pose toWorld{};              // its coordinates to the first marker's
    int frames = 0;              // frames that saw it
    double sigmaDegrees = 0.0;   // uncertainty of its turn
    double sigmaPosition = 0.0;  // and of its place, in the widths' unit
};

// The layout of the set, a marker per index.
struct MarkerLayout {
    std::vector<PlacedMarker> markers;
};

// What a layout step gives: its status, and for a file the errno or the line.
struct LayoutResult {
    LayoutStatus status = LayoutStatus::Ok;
    int error = 0;
    int line = 0;
    bool ok() const { return status == LayoutStatus::Ok; }
};

// The corners of a square `width` wide centred on its origin, in the order
// of MarkerSighting's corners, as points of its plane (z = 0).
void squareCorners(double width, double corners[4][3]);
