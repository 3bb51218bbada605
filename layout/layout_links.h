#pragma once

#include <vector>

#include "layout/layout_records.h"

// How far two estimates of one relative pose may differ and still agree:
// their turn apart, and their offset apart as a share of the distance
// between the markers plus a share of the larger width.
inline constexpr double LINK_AGREE_DEGREES = 3.0;
inline constexpr double LINK_AGREE_SHARE = 0.05;
inline constexpr double LINK_AGREE_WIDTHS = 0.1;
// Most frames of a pair whose candidates stand for its link: beyond this
// many, frames spread evenly over the pair's (every frame still votes).
inline constexpr int LINK_HYPOTHESIS_FRAMES = 64;

// The layout's first guess from the sightings alone: every frame that sees
// two markers gives candidate relative poses (one per pose of each, so four
// where both are ambiguous); each pair of markers takes the candidate the
// most frames agree with (of LINK_HYPOTHESIS_FRAMES frames' candidates) (the smaller error on equal
// counts), and the pairs are chained from marker 0 over the co-visibility graph, the pairs seen
// together most first. `widths` holds each marker's width; a marker the
// chain never reaches stays unlinked. NoLink when none is linked to marker 0.
// The sightings come in order of frames.
LayoutResult linkMarkers(const std::vector<MarkerSighting>& sightings,
                         const std::vector<double>& widths, MarkerLayout& layout);

// The turn between two rotations, in degrees.
double turnBetweenDegrees(const Pose& a, const Pose& b);
