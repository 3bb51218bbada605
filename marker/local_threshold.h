#pragma once

#include <cstdint>
#include <memory>

#include "image/frame_image.h"
#include "marker/marker_status.h"

// A threshold of each part of the frame, for footage lit unevenly: the frame
// is cut into square tiles about 1/128 of its width; a pixel is dark when its
// grey level (blue + green + red) is at most its tile's limit, which lies a
// margin below the mean grey level of the window of tiles around it (clipped
// to the frame). A narrow window (LOCAL_WINDOW_NARROW tiles across, about a
// 25th of the frame's width) comes first: where a shadow's edge crosses a
// window, the shadowed paper within half a window of it turns dark and joins
// the marker's border. A wide one (LOCAL_WINDOW_WIDE) keeps a large marker's
// border dark through more of its width.

// Tiles across the frame's width the tile size is chosen for, and the
// windows' widths in tiles.
inline constexpr int LOCAL_TILES_ACROSS = 128;
inline constexpr int LOCAL_WINDOW_NARROW = 5;
inline constexpr int LOCAL_WINDOW_WIDE = 13;
// A pixel is dark when its grey level is at most LOCAL_MEAN_FRACTION / 16 of
// the window's mean, less LOCAL_MARGIN (levels of blue + green + red): a
// fixed part of the light, so that noise on dim paper does not turn dark.
inline constexpr int LOCAL_MEAN_FRACTION = 13;
inline constexpr int LOCAL_MARGIN = 9;
// Nor above the window's least grey level plus LOCAL_LEAST_SHARE / 16 of the
// way from it to the mean: where a deep shadow's edge crosses the window,
// the shadowed paper is darker than the mean but far lighter than the ink.
inline constexpr int LOCAL_LEAST_SHARE = 10;

// The local threshold's working storage, sized once by arInitLocalThreshold.
struct LocalThresholdStorage {
    int width = 0;
    int height = 0;
    int tileSize = 0;
    int tilesX = 0;
    int tilesY = 0;
    std::unique_ptr<uint32_t[]> columnSums;  // one tile row's grey levels, a column each
    std::unique_ptr<uint32_t[]> columnMins;  // and the least of each column
    std::unique_ptr<int32_t[]> tileMeans;    // tilesX x tilesY, row by row
    std::unique_ptr<int32_t[]> tileMins;     // the least grey level of each tile
    std::unique_ptr<int32_t[]> tileLimits;   // tilesX x tilesY, row by row
    std::unique_ptr<int32_t[]> acrossSums;   // the means over each window's columns
    std::unique_ptr<int32_t[]> acrossMins;   // and their least
    std::unique_ptr<int32_t[]> windowSums;   // one row of tiles' window sums, tilesX
    std::unique_ptr<int32_t[]> windowMins;   // and their least
};

// Sizes `storage` for frames of width x height pixels: Ok, BadSize for a size
// that is not positive, or OutOfMemory.
MarkerStatus arInitLocalThreshold(LocalThresholdStorage& storage, int width, int height);

// One pass over the pixels of `frame` (of the size the storage was made
// for): each tile's mean and least grey level, for arLocalThresholds.
void arTileLevels(LocalThresholdStorage& storage, const FrameImage& frame);

// The tiles' limits over windows `windowTiles` tiles across into
// storage.tileLimits, from the tile levels of the frame arTileLevels last
// measured (one measure serves every window).
void arLocalThresholds(LocalThresholdStorage& storage, int windowTiles);
