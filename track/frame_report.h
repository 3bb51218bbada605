#pragma once

#include <cstdio>

#include "files/replace_file.h"
#include "math/image_point.h"
#include "track/key_table.h"

// How a frame's camera came about.
enum class FrameStatus {
    Marker,   // the marker was seen in the frame
    Bridged,  // the marker was not seen; the camera comes from the scene around it
    Held,     // the marker was not seen; the detector held it from an earlier frame
    Lost,     // no camera
};

// What a frame's row of the report says. The marker's confidence and corners
// (observed pixels, the printed picture's top-left corner first, clockwise as
// printed) for Marker and Held; the reprojection error in pixels and the
// points the camera was fitted to (the marker's 4 corners, or the bridged
// scene points; for a lost frame, the scene points followed into it).
struct FrameRecord {
    FrameStatus status = FrameStatus::Lost;
    double confidence = 0.0;
    ImagePoint corners[4] = {};
    double error = 0.0;
    int points = 0;
};

// One record per key row.
struct FrameReport {
    int count = 0;
    FrameRecord rows[KEY_TABLE_SIZE];
};

// The status as the report names it: "marker", "bridged", "held", "lost".
const char* frameStatusName(FrameStatus status);

// Prints the report as CSV: a header line, then one line per frame (frame,
// status, confidence, x0, y0 ... x3, y3, error, points), fields a frame does
// not have left empty.
void putFrameReport(const FrameReport& report, std::FILE* file);

// Writes the report to `name` through a temporary file beside it that replaces
// it only once complete.
FileResult writeFrameReport(const FrameReport& report, const char* name);
