#include "marker/local_threshold.h"

#include <algorithm>
#include <new>

namespace {

// Adds the grey level of each of the row's `width` pixels to its column,
// and keeps the column's least.
void addRow(const unsigned char* pixels, int width, uint32_t* columns, uint32_t* least) {
    for (int x = 0; x < width; x++) {
        const unsigned char* p = pixels + 4 * static_cast<size_t>(x);
        const uint32_t grey = static_cast<uint32_t>(p[0] + p[1] + p[2]);
        columns[x] += grey;
        least[x] = std::min(least[x], grey);
    }
}

}  // namespace

void arTileLevels(LocalThresholdStorage& storage, const FrameImage& frame) {
    const int size = storage.tileSize;
    uint32_t* columns = storage.columnSums.get();
    uint32_t* least = storage.columnMins.get();
    for (int ty = 0; ty < storage.tilesY; ty++) {
        const int y0 = ty * size;
        const int y1 = std::min(y0 + size, frame.height);
        std::fill_n(columns, frame.width, 0u);
        std::fill_n(least, frame.width, 765u);
        for (int y = y0; y < y1; y++) {
            addRow(frame.pixels + 4 * static_cast<size_t>(y) * frame.width, frame.width, columns,
                   least);
        }
        for (int tx = 0; tx < storage.tilesX; tx++) {
            const int x0 = tx * size;
            const int x1 = std::min(x0 + size, frame.width);
            uint64_t sum = 0;
            uint32_t tileLeast = 765;
            for (int x = x0; x < x1; x++) {
                sum += columns[x];
                tileLeast = std::min(tileLeast, least[x]);
            }
            storage.tileMins[ty * storage.tilesX + tx] = static_cast<int32_t>(tileLeast);
            const uint64_t count = static_cast<uint64_t>(x1 - x0) * (y1 - y0);
            storage.tileMeans[ty * storage.tilesX + tx] = static_cast<int32_t>(sum / count);
        }
    }
}

MarkerStatus arInitLocalThreshold(LocalThresholdStorage& storage, int width, int height) {
    if (width <= 0 || height <= 0) {
        return MarkerStatus::BadSize;
    }
    storage.width = width;
    storage.height = height;
    storage.tileSize = std::max(4, (width + LOCAL_TILES_ACROSS / 2) / LOCAL_TILES_ACROSS);
    storage.tilesX = (width + storage.tileSize - 1) / storage.tileSize;
    storage.tilesY = (height + storage.tileSize - 1) / storage.tileSize;
    const size_t tiles = static_cast<size_t>(storage.tilesX) * storage.tilesY;
    try {
        storage.columnSums = std::make_unique<uint32_t[]>(width);
        storage.columnMins = std::make_unique<uint32_t[]>(width);
        storage.tileMins = std::make_unique<int32_t[]>(tiles);
        storage.tileMeans = std::make_unique<int32_t[]>(tiles);
        storage.tileLimits = std::make_unique<int32_t[]>(tiles);
        storage.acrossSums = std::make_unique<int32_t[]>(tiles);
        storage.acrossMins = std::make_unique<int32_t[]>(tiles);
        storage.windowSums = std::make_unique<int32_t[]>(storage.tilesX);
        storage.windowMins = std::make_unique<int32_t[]>(storage.tilesX);
    } catch (const std::bad_alloc&) {
        return MarkerStatus::OutOfMemory;
    }
    return MarkerStatus::Ok;
}

void arLocalThresholds(LocalThresholdStorage& storage, int windowTiles) {
    const int reach = windowTiles / 2;
    const int tilesX = storage.tilesX, tilesY = storage.tilesY;
    // Across first: each tile's sum and least over its window's columns.
    for (int ty = 0; ty < tilesY; ty++) {
        const int32_t* means = storage.tileMeans.get() + ty * tilesX;
        const int32_t* mins = storage.tileMins.get() + ty * tilesX;
        for (int tx = 0; tx < tilesX; tx++) {
            const int x0 = std::max(0, tx - reach), x1 = std::min(tilesX, tx + reach + 1);
            int32_t sum = 0, least = 765;
            for (int x = x0; x < x1; x++) {
                sum += means[x];
                least = std::min(least, mins[x]);
            }
            storage.acrossSums[ty * tilesX + tx] = sum;
            storage.acrossMins[ty * tilesX + tx] = least;
        }
    }
    // Then down the window's rows, a row of tiles at a time (the sums stay
    // far below 2^31: at most 13 x 13 means of at most 765).
    int32_t* sums = storage.windowSums.get();
    int32_t* leasts = storage.windowMins.get();
    for (int ty = 0; ty < tilesY; ty++) {
        const int y0 = std::max(0, ty - reach), y1 = std::min(tilesY, ty + reach + 1);
        std::fill_n(sums, tilesX, 0);
        std::fill_n(leasts, tilesX, 765);
        for (int y = y0; y < y1; y++) {
            const int32_t* across = storage.acrossSums.get() + y * tilesX;
            const int32_t* acrossLeast = storage.acrossMins.get() + y * tilesX;
            for (int tx = 0; tx < tilesX; tx++) {
                sums[tx] += across[tx];
                leasts[tx] = std::min(leasts[tx], acrossLeast[tx]);
            }
        }
        for (int tx = 0; tx < tilesX; tx++) {
            const int x0 = std::max(0, tx - reach), x1 = std::min(tilesX, tx + reach + 1);
            const int64_t mean = sums[tx] / ((y1 - y0) * (x1 - x0));
            const int64_t belowMean = mean * LOCAL_MEAN_FRACTION / 16 - LOCAL_MARGIN;
            const int64_t nearLeast = leasts[tx] + (mean - leasts[tx]) * LOCAL_LEAST_SHARE / 16;
            storage.tileLimits[ty * tilesX + tx] =
                static_cast<int32_t>(std::min(belowMean, nearLeast));
        }
    }
}
