#include "marker/edge_ramp.h"

#include <algorithm>
#include <cmath>

namespace {

// Least difference between a profile's dark and light level (sum of blue,
// green and red) for it to be measured.
constexpr double RAMP_CONTRAST_MIN = 60.0;
// Stretch of flat dark and flat light beyond the ramp's ends that gives its
// levels, pixels.
constexpr double PLATEAU = 2.0;
// Added to the ramp's half extent for the pixel's own width and the lens.
constexpr double PIXEL_SPREAD = 1.0;
// A smear's ramp (a box along the motion) spans 1.25 times the distance
// from its 10 % to its 90 % point.
constexpr double RAMP_SPAN_PER_WIDTH = 1.25;
// A ramp's width spans this share of its contrast (from 10 % to 90 %).
constexpr double WIDTH_SHARE = 0.8;

// The profile in the picture's levels (blue + green + red) and in linear
// light (the three channels' light added), at t = first + j * step.
struct RampProfile {
    double level[EDGE_RAMP_SAMPLES];
    double light[EDGE_RAMP_SAMPLES];
    double first;
    int count;
};

// Both values at (x, y), bilinear between the four pixels around it; false
// outside the frame's pixel centres.
bool valuesAt(const FrameImage& frame, const LinearLevels& light, double x, double y, double* level,
              double* linear) {
    if (!(x >= 0.0 && y >= 0.0 && x <= frame.width - 1 && y <= frame.height - 1))
        return false;
    int x0 = static_cast<int>(x);
    int y0 = static_cast<int>(y);
    if (x0 == frame.width - 1)
        x0--;
    if (y0 == frame.height - 1)
        y0--;
    if (x0 < 0 || y0 < 0)
        return false;
    const double fx = x - x0;
    const double fy = y - y0;
    const unsigned char* p = frame.pixels + 4 * (static_cast<long>(y0) * frame.width + x0);
    const unsigned char* corners[4] = {p, p + 4, p + 4 * static_cast<long>(frame.width),
                                       p + 4 * static_cast<long>(frame.width) + 4};
    const double weights[4] = {(1.0 - fx) * (1.0 - fy), fx * (1.0 - fy), (1.0 - fx) * fy, fx * fy};
    *level = 0.0;
    *linear = 0.0;
    for (int k = 0; k < 4; k++) {
        const unsigned char* c = corners[k];
        *level += weights[k] * (c[0] + c[1] + c[2]);
        *linear += weights[k] * (light.light[c[0]] + light.light[c[1]] + light.light[c[2]]);
    }
    return true;
}

bool readRamp(const FrameImage& frame, const LinearLevels& light, ImagePoint origin,
              ImagePoint normal, double innerReach, double outerReach, RampProfile& profile) {
    const int inner = static_cast<int>(std::fmin(innerReach, EDGE_RAMP_REACH_MAX) / EDGE_RAMP_STEP);
    const int outer = static_cast<int>(std::fmin(outerReach, EDGE_RAMP_REACH_MAX) / EDGE_RAMP_STEP);
    profile.first = -inner * EDGE_RAMP_STEP;
    profile.count = inner + outer + 1;
    for (int j = 0; j < profile.count; j++) {
        const double t = profile.first + j * EDGE_RAMP_STEP;
        if (!valuesAt(frame, light, origin.x + t * normal.x, origin.y + t * normal.y,
                      &profile.level[j], &profile.light[j]))
            return false;
    }
    return true;
}

// Where `values` is last at or below `level` going down from sample `from`
// (below `count` - 1), as a fractional index between that sample and the
// next; false when it never is.
bool passBelow(const double* values, int from, double level, double* index) {
    for (int k = from; k >= 0; k--) {
        if (values[k] <= level) {
            *index = k + (level - values[k]) / (values[k + 1] - values[k]);
            return true;
        }
    }
    return false;
}

// Where `values` first reaches `level` going up from sample `from` (above
// 0), as a fractional index between that sample and the one before.
bool passAbove(const double* values, int from, int count, double level, double* index) {
    for (int k = from; k < count; k++) {
        if (values[k] >= level) {
            *index = k - (values[k] - level) / (values[k] - values[k - 1]);
            return true;
        }
    }
    return false;
}

// The greatest rise of `values` over a pixel between fractional sample
// indices `low` and `high`, and the sample in the middle of that pixel.
double steepestRise(const double* values, int count, double low, double high, int* at) {
    const int pixel = static_cast<int>(std::lround(1.0 / EDGE_RAMP_STEP));
    const int first = std::max(static_cast<int>(std::floor(low)), 0);
    const int last = std::min(static_cast<int>(std::ceil(high)), count - 1);
    double steepest = 0.0;
    *at = first;
    for (int j = first; j + pixel <= last; j++) {
        if (values[j + pixel] - values[j] > steepest) {
            steepest = values[j + pixel] - values[j];
            *at = j + pixel / 2;
        }
    }
    return steepest;
}

// The least and the greatest of the values smoothed over three samples.
void smoothExtremes(const double* values, int count, double* least, double* most) {
    *least = values[0];
    *most = values[0];
    for (int j = 1; j + 1 < count; j++) {
        const double smooth = (values[j - 1] + values[j] + values[j + 1]) / 3.0;
        *least = std::fmin(*least, smooth);
        *most = std::fmax(*most, smooth);
    }
}

// Linear interpolation of `values` at fractional index `at` (inside the profile).
double valueAt(const double* values, int count, double at) {
    if (at <= 0.0)
        return values[0];
    if (at >= count - 1)
        return values[count - 1];
    const int k = static_cast<int>(at);
    const double f = at - k;
    return (1.0 - f) * values[k] + f * values[k + 1];
}

double meanOver(const double* values, int from, int to) {
    double sum = 0.0;
    for (int k = from; k <= to; k++)
        sum += values[k];
    return sum / (to - from + 1);
}

// The middle of the ramp in `values` between samples `from` and `to` (flat
// dark before, flat light after) and its asymmetry about that middle.
bool rampMiddle(const double* values, int count, int from, int to, int plateau, double* middle,
                double* skew) {
    const double dark = meanOver(values, from, from + plateau);
    const double light = meanOver(values, to - plateau, to);
    if (!(light > dark))
        return false;
    const double scale = 1.0 / (light - dark);
    double area = 0.0;
    for (int k = from; k < to; k++)
        area += 0.5 * ((values[k] - dark) + (values[k + 1] - dark)) * scale;
    *middle = to - area;  // in samples
    const int reach = (to - from) / 2 - plateau;
    double sum = 0.0;
    for (int u = 1; u <= reach; u++) {
        const double up = (valueAt(values, count, *middle + u) - dark) * scale;
        const double down = (valueAt(values, count, *middle - u) - dark) * scale;
        sum += (up + down - 1.0) * (up + down - 1.0);
    }
    *skew = reach > 0 ? sum / reach : 0.0;
    return true;
}

// Where `values` rises through `level` nearest sample `near`, as a
// fractional index; false when it does not.
bool middleCrossing(const double* values, int count, int near, double level, double* index) {
    int best = -1;
    for (int j = 0; j + 1 < count; j++) {
        if (values[j] < level && values[j + 1] >= level &&
            (best < 0 || std::abs(j - near) < std::abs(best - near)))
            best = j;
    }
    if (best < 0)
        return false;
    *index = best + (level - values[best]) / (values[best + 1] - values[best]);
    return true;
}

// The ramp's middle from a window about `cross` reaching as far as the ramp
// (from `low` to `high`, and `spread` samples beyond) on both sides, with
// `plateau` samples of flat level at each end.
bool symmetricMiddle(const double* values, int count, double cross, double low, double high,
                     double spread, int plateau, double* middle, double* skew) {
    const double half = std::fmax(cross - low, high - cross) + spread;
    const int from = static_cast<int>(std::floor(cross - half)) - plateau;
    const int to = static_cast<int>(std::ceil(cross + half)) + plateau;
    if (from < 0 || to >= count)
        return false;
    return rampMiddle(values, count, from, to, plateau, middle, skew);
}

}  // namespace

