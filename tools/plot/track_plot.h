#pragma once

#include <string>
#include <vector>

#include "track/camera_motion_reader.h"

// A one-page picture of a track: the six key curves against the frame number
// (frames without the marker shaded), and a top and a side view of the camera
// path with the marker at the origin.

struct PlotRect {
    double x, y, width, height;
};

// Where the panels lie on a page of width x height: the six curves in the
// key-row order (translateX, translateY, translateZ, rotateY, rotateX,
// rotateZ) down the left, the top view (marker x right, marker y up) and the
// side view (marker x right, height up) on the right.
struct PlotLayout {
    PlotRect curves[6];
    PlotRect top;
    PlotRect side;
};
// Each panel's name lies above it, the frame numbers under the last curve.
PlotLayout plotLayout(double width, double height);
// The size of the page's text for a page `height` high.
double plotFont(double height);

// Colours (red, green, blue, 0..1) the page uses, for whoever reads it back.
inline constexpr double PLOT_BACKGROUND[3] = {1.0, 1.0, 1.0};
inline constexpr double PLOT_LOST_SHADE[3] = {1.0, 0.82, 0.78};
inline constexpr double PLOT_BRIDGED_SHADE[3] = {0.80, 0.88, 1.0};

// Writes the page as PNG, SVG or PDF by the file's extension (the size in
// pixels, or points for SVG and PDF). `markerWidth` is the width the marker is
// drawn with in the path views, in the unit of the positions (key / 0.005).
// Rows flagged in `bridged` (from Lumeko's --report; empty when not given)
// are shaded apart from the lost ones. 0, or -1 with `error` set.
int writePlot(const std::string& path, const CameraMotion& motion, double markerWidth, int width,
              int height, std::string& error, const std::vector<bool>& bridged = {});

// The rows a report written by Lumeko --report FILE marks "bridged", for a
// track of `rowCount` rows: 0, or -1 with `error` naming the file and the
// line that is not a report's.
int readBridgedRows(const std::string& path, int rowCount, std::vector<bool>& bridged,
                    std::string& error);
