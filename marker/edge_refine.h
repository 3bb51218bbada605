#pragma once

#include "image/frame_image.h"
#include "image/transfer_curve.h"
#include "marker/edge_ramp.h"
#include "marker/marker_status.h"
#include "math/edge_line.h"
#include "math/image_point.h"

// Most points measured along one side (their ramps tell how smeared it is).
inline constexpr int EDGE_REFINE_POINT_MAX = 16;
// Most points a side of a crisp marker is placed from (arSetEdgeEveryPixel):
// one a pixel on sides up to about 70 pixels, so that its line averages the
// noise of all its pixels (from 16 points a noisy square's corners strayed
// half as far again).
inline constexpr int EDGE_SHARP_POINT_MAX = 64;
// Half the length of the grey profile read across a side, in pixels.
inline constexpr double EDGE_PROFILE_HALF = 3.0;
// Least difference between the dark and light level of a profile (sum of
// blue, green and red) for it to give a point.
inline constexpr double EDGE_CONTRAST_MIN = 60.0;
// A refined side whose ends lie further than this (pixels) from the plain
// line is not trusted; the plain line stays. A smeared side may move further:
// its threshold line lies near the dark end of its ramp.
inline constexpr double EDGE_SHIFT_MAX = 2.5;
// A side whose ramps are at most this wide (pixels, 10 % to 90 %, their
// median) is sharp; a wider one is smeared.
inline constexpr double EDGE_SHARP_WIDTH = 4.0;

// Where one edge point is measured: on the plain side, across it.
struct EdgeProbe {
    ImagePoint origin;  // observed coordinates
    ImagePoint normal;  // unit, outwards as the lens shows it there
    EdgeRamp ramp;
    bool measured;  // the ramp was measured
};

// Edge refinement's storage: each side's probes, one side's measured edge
// points (ideal coordinates) and their weights, and the light of each level.
struct EdgeRefineStorage {
    EdgeProbe probes[4][EDGE_REFINE_POINT_MAX];
    int probeCount[4];
    ImagePoint points[EDGE_SHARP_POINT_MAX];
    double weights[EDGE_SHARP_POINT_MAX];
    TransferCurve curve = TransferCurve::Srgb;
    LinearLevels light;
    bool lightReady = false;
    bool everyPixel = false;  // a crisp marker's sides from a point a pixel
};

// The curve the footage's levels were encoded with (sRGB unless set).
void arSetEdgeTransfer(EdgeRefineStorage& storage, TransferCurve curve);

// Whether a crisp marker's sides (every ramp at most 2.5 pixels wide) are
// placed from a point a pixel, up to EDGE_SHARP_POINT_MAX, rather than from
// its EDGE_REFINE_POINT_MAX probes. Off unless set: with --best on smeared
// footage it put two frames of a sway (320 x 240) 0.8 to 0.95 degrees off
// where the few points kept them within 0.1, which is not yet understood.
void arSetEdgeEveryPixel(EdgeRefineStorage& storage, bool on);

// Moves a marker's four fitted sides onto the grey-level edge and intersects
// them into new corners. `edgeLines` and `vertices` come from arFitEdgeLines
// (ideal coordinates, side i from corner i to corner i + 1, the marker dark
// inside) and are replaced in place. For each side, grey profiles (blue +
// green + red, bilinear) are read across the side in observed coordinates at
// up to EDGE_REFINE_POINT_MAX points between its corners, clear of them (and
// of the ramps of the sides beside them), and the ramp across each is
// measured (arMeasureRamp). With arSetEdgeEveryPixel on and every ramp at
// most 2.5 pixels wide, each side's edge is found at a point a pixel, up to
// EDGE_SHARP_POINT_MAX, by the short profile below. When a side is smeared (EDGE_SHARP_WIDTH) and
// the marker's ramps of more than 2.5 pixels are clearly more symmetric in
// linear light than in the levels (a blur gathers light), the edge of every
// side lies at its ramps' middle in linear light. Otherwise (the picture blurred after encoding, or
// too sharp to tell) it lies where the intensity crosses halfway between the local dark and
// light levels, then from the profile's area about it (arEdgeAcross: a short profile symmetric
// about that crossing, as such a ramp is, which keeps today's sharp edges as they were). The
// points go back to ideal coordinates through the lens model `distFactor` and a line is fitted to
// them with weights that shrink for points off the line. A side with fewer than four points, or
// whose refined line leaves the plain one by more than EDGE_SHIFT_MAX (or, smeared, most of its
// ramp's width) at its ends, keeps the plain line. Ok with the number of sides refined (0..4), or
// Degenerate when the new corners cannot be intersected (nothing is then changed); either way the
// widest and the narrowest of the sides' median ramp widths (pixels; 0 when none was measured):
// how smeared the marker is, and how unevenly.
struct EdgeRefinement {
    MarkerStatus status;
    int sides;
    double rampWidth;
    double narrowestRamp;
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
