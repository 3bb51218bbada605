#include "marker/edge_refine.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "camera/distortion.h"

namespace {

// Sample spacing of the profile that finds the crossing, and of the one the
// edge is measured on.
constexpr double CROSSING_STEP = 0.5;
constexpr double AREA_STEP = 0.5;
constexpr int CROSSING_SAMPLES = static_cast<int>(2.0 * EDGE_PROFILE_HALF / CROSSING_STEP) + 1;
constexpr int AREA_SAMPLES = static_cast<int>(2.0 * EDGE_PROFILE_HALF / AREA_STEP) + 1;
// Profile samples this far or further from its middle give the dark and light levels.
constexpr double LEVEL_REACH = 2.0;
// Clearance of the measured stretch from each corner: the profile's half
// length, one pixel more, and at least this share of the side.
constexpr double CORNER_CLEARANCE = EDGE_PROFILE_HALF + 1.0;
constexpr double CORNER_SHARE = 0.05;
// A ramp's profile reaches this share of the side's length inwards (the
// border is a quarter of it) and outwards (over the white margin of a print,
// about as wide, and a little beyond).
constexpr double RAMP_REACH_SHARE = 0.2;
constexpr double OUTER_REACH_SHARE = 0.3;
// Ramps wider than this (pixels) tell whether they are symmetric in light or
// in the levels; they are taken to be in light when their asymmetry there is
// at most this share of the one in the levels.
constexpr double SKEW_WIDTH_MIN = 2.5;
constexpr double LIGHT_SKEW_SHARE = 0.5;
// The same share for the median ramp of the smeared sides (see rampsInLight).
constexpr double MEDIAN_LIGHT_SKEW_SHARE = 0.4;
// A marker whose ramps are all at most this wide (pixels) is crisp: its sides
// are placed from a point a pixel (a slightly smeared one's short profiles
// straddle ramps nearly as wide as they are, and it keeps its few points).
constexpr double CRISP_WIDTH = 2.5;
// A ramp at least this many times as wide as it would be at its steepest
// pace is a step within a gentler rise (a sheen); a short profile's edge more
// than SHORT_REACH pixels short of that step is read again about it.
constexpr double SHEEN_WIDTH_SHARE = 4.0;
constexpr double SHORT_REACH = 1.5;
// Spacing of the measured points along a side, pixels.
constexpr double POINT_SPACING = 1.0;
// Fewest points a side needs to be refitted.
constexpr int SIDE_POINTS_MIN = 4;
// Residual (pixels) at which a point's weight has halved, and the reweighting rounds.
constexpr double WEIGHT_SCALE = 0.3;
constexpr int REWEIGHT_ROUNDS = 4;

// Blue + green + red at (x, y), bilinear between the four pixels around it;
// NoEdge outside the frame's pixel centres.
MarkerStatus greyAt(const FrameImage& frame, double x, double y, double* grey) {
    if (!(x >= 0.0 && y >= 0.0 && x <= frame.width - 1 && y <= frame.height - 1)) {
        return MarkerStatus::NoEdge;
    }
    int x0 = static_cast<int>(x);
    int y0 = static_cast<int>(y);
    if (x0 == frame.width - 1) {
        x0--;
    }
    if (y0 == frame.height - 1) {
        y0--;
    }
    if (x0 < 0 || y0 < 0) {
        return MarkerStatus::NoEdge;
    }
    const double fx = x - x0;
    const double fy = y - y0;
    const unsigned char* p = frame.pixels + 4 * (static_cast<long>(y0) * frame.width + x0);
    const unsigned char* q = p + 4 * static_cast<long>(frame.width);
    const double g00 = p[0] + p[1] + p[2];
    const double g10 = p[4] + p[5] + p[6];
    const double g01 = q[0] + q[1] + q[2];
    const double g11 = q[4] + q[5] + q[6];
    *grey = (1.0 - fy) * ((1.0 - fx) * g00 + fx * g10) + fy * ((1.0 - fx) * g01 + fx * g11);
    return MarkerStatus::Ok;
}

// Reads `count` samples `step` apart along `normal`, the first at `start`
// from `origin`; NoEdge when one falls outside the frame.
MarkerStatus readProfile(const FrameImage& frame, ImagePoint origin, ImagePoint normal,
                         double start, double step, int count, double* profile) {
    for (int j = 0; j < count; j++) {
        const double t = start + j * step;
        if (greyAt(frame, origin.x + t * normal.x, origin.y + t * normal.y, &profile[j]) !=
            MarkerStatus::Ok) {
            return MarkerStatus::NoEdge;
        }
    }
    return MarkerStatus::Ok;
}

// Means of the samples at least LEVEL_REACH from the profile's middle, on
// the dark (first) and the light (last) side.
void profileLevels(const double* profile, int count, double step, double* dark, double* light) {
    const int reach = static_cast<int>((count - 1) / 2 - LEVEL_REACH / step);
    double darkSum = 0.0;
    double lightSum = 0.0;
    for (int j = 0; j <= reach; j++) {
        darkSum += profile[j];
        lightSum += profile[count - 1 - j];
    }
    *dark = darkSum / (reach + 1);
    *light = lightSum / (reach + 1);
}

// Where the profile crosses halfway between its levels, nearest its middle;
// NoEdge when it leaves the frame, is too flat or does not cross.
MarkerStatus findCrossing(const FrameImage& frame, ImagePoint origin, ImagePoint normal,
                          double* offset) {
    double profile[CROSSING_SAMPLES];
    const double start = -EDGE_PROFILE_HALF;
    if (readProfile(frame, origin, normal, start, CROSSING_STEP, CROSSING_SAMPLES, profile) !=
        MarkerStatus::Ok) {
        return MarkerStatus::NoEdge;
    }
    double dark;
    double light;
    profileLevels(profile, CROSSING_SAMPLES, CROSSING_STEP, &dark, &light);
    if (!(light - dark >= EDGE_CONTRAST_MIN)) {
        return MarkerStatus::NoEdge;
    }
    const double middle = 0.5 * (dark + light);
    bool found = false;
    for (int j = 0; j + 1 < CROSSING_SAMPLES; j++) {
        if (!(profile[j] < middle && profile[j + 1] >= middle)) {
            continue;
        }
        const double t =
            start + CROSSING_STEP * (j + (middle - profile[j]) / (profile[j + 1] - profile[j]));
        if (!found || std::fabs(t) < std::fabs(*offset)) {
            *offset = t;
            found = true;
        }
    }
    return found ? MarkerStatus::Ok : MarkerStatus::NoEdge;
}

// The edge from the profile's area about `centre`: the light share of a
// window from centre - EDGE_PROFILE_HALF to centre + EDGE_PROFILE_HALF is
// the stretch of it beyond the edge. NoEdge when the window leaves the
// frame, is too flat, or puts the edge more than a pixel from `centre`.
MarkerStatus areaEdge(const FrameImage& frame, ImagePoint origin, ImagePoint normal, double centre,
                      double* offset) {
    double profile[AREA_SAMPLES];
    const double start = centre - EDGE_PROFILE_HALF;
    if (readProfile(frame, origin, normal, start, AREA_STEP, AREA_SAMPLES, profile) !=
        MarkerStatus::Ok) {
        return MarkerStatus::NoEdge;
    }
    double dark;
    double light;
    profileLevels(profile, AREA_SAMPLES, AREA_STEP, &dark, &light);
    if (!(light - dark >= EDGE_CONTRAST_MIN)) {
        return MarkerStatus::NoEdge;
    }
    double sum = 0.5 * (profile[0] + profile[AREA_SAMPLES - 1]);
    for (int j = 1; j + 1 < AREA_SAMPLES; j++) {
        sum += profile[j];
    }
    const double lightLength = AREA_STEP * (sum - (AREA_SAMPLES - 1) * dark) / (light - dark);
    const double edge = centre + EDGE_PROFILE_HALF - lightLength;
    if (!(std::fabs(edge - centre) <= 1.0)) {
        return MarkerStatus::NoEdge;
    }
    *offset = edge;
    return MarkerStatus::Ok;
}

ImagePoint toObserved(const double distFactor[4], ImagePoint p) {
    ImagePoint o;
    arIdealToObserved(distFactor, p.x, p.y, &o.x, &o.y);
    return o;
}

// The probe at the ideal point `ideal` of a side whose outward unit normal
// is `out`: its origin in the frame and the outward direction as the lens
// shows it there; false where the lens gives no direction.
bool placeProbe(const double distFactor[4], ImagePoint ideal, ImagePoint out, EdgeProbe* probe) {
    probe->origin = toObserved(distFactor, ideal);
    const ImagePoint ahead = toObserved(distFactor, {ideal.x + out.x, ideal.y + out.y});
    const double nx = ahead.x - probe->origin.x;
    const double ny = ahead.y - probe->origin.y;
    const double norm = std::hypot(nx, ny);
    if (!(norm > 0.0))
        return false;
    probe->normal = {nx / norm, ny / norm};
    return true;
}

// Places up to EDGE_REFINE_POINT_MAX probes between corners `from` and `to`
// (ideal coordinates) of a side whose outward unit normal is `out`, clear of
// the corners and of the ramps of the sides beside them, and measures the
// ramp at each; returns how many.
int probeSide(const FrameImage& frame, const double distFactor[4], const LinearLevels& light,
              ImagePoint from, ImagePoint to, ImagePoint out, EdgeProbe* probes) {
    const double dx = to.x - from.x;
    const double dy = to.y - from.y;
    const double length = std::hypot(dx, dy);
    const double reach = RAMP_REACH_SHARE * length;
    const double outerReach = OUTER_REACH_SHARE * length;
    double clearance = CORNER_SHARE * length;
    if (clearance < CORNER_CLEARANCE) {
        clearance = CORNER_CLEARANCE;
    }
    // A smeared side's ramp reaches round the corners: keep clear of it.
    EdgeProbe middle;
    if (placeProbe(distFactor, {from.x + 0.5 * dx, from.y + 0.5 * dy}, out, &middle) &&
        arMeasureRamp(frame, light, middle.origin, middle.normal, reach, outerReach,
                      &middle.ramp) == 0 &&
        middle.ramp.width > EDGE_SHARP_WIDTH) {
        clearance = std::fmax(clearance, 0.625 * middle.ramp.width + CORNER_CLEARANCE);
    }
    const double usable = length - 2.0 * clearance;
    if (!(usable > 0.0)) {
        return 0;
    }
    int count = static_cast<int>(usable / POINT_SPACING) + 1;
    if (count > EDGE_REFINE_POINT_MAX) {
        count = EDGE_REFINE_POINT_MAX;
    }
    const double spacing = count > 1 ? usable / (count - 1) : 0.0;
    int placed = 0;
    for (int k = 0; k < count; k++) {
        const double s = (clearance + k * spacing) / length;
        EdgeProbe& probe = probes[placed];
        if (!placeProbe(distFactor, {from.x + s * dx, from.y + s * dy}, out, &probe)) {
            continue;
        }
        probe.measured = arMeasureRamp(frame, light, probe.origin, probe.normal, reach, outerReach,
                                       &probe.ramp) == 0;
        placed++;
    }
    return placed;
}

// The edge points (ideal coordinates) of a sharp side from `from` to `to`,
// outward unit normal `out`: the short profile's edge a pixel apart, up to
// EDGE_SHARP_POINT_MAX, clear of the corners. Returns how many.
int sharpPoints(const FrameImage& frame, const double distFactor[4], ImagePoint from, ImagePoint to,
                ImagePoint out, ImagePoint* points) {
    const double dx = to.x - from.x;
    const double dy = to.y - from.y;
    const double length = std::hypot(dx, dy);
    const double clearance = std::fmax(CORNER_SHARE * length, CORNER_CLEARANCE);
    const double usable = length - 2.0 * clearance;
    if (!(usable > 0.0))
        return 0;
    const int count = std::min(static_cast<int>(usable / POINT_SPACING) + 1, EDGE_SHARP_POINT_MAX);
    const double spacing = count > 1 ? usable / (count - 1) : 0.0;
    int found = 0;
    for (int k = 0; k < count; k++) {
        const double s = (clearance + k * spacing) / length;
        EdgeProbe probe;
        double t = 0.0;
        if (!placeProbe(distFactor, {from.x + s * dx, from.y + s * dy}, out, &probe) ||
            arEdgeAcross(frame, probe.origin, probe.normal, &t) != MarkerStatus::Ok)
            continue;
        ImagePoint& p = points[found++];
        arObservedToIdeal(distFactor, probe.origin.x + t * probe.normal.x,
                          probe.origin.y + t * probe.normal.y, &p.x, &p.y);
    }
    return found;
}

// The median ramp width of a side's measured probes; 0 when none was measured.
double medianWidth(const EdgeProbe* probes, int count) {
    double widths[EDGE_REFINE_POINT_MAX];
    int n = 0;
    for (int k = 0; k < count; k++) {
        if (probes[k].measured) {
            widths[n++] = probes[k].ramp.width;
        }
    }
    if (n == 0) {
        return 0.0;
    }
    std::nth_element(widths, widths + n / 2, widths + n);
    return widths[n / 2];
}

// The edge along the probe's normal from the short profile about its
// origin; read again about the ramp's steepest rise where that lies more
// than SHORT_REACH beyond it and the rise is a step within a far wider,
// gentler one: a sheen greying the border by the edge moves the side found
// on the thresholded picture inwards, and the short profile about it takes
// the sheen's own rise for the edge.
MarkerStatus shortEdge(const FrameImage& frame, const EdgeProbe& probe, bool sheenable, double* t) {
    const MarkerStatus near = arEdgeAcross(frame, probe.origin, probe.normal, t);
    const EdgeRamp& ramp = probe.ramp;
    if (near != MarkerStatus::Ok || !sheenable || !probe.measured ||
        !(ramp.width >= SHEEN_WIDTH_SHARE * ramp.steepWidth) ||
        !(ramp.steepEdge - *t > SHORT_REACH))
        return near;
    const ImagePoint at{probe.origin.x + ramp.steepEdge * probe.normal.x,
                        probe.origin.y + ramp.steepEdge * probe.normal.y};
    double further = 0.0;
    if (arEdgeAcross(frame, at, probe.normal, &further) != MarkerStatus::Ok)
        return near;
    *t = ramp.steepEdge + further;
    return MarkerStatus::Ok;
}

// How a side's edge points are placed.
enum class EdgeRule {
    Short,  // the short profile about the middle level (arEdgeAcross)
    Light,  // blurred in light: each ramp's middle in linear light
};

// The side's edge points (ideal coordinates) from its probes, by `rule`;
// short profiles are read again about a sheened ramp's step where
// `sheenable`. Returns how many.
int edgePoints(const FrameImage& frame, const double distFactor[4], const EdgeProbe* probes,
               int count, EdgeRule rule, bool sheenable, ImagePoint* points) {
    int measured = 0;
    for (int k = 0; k < count; k++) {
        const EdgeProbe& probe = probes[k];
        double t = 0.0;
        if (rule == EdgeRule::Short) {
            if (shortEdge(frame, probe, sheenable, &t) != MarkerStatus::Ok) {
                continue;
            }
        } else if (!probe.measured) {
            continue;
        } else {
            t = probe.ramp.lightEdge;
        }
        ImagePoint& p = points[measured++];
        arObservedToIdeal(distFactor, probe.origin.x + t * probe.normal.x,
                          probe.origin.y + t * probe.normal.y, &p.x, &p.y);
    }
    return measured;
}

// Whether the marker's ramps wide enough to tell (SKEW_WIDTH_MIN) are
// clearly more symmetric in linear light than in the levels: summed, or,
// by a stricter share (MEDIAN_LIGHT_SKEW_SHARE), the median ramp of its
// smeared sides. A shadow's edge across a few profiles bends their ramps far
// from symmetric in both, and in the sum they can outweigh the rest; the
// median ramp stands for the rest. A side along the smear is as sharp as an
// unsmeared marker's, and its ramps tell nothing.
bool rampsInLight(const EdgeRefineStorage& storage, const bool smeared[4]) {
    double levelSum = 0.0;
    double lightSum = 0.0;
    double level[4 * EDGE_REFINE_POINT_MAX];
    double light[4 * EDGE_REFINE_POINT_MAX];
    int count = 0;
    for (int i = 0; i < 4; i++) {
        for (int k = 0; k < storage.probeCount[i]; k++) {
            const EdgeProbe& probe = storage.probes[i][k];
            if (!probe.measured || !(probe.ramp.width > SKEW_WIDTH_MIN))
                continue;
            levelSum += probe.ramp.levelSkew;
            lightSum += probe.ramp.lightSkew;
            if (smeared[i]) {
                level[count] = probe.ramp.levelSkew;
                light[count] = probe.ramp.lightSkew;
                count++;
            }
        }
    }
    if (lightSum < LIGHT_SKEW_SHARE * levelSum)
        return true;
    if (count == 0)
        return false;
    std::nth_element(level, level + count / 2, level + count);
    std::nth_element(light, light + count / 2, light + count);
    return light[count / 2] < MEDIAN_LIGHT_SKEW_SHARE * level[count / 2];
}

// Weighted total least squares line through the points; Degenerate when they
// do not span a line.
MarkerStatus fitWeighted(const ImagePoint* points, const double* weights, int count,
                         EdgeLine* line) {
    double w = 0.0;
    double mx = 0.0;
    double my = 0.0;
    for (int k = 0; k < count; k++) {
        w += weights[k];
        mx += weights[k] * points[k].x;
        my += weights[k] * points[k].y;
    }
    if (!(w > 0.0)) {
        return MarkerStatus::Degenerate;
    }
    mx /= w;
    my /= w;
    double sxx = 0.0;
    double sxy = 0.0;
    double syy = 0.0;
    for (int k = 0; k < count; k++) {
        const double x = points[k].x - mx;
        const double y = points[k].y - my;
        sxx += weights[k] * x * x;
        sxy += weights[k] * x * y;
        syy += weights[k] * y * y;
    }
    if (!(sxx + syy > 0.0)) {
        return MarkerStatus::Degenerate;
    }
    // Direction of the largest spread; the normal is across it.
    const double angle = 0.5 * std::atan2(2.0 * sxy, sxx - syy);
    const double ux = std::cos(angle);
    const double uy = std::sin(angle);
    line->a = -uy;
    line->b = ux;
    line->c = -(line->a * mx + line->b * my);
    return MarkerStatus::Ok;
}

// The line through the points, reweighting them by their distance from it.
MarkerStatus fitRobust(EdgeRefineStorage& storage, int count, EdgeLine* line) {
    for (int k = 0; k < count; k++) {
        storage.weights[k] = 1.0;
    }
    for (int round = 0; round < REWEIGHT_ROUNDS; round++) {
        if (fitWeighted(storage.points, storage.weights, count, line) != MarkerStatus::Ok) {
            return MarkerStatus::Degenerate;
        }
        for (int k = 0; k < count; k++) {
            const double r =
                (line->a * storage.points[k].x + line->b * storage.points[k].y + line->c) /
                WEIGHT_SCALE;
            storage.weights[k] = 1.0 / (1.0 + r * r);
        }
    }
    return fitWeighted(storage.points, storage.weights, count, line);
}

double distance(const EdgeLine& line, ImagePoint p) {
    return std::fabs(line.a * p.x + line.b * p.y + line.c);
}

}  // namespace

