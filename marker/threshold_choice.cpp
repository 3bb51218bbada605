#include "marker/threshold_choice.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

void countGreyLevels(const FrameImage& frame, PixelBox box, long long (&histogram)[766]) {
    // Four counts a level, a pixel in turn to each: neighbouring pixels of
    // one level (most of a plain surface) do not wait on each other's count.
    // A count would need a frame of 16 G pixels to pass 2^32.
    uint32_t counts[4][766] = {};
    const int x0 = std::max(box.x0, 0), x1 = std::min(box.x1, frame.width);
    const int y0 = std::max(box.y0, 0), y1 = std::min(box.y1, frame.height);
    for (int y = y0; y < y1; y++) {
        const unsigned char* p = frame.pixels + 4 * (static_cast<long long>(y) * frame.width + x0);
        int x = x0;
        for (; x + 4 <= x1; x += 4, p += 16) {
            counts[0][p[0] + p[1] + p[2]]++;
            counts[1][p[4] + p[5] + p[6]]++;
            counts[2][p[8] + p[9] + p[10]]++;
            counts[3][p[12] + p[13] + p[14]]++;
        }
        for (; x < x1; x++, p += 4)
            counts[0][p[0] + p[1] + p[2]]++;
    }
    for (int t = 0; t < 766; t++)
        histogram[t] =
            static_cast<long long>(counts[0][t]) + counts[1][t] + counts[2][t] + counts[3][t];
}

MarkerStatus otsuLevel(const long long (&histogram)[766], int* level) {
    double total = 0.0, weightedTotal = 0.0;
    for (int t = 0; t < 766; t++) {
        total += static_cast<double>(histogram[t]);
        weightedTotal += static_cast<double>(histogram[t]) * t;
    }
    double below = 0.0, weightedBelow = 0.0, bestVariance = -1.0;
    int best = -1, bestEnd = -1;
    for (int t = 0; t < 765; t++) {
        below += static_cast<double>(histogram[t]);
        weightedBelow += static_cast<double>(histogram[t]) * t;
        const double above = total - below;
        if (below == 0.0 || above == 0.0)
            continue;
        const double meanBelow = weightedBelow / below;
        const double meanAbove = (weightedTotal - weightedBelow) / above;
        const double variance = below * above * (meanAbove - meanBelow) * (meanAbove - meanBelow);
        if (variance > bestVariance) {
            bestVariance = variance;
            best = bestEnd = t;
        } else if (variance == bestVariance && t == bestEnd + 1) {
            bestEnd = t;  // levels no pixel has: the same split
        }
    }
    if (best < 0)
        return MarkerStatus::AllAlike;
    // The middle of an empty gap between the classes, not its dark edge.
    *level = (best + bestEnd) / 2;
    return MarkerStatus::Ok;
}

// The detection threshold for Otsu's `level`.
int thresholdOfLevel(int level) {
    return std::clamp(level / 3, 1, 254);
}

MarkerStatus chooseThreshold(const FrameImage& frame, PixelBox box, int* threshold) {
    long long histogram[766];
    countGreyLevels(frame, box, histogram);
    int level = 0;
    if (otsuLevel(histogram, &level) != MarkerStatus::Ok)
        return MarkerStatus::AllAlike;
    *threshold = thresholdOfLevel(level);
    return MarkerStatus::Ok;
}

void arCountGreyLevels(const FrameImage& frame, GreyLevels* levels) {
    countGreyLevels(frame, {0, 0, frame.width, frame.height}, levels->histogram);
    levels->split = otsuLevel(levels->histogram, &levels->level) == MarkerStatus::Ok;
}

MarkerStatus choosePaperThreshold(const GreyLevels& whole, int* threshold) {
    if (!whole.split)
        return MarkerStatus::AllAlike;
    double above = 0.0, weightedAbove = 0.0;
    for (int t = whole.level + 1; t < 766; t++) {
        above += static_cast<double>(whole.histogram[t]);
        weightedAbove += static_cast<double>(whole.histogram[t]) * t;
    }
    const double paper = weightedAbove / above;  // Otsu leaves pixels on both sides
    *threshold = std::clamp(static_cast<int>(0.5 * (whole.level + paper) / 3.0), 1, 254);
    return MarkerStatus::Ok;
}

PixelBox boxAroundMarker(const SeenMarker& marker) {
    const double side = std::sqrt(std::max(marker.area, 1) / 0.75);
    const double reach = 2.0 * side;
    return {static_cast<int>(std::floor(marker.centre.x - reach)),
            static_cast<int>(std::floor(marker.centre.y - reach)),
            static_cast<int>(std::ceil(marker.centre.x + reach)) + 1,
            static_cast<int>(std::ceil(marker.centre.y + reach)) + 1};
}

MarkerStatus arSeenMarker(const MarkerList& list, int seenCount, int patternId, SeenMarker* seen) {
    int chosen = -1;
    for (int i = 0; i < seenCount; i++) {
        const MarkerInfo& marker = list.markers[i];
        if (!arIdentified(marker) || (patternId >= 0 && marker.id != patternId))
            continue;
        if (chosen < 0 || marker.confidence > list.markers[chosen].confidence)
            chosen = i;
    }
    if (chosen < 0)
        return MarkerStatus::NotSeen;
    seen->centre = list.markers[chosen].centre;
    seen->area = list.markers[chosen].area;
    return MarkerStatus::Ok;
}

int arRetryThresholds(const FrameImage& frame, const std::optional<SeenMarker>& lastSeen,
                      const GreyLevels& whole, int tried, int thresholds[RETRY_THRESHOLD_MAX]) {
    int aroundMarker = 0;
    const bool aroundChosen =
        lastSeen.has_value() &&
        chooseThreshold(frame, boxAroundMarker(*lastSeen), &aroundMarker) == MarkerStatus::Ok;
    const bool wholeChosen = whole.split;
    const int wholeFrame = wholeChosen ? thresholdOfLevel(whole.level) : 0;
    int count = 0;
    if (aroundChosen && aroundMarker != tried)
        thresholds[count++] = aroundMarker;
    if (wholeChosen && wholeFrame != tried && !(aroundChosen && wholeFrame == aroundMarker))
        thresholds[count++] = wholeFrame;
    return count;
}
