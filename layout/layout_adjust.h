#pragma once

#include <vector>

#include "layout/layout_records.h"

// The robust loss's scale: reprojection errors up to this many pixels count
// fully, larger ones linearly (Huber).
inline constexpr double ADJUST_LOSS_PIXELS = 1.0;
// Most iterations of the adjustment.
inline constexpr int ADJUST_ITERATIONS_MAX = 100;

// Moves the poses of every linked marker but the first, and the camera of
// every frame that sees two linked markers, to the least robust sum of
// squared distances between the sightings' corners (ideal pixels) and their
// projections through `P`. Starts each camera from the sighting pose, of
// either solution, that best fits the frame's other markers under `layout`;
// then gives each marker its uncertainty (the spread of its single-frame
// places about the adjusted one) and its count of frames. SolveFailed when a
// value is not finite.
LayoutResult adjustLayout(const std::vector<MarkerSighting>& sightings, const double P[3][4],
                          MarkerLayout& layout);

// A marker whose place is uncertain (sigmaPosition) by more than this share
// of its width is placed too loosely to join any camera: its frames
// disagree on where it lies (smeared or misread squares), and a camera
// fitted to it would carry that error.
inline constexpr double LOOSE_PLACE_SHARE = 0.1;

// The layout from the sightings: linked (linkMarkers) and adjusted
// (adjustLayout); then the marker placed most loosely, beyond
// LOOSE_PLACE_SHARE, is marked in `loose` and the others linked and adjusted
// again without its sightings, until none is. The first failure's status
// (NoLink when, without the loose ones, none is linked to marker 0).
LayoutResult placeMarkers(const std::vector<MarkerSighting>& sightings,
                          const std::vector<double>& widths, const double P[3][4],
                          MarkerLayout& layout, std::vector<bool>& loose);