MarkerStatus arEdgeAcross(const FrameImage& frame, ImagePoint origin, ImagePoint normal,
                          double* offset) {
    double crossing = 0.0;
    const MarkerStatus crossed = findCrossing(frame, origin, normal, &crossing);
    return crossed == MarkerStatus::Ok ? areaEdge(frame, origin, normal, crossing, offset)
                                       : crossed;
}

void arSetEdgeEveryPixel(EdgeRefineStorage& storage, bool on) {
    storage.everyPixel = on;
}

void arSetEdgeTransfer(EdgeRefineStorage& storage, TransferCurve curve) {
    storage.curve = curve;
    storage.lightReady = false;
}

EdgeRefinement arRefineEdges(const FrameImage& frame, const double distFactor[4],
                             EdgeRefineStorage& storage, EdgeLine edgeLines[4],
                             ImagePoint vertices[4]) {
    if (!storage.lightReady) {
        fillLinearLevels(storage.curve, storage.light);
        storage.lightReady = true;
    }
    ImagePoint centre{0.0, 0.0};
    for (int i = 0; i < 4; i++) {
        centre.x += 0.25 * vertices[i].x;
        centre.y += 0.25 * vertices[i].y;
    }
    ImagePoint outward[4];
    double widths[4];
    bool smeared[4];
    double widest = 0.0;
    double narrowest = std::numeric_limits<double>::infinity();
    for (int i = 0; i < 4; i++) {
        const EdgeLine& plain = edgeLines[i];
        // The normal pointing away from the marker's middle.
        const double sign = plain.a * centre.x + plain.b * centre.y + plain.c > 0.0 ? -1.0 : 1.0;
        outward[i] = {sign * plain.a, sign * plain.b};
        storage.probeCount[i] = probeSide(frame, distFactor, storage.light, vertices[i],
                                          vertices[(i + 1) % 4], outward[i], storage.probes[i]);
        widths[i] = medianWidth(storage.probes[i], storage.probeCount[i]);
        smeared[i] = widths[i] > EDGE_SHARP_WIDTH;
        widest = std::fmax(widest, widths[i]);
        // A side whose ramps were not measured says nothing of how even they are.
        if (widths[i] > 0.0)
            narrowest = std::fmin(narrowest, widths[i]);
    }
    if (!(narrowest <= widest))
        narrowest = widest;
    // Only a smeared marker's ramps tell light from levels: a sharp one's are
    // too narrow and too easily bent by compression.
    const bool inLight =
        (smeared[0] || smeared[1] || smeared[2] || smeared[3]) && rampsInLight(storage, smeared);
    EdgeLine refined[4];
    int refinedCount = 0;
    for (int i = 0; i < 4; i++) {
        const EdgeLine& plain = edgeLines[i];
        refined[i] = plain;
        const ImagePoint from = vertices[i];
        const ImagePoint to = vertices[(i + 1) % 4];
        const EdgeRule rule = inLight ? EdgeRule::Light : EdgeRule::Short;
        // A smear widens opposite sides alike, a sheen one side alone.
        const bool sheenable = !smeared[(i + 2) % 4];
        const int count = storage.everyPixel && !(widest > CRISP_WIDTH)
                              ? sharpPoints(frame, distFactor, from, to, outward[i], storage.points)
                              : edgePoints(frame, distFactor, storage.probes[i],
                                           storage.probeCount[i], rule, sheenable, storage.points);
        const double shiftMax =
            smeared[i] ? std::fmax(EDGE_SHIFT_MAX, 0.75 * widths[i] + 1.0) : EDGE_SHIFT_MAX;
        EdgeLine line;
        if (count < SIDE_POINTS_MIN || fitRobust(storage, count, &line) != MarkerStatus::Ok ||
            !(distance(line, from) <= shiftMax && distance(line, to) <= shiftMax)) {
            continue;
        }
        if (line.a * plain.a + line.b * plain.b < 0.0) {
            // The same orientation as the plain line.
            line = EdgeLine{-line.a, -line.b, -line.c};
        }
        refined[i] = line;
        refinedCount++;
    }
    ImagePoint corners[4];
    for (int j = 0; j < 4; j++) {
        if (arIntersectLines(refined[(j + 3) % 4], refined[j], &corners[j]) != MathStatus::Ok) {
            return {MarkerStatus::Degenerate, 0, widest, narrowest};
        }
    }
    for (int i = 0; i < 4; i++) {
        edgeLines[i] = refined[i];
        vertices[i] = corners[i];
    }
    return {MarkerStatus::Ok, refinedCount, widest, narrowest};
}
