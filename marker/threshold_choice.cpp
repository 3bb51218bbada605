#include "marker/threshold_choice.h"

#include <algorithm>
#include <cmath>
#include <iterator>

long long countGreyLevels(const FrameImage& frame, PixelBox box, long long (&histogram)[766]) {
    std::fill(std::begin(histogram), std::end(histogram), 0);
    const int x0 = std::max(box.x0, 0), x1 = std::min(box.x1, frame.width);
    const int y0 = std::max(box.y0, 0), y1 = std::min(box.y1, frame.height);
    long long counted = 0;
    for (int y = y0; y < y1; y++) {
        const unsigned char* p = frame.pixels + 4 * (static_cast<long long>(y) * frame.width + x0);
        for (int x = x0; x < x1; x++, p += 4)
            histogram[p[0] + p[1] + p[2]]++;
        counted += std::max(x1 - x0, 0);
    }
    return counted;
}

int otsuLevel(const long long (&histogram)[766]) {
    double total = 0.0, weightedTotal = 0.0;
    for (int level = 0; level < 766; level++) {
        total += static_cast<double>(histogram[level]);
        weightedTotal += static_cast<double>(histogram[level]) * level;
    }
    double below = 0.0, weightedBelow = 0.0, bestVariance = -1.0;
    int best = -1, bestEnd = -1;
    for (int level = 0; level < 765; level++) {
        below += static_cast<double>(histogram[level]);
        weightedBelow += static_cast<double>(histogram[level]) * level;
        const double above = total - below;
        if (below == 0.0 || above == 0.0)
            continue;
        const double meanBelow = weightedBelow / below;
        const double meanAbove = (weightedTotal - weightedBelow) / above;
        const double variance = below * above * (meanAbove - meanBelow) * (meanAbove - meanBelow);
        if (variance > bestVariance) {
            bestVariance = variance;
            best = bestEnd = level;
        } else if (variance == bestVariance && level == bestEnd + 1) {
            bestEnd = level;  // levels no pixel has: the same split
        }
    }
    // The middle of an empty gap between the classes, not its dark edge.
    return best < 0 ? -1 : (best + bestEnd) / 2;
}

int chooseThreshold(const FrameImage& frame, PixelBox box) {
    long long histogram[766];
    if (countGreyLevels(frame, box, histogram) == 0)
        return -1;
    const int level = otsuLevel(histogram);
    if (level < 0)
        return -1;
    return std::clamp(level / 3, 1, 254);
}

PixelBox boxAroundMarker(const SeenMarker& marker) {
    const double side = std::sqrt(std::max(marker.area, 1) / 0.75);
    const double reach = 2.0 * side;
    return {static_cast<int>(std::floor(marker.centre.x - reach)),
            static_cast<int>(std::floor(marker.centre.y - reach)),
            static_cast<int>(std::ceil(marker.centre.x + reach)) + 1,
            static_cast<int>(std::ceil(marker.centre.y + reach)) + 1};
}

bool arSeenMarker(const MarkerList& list, int seenCount, int patternId, SeenMarker* seen) {
    int chosen = -1;
    for (int i = 0; i < seenCount; i++) {
        const MarkerInfo& marker = list.markers[i];
        if (!(marker.confidence >= CONFIDENCE_MIN) || marker.id < 0 ||
            (patternId >= 0 && marker.id != patternId))
            continue;
        if (chosen < 0 || marker.confidence > list.markers[chosen].confidence)
            chosen = i;
    }
    if (chosen < 0)
        return false;
    seen->centre = list.markers[chosen].centre;
    seen->area = list.markers[chosen].area;
    return true;
}

int arRetryThresholds(const FrameImage& frame, const SeenMarker& lastSeen, int tried,
                      int thresholds[RETRY_THRESHOLD_MAX]) {
    const int aroundMarker =
        lastSeen.area > 0 ? chooseThreshold(frame, boxAroundMarker(lastSeen)) : -1;
    const int wholeFrame = chooseThreshold(frame, {0, 0, frame.width, frame.height});
    int count = 0;
    if (aroundMarker >= 0 && aroundMarker != tried)
        thresholds[count++] = aroundMarker;
    if (wholeFrame >= 0 && wholeFrame != tried && wholeFrame != aroundMarker)
        thresholds[count++] = wholeFrame;
    return count;
}