int arMeasureRamp(const FrameImage& frame, const LinearLevels& light, ImagePoint origin,
                  ImagePoint normal, double innerReach, double outerReach, EdgeRamp* ramp) {
    RampProfile p{};
    if (!readRamp(frame, light, origin, normal, innerReach, outerReach, p))
        return -1;
    double dark, bright;
    smoothExtremes(p.level, p.count, &dark, &bright);
    const double contrast = bright - dark;
    if (!(contrast >= RAMP_CONTRAST_MIN))
        return -1;
    // The rise through the middle level nearest the origin.
    const int zero = static_cast<int>(std::lround(-p.first / EDGE_RAMP_STEP));
    const double middleLevel = dark + 0.5 * contrast;
    int crossing = -1;
    for (int j = 0; j + 1 < p.count; j++) {
        if (p.level[j] < middleLevel && p.level[j + 1] >= middleLevel &&
            (crossing < 0 || std::abs(j - zero) < std::abs(crossing - zero)))
            crossing = j;
    }
    if (crossing < 0)
        return -1;
    double low, high;
    if (!passBelow(p.level, crossing, dark + 0.1 * contrast, &low) ||
        !passAbove(p.level, crossing + 1, p.count, bright - 0.1 * contrast, &high))
        return -1;
    const double width = (high - low) * EDGE_RAMP_STEP;
    // The ramp reaches as far as it does in the levels or in light, whichever
    // is further: the transfer curve squeezes one end of it in each.
    double lightDark, lightBright, lightLow, lightHigh;
    smoothExtremes(p.light, p.count, &lightDark, &lightBright);
    const double lightContrast = lightBright - lightDark;
    if (passBelow(p.light, crossing, lightDark + 0.1 * lightContrast, &lightLow))
        low = std::fmin(low, lightLow);
    if (passAbove(p.light, crossing + 1, p.count, lightBright - 0.1 * lightContrast, &lightHigh))
        high = std::fmax(high, lightHigh);
    // Each space's middle from a window symmetric about where the ramp
    // crosses its middle there, wide enough for the whole ramp: a blur
    // symmetric in that space leaves the middle where the edge is.
    const int plateau = static_cast<int>(std::lround(PLATEAU / EDGE_RAMP_STEP));
    const double spread =
        0.5 * (RAMP_SPAN_PER_WIDTH - 1.0) * (high - low) + PIXEL_SPREAD / EDGE_RAMP_STEP;
    double levelCross, lightCross;
    if (!middleCrossing(p.level, p.count, crossing, dark + 0.5 * contrast, &levelCross) ||
        !middleCrossing(p.light, p.count, crossing, lightDark + 0.5 * lightContrast, &lightCross))
        return -1;
    double levelMiddle, lightMiddle;
    if (!symmetricMiddle(p.level, p.count, levelCross, low, high, spread, plateau, &levelMiddle,
                         &ramp->levelSkew) ||
        !symmetricMiddle(p.light, p.count, lightCross, low, high, spread, plateau, &lightMiddle,
                         &ramp->lightSkew))
        return -1;
    ramp->levelEdge = p.first + levelMiddle * EDGE_RAMP_STEP;
    ramp->lightEdge = p.first + lightMiddle * EDGE_RAMP_STEP;
    ramp->width = width;
    int steepAt = 0;
    const double steepest = steepestRise(p.light, p.count, low, high, &steepAt);
    ramp->steepWidth = steepest > 0.0 ? WIDTH_SHARE * lightContrast / steepest : width;
    ramp->steepEdge = p.first + steepAt * EDGE_RAMP_STEP;
    return 0;
}
