#pragma once

#include "image/frame_image.h"
#include "marker/marker_status.h"
#include "math/edge_line.h"
#include "math/image_point.h"

// Most points measured along one side.
inline constexpr int EDGE_REFINE_POINT_MAX = 16;
// Half the length of the grey profile read across a side, in pixels.
inline constexpr double EDGE_PROFILE_HALF = 3.0;
// Least difference between the dark and light level of a profile (sum of
// blue, green and red) for it to give a point.
inline constexpr double EDGE_CONTRAST_MIN = 60.0;
// A refined side whose ends lie further than this (pixels) from the plain
// line is not trusted; the plain line stays.
inline constexpr double EDGE_SHIFT_MAX = 2.5;

// Edge refinement's storage: one side's measured edge points (ideal
// coordinates) and their weights.
struct EdgeRefineStorage {
    ImagePoint points[EDGE_REFINE_POINT_MAX];
    double weights[EDGE_REFINE_POINT_MAX];
};

// Moves a marker's four fitted sides onto the grey-level edge and intersects
// them into new corners. `edgeLines` and `vertices` come from arFitEdgeLines
// (ideal coordinates, side i from corner i to corner i + 1, the marker dark
// inside) and are replaced in place. For each side, grey profiles (blue +
// green + red, bilinear) are read across the side in observed coordinates at
// up to EDGE_REFINE_POINT_MAX points between its corners, clear of them; on
// each profile the edge lies where the intensity is halfway between the local
// dark and light levels (first where the profile crosses that level, then
// from the profile's area about it, which blur and pixel sampling do not
// bias). The points go back to ideal coordinates through the lens model
// `distFactor` and a line is fitted to them with weights that shrink for
// points off the line. A side with fewer than four points, or whose refined
// line leaves the plain one by more than EDGE_SHIFT_MAX at its ends, keeps
// the plain line. Ok with the number of sides refined (0..4), or Degenerate
// when the new corners cannot be intersected (nothing is then changed).
struct EdgeRefinement {
    MarkerStatus status;
    int sides;
};
EdgeRefinement arRefineEdges(const FrameImage& frame, const double distFactor[4],
                             EdgeRefineStorage& storage, EdgeLine edgeLines[4],
                             ImagePoint vertices[4]);

// The edge across one grey profile: `origin` (observed coordinates) and the
// unit direction `normal` from the dark towards the light side. Gives the
// signed distance along `normal` from `origin` to the edge in `offset`: Ok,
// or NoEdge when the profile leaves the frame, is too flat, or does not cross
// its middle level within EDGE_PROFILE_HALF.
MarkerStatus arEdgeAcross(const FrameImage& frame, ImagePoint origin, ImagePoint normal,
                          double* offset);
