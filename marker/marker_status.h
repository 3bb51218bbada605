#pragma once

#include <cstdint>

// How a detection step ended: the one failure type of marker/. A step that
// fills records or storage it is given writes them only on Ok unless it says
// otherwise.
enum class MarkerStatus : uint8_t {
    Ok,
    // Set-up: a size or capacity that is not positive or too large, or
    // working storage that cannot be allocated.
    BadSize,
    OutOfMemory,
    // A frame with no pixels, or not of the size the storage was made for.
    BadFrame,
    // The frame needs more provisional labels than the storage holds.
    CapacityExceeded,
    // Why contour tracing gave up on a region: no pixel of the label on its
    // box's top row; a lone pixel with no neighbour to step to; an outline
    // that reached CONTOUR_TRACE_LIMIT points.
    ContourNoStart,
    ContourDeadEnd,
    ContourTooLong,
    // An outline without exactly four corners (or, with robust sides, not
    // a square with a dented or bumped side).
    NotASquare,
    // No lines, corners or homography: a side with too few points, points
    // that do not span a line, exactly parallel lines, three corners on one
    // line, a sample point at infinity.
    Degenerate,
    // No edge across a grey profile: it leaves the frame, is too flat, or
    // does not cross its middle level.
    NoEdge,
    // A pattern file that cannot be opened (errno), one with fewer than 3072
    // readable integers, or a full pattern set.
    PatternCannotOpen,
    PatternUnreadable,
    PatternSetFull,
    // A sampled pattern image that is uniform (nothing to correlate), or one
    // that no template correlates with positively.
    UniformPattern,
    NoMatch,
    // No identified marker seen in the frame itself.
    NotSeen,
    // Pixels all alike: no threshold separates them.
    AllAlike,
};

// The number the tracer's diagnostics give a reason it gave up on a region:
// 1 for ContourNoStart, 2 for ContourDeadEnd, 3 for ContourTooLong; 0 for
// any other status.
inline int arContourFailureNumber(MarkerStatus status) {
    switch (status) {
        case MarkerStatus::ContourNoStart:
            return 1;
        case MarkerStatus::ContourDeadEnd:
            return 2;
        case MarkerStatus::ContourTooLong:
            return 3;
        default:
            return 0;
    }
}
