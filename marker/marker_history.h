#pragma once

#include "marker/marker_records.h"

// The markers of one pass, as handed to the caller.
struct MarkerList {
    MarkerInfo markers[MARKER_MAX];
    int count;
};

// Identified markers remembered across passes, in insertion order; each id
// occurs at most once.
struct MarkerHistory {
    MarkerHistoryEntry entries[MARKER_MAX];
    int count;
};

// The squared distance of the two markers' centres over the current marker's
// area: how far apart they are for their size.
double arCentreDistanceRatio(const MarkerInfo& remembered, const MarkerInfo& current);

// Whether the remembered marker and the current one are the same square:
// area ratio remembered / current within [TRACK_AREA_RATIO_MIN,
// TRACK_AREA_RATIO_MAX] and arCentreDistanceRatio below TRACK_DISTANCE_MAX.
bool arMarkersMatch(const MarkerInfo& remembered, const MarkerInfo& current);

// Steadies one pass's markers with the history, in this order: carries
// identities over from better-matched remembered markers, takes the id from
// markers below CONFIDENCE_MIN, ages the history, remembers the identified
// markers and re-adds remembered markers that no current marker matches.
// Neither store grows past MARKER_MAX.
// With `strict`, identities are carried only as the strict history's limits
// allow (STRICT_CARRY_CONFIDENCE_MIN, STRICT_AREA_RATIO_MIN and _MAX).
void arSteadyMarkers(MarkerHistory& history, MarkerList& list, bool strict = false);

// Marks in `keeps` (one entry per marker of `list`) the markers that may come
// out of arSteadyMarkers with an identity: those matched at least
// CONFIDENCE_MIN, and those a remembered marker matches best (it may carry its
// identity onto them). Only the corners of these are read afterwards.
void arMarkersKeepingIdentity(const MarkerHistory& history, const MarkerList& list, bool* keeps);

// For the strict history: takes the id and the confidence from every marker
// below NESTED_CONFIDENCE_MIN whose corners lie inside the box of one of
// `labels`' regions more than NESTED_AREA_FACTOR times its area.
void arQuestionNestedMarkers(const LabelResult& labels, MarkerList& list);
