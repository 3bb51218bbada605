#pragma once

#include "image/frame_image.h"
#include "image/transfer_curve.h"
#include "math/image_point.h"

// Farthest a ramp's profile reaches from the side it is measured across, in
// pixels: a smear of up to about twice this still has light and dark
// beyond its ends.
inline constexpr double EDGE_RAMP_REACH_MAX = 40.0;
// Spacing of a ramp's profile samples, pixels.
inline constexpr double EDGE_RAMP_STEP = 0.5;
// Most samples of a ramp's profile.
inline constexpr int EDGE_RAMP_SAMPLES =
    static_cast<int>(2.0 * EDGE_RAMP_REACH_MAX / EDGE_RAMP_STEP) + 1;

// The grey ramp across one edge, measured on a profile along the normal from
// the dark to the light side: where its middle is (the point that balances
// the light beyond it against the dark before it, in the picture's levels
// and in linear light), how wide it is, and how far from symmetric about
// that middle it is in each. A blur gathers light: the ramp it leaves is
// symmetric in linear light, and the picture's transfer curve bends it in the
// levels; a picture blurred after encoding (scaled, or drawn by a renderer
// that blurs its levels) is symmetric in the levels instead.
struct EdgeRamp {
    double levelEdge = 0.0;   // the middle in the levels, along the normal from the origin
    double lightEdge = 0.0;   // the middle in linear light
    double width = 0.0;       // from 10 % to 90 % of the way up, in the levels, pixels
    double steepWidth = 0.0;  // the width were it all as steep in light as its steepest pixel
    double steepEdge = 0.0;   // the middle of that steepest pixel, along the normal
    double levelSkew = 0.0;   // mean squared asymmetry about the middle in the levels
    double lightSkew = 0.0;   // the same in linear light
};

// Measures the ramp across the edge at `origin` (observed pixels) along the
// unit `normal` (dark to light), reading at most `innerReach` pixels towards
// the dark side and `outerReach` towards the light (each at most
// EDGE_RAMP_REACH_MAX). `light` turns each level into linear light. 0, or -1
// when the profile leaves the frame, has too little contrast, crosses its
// middle level nowhere, or leaves no flat stretch of dark and light beyond
// the ramp's ends within its reach.
int arMeasureRamp(const FrameImage& frame, const LinearLevels& light, ImagePoint origin,
                  ImagePoint normal, double innerReach, double outerReach, EdgeRamp* ramp);
