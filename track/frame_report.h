#pragma once

#include <cstdint>
#include <cstdio>

#include "math/image_point.h"
#include "track/key_table.h"
#include "track/track_result.h"

// How a frame's camera came about.
enum class FrameStatus {
    Marker,    // the marker was seen in the frame
    Bridged,   // the marker was not seen; the camera comes from the scene around it
    Held,      // the marker was not seen; the detector held it from an earlier frame
    Lost,      // no camera
    Followed,  // the marker was not seen as a square; its drawing was aligned with the frame
};

// What a frame's row of the report says. The marker's confidence and corners
// (observed pixels, the printed picture's top-left corner first, clockwise as
// printed) for Marker and Held, the corners alone for Followed; the
// reprojection error in pixels and the points the camera was fitted to (the
// marker's 4 corners, or the bridged scene points; for a lost frame, the
// scene points followed into it; for a followed one, the root mean square
// difference of the drawing as a share of the marker's contrast and the
// pixels compared).
struct FrameRecord {
    FrameStatus status = FrameStatus::Lost;
    double confidence = 0.0;
    ImagePoint corners[4] = {};
    double error = 0.0;
    int points = 0;
    // With several markers: those the camera was fitted to and those seen
    // but dropped as disagreeing, a bit each (marker 0 the lowest).
    uint32_t markers = 0;
    uint32_t dropped = 0;
    // Followed from a cold find (MarkerFollow::followCold): a frame
    // following back may still take, as a lost one.
    bool cold = false;
};

// One record per key row.
struct FrameReport {
    int count = 0;
    bool markerSet = false;  // several markers: each line names those used and dropped
    FrameRecord rows[KEY_TABLE_SIZE];
};

// The status as the report names it: "marker", "bridged", "held", "lost",
// "followed".
const char* frameStatusName(FrameStatus status);

// Prints the report as CSV: a header line, then one line per frame (frame,
// status, confidence, x0, y0 ... x3, y3, error, points), fields a frame does
// not have left empty; with several markers two more, `markers` and
// `dropped`, the markers' numbers separated by spaces.
void putFrameReport(const FrameReport& report, std::FILE* file);

// Writes the report to `name` through a temporary file beside it that replaces
// it only once complete.
TrackResult writeFrameReport(const FrameReport& report, const char* name);
