// The layout's solve on a made-up shot: twelve markers of 40 to 160 mm on a
// floor, a table and a wall, 1,500 frames of a 1920 x 1080 camera circling
// the set, each frame's corners with 0.3 px of noise, sighted as the first
// pass sights them (mirror poses kept). Times the links and the adjustment
// together, then each alone (the links, and the
// adjustment from them); the counters give the learned layout's worst
// turn (degrees) and place (mm) against the truth, so that a faster solve
// can be seen to give the same layout.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "layout/layout_adjust.h"
#include "layout/layout_links.h"
#include "track/layout_pass.h"

namespace {

constexpr int FRAMES = 1500;
constexpr double PI = 3.141592653589793;
constexpr double NOISE_PIXELS = 0.3;

struct Vec {
    double x, y, z;
};
Vec operator-(Vec a, Vec b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec cross(Vec a, Vec b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Vec unit(Vec a) {
    const double n = std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
    return {a.x / n, a.y / n, a.z / n};
}

// A marker's pose from its axes' directions in the world and its centre.
Pose markerPose(Vec x, Vec y, Vec centre) {
    const Vec z = cross(x, y);
    const double R[3][3] = {{x.x, y.x, z.x}, {x.y, y.y, z.y}, {x.z, y.z, z.z}};
    const double t[3] = {centre.x, centre.y, centre.z};
    return arPoseOf(R, t);
}

// World to camera for a camera at `eye` looking at `target`, the world's z up.
Pose lookAt(Vec eye, Vec target) {
    const Vec z = unit(target - eye);
    const Vec x = unit(cross(z, {0, 0, 1}));
    const Vec y = cross(z, x);
    const double R[3][3] = {{x.x, x.y, x.z}, {y.x, y.y, y.z}, {z.x, z.y, z.z}};
    const double t[3] = {-(x.x * eye.x + x.y * eye.y + x.z * eye.z),
                         -(y.x * eye.x + y.y * eye.y + y.z * eye.z),
                         -(z.x * eye.x + z.y * eye.y + z.z * eye.z)};
    return arPoseOf(R, t);
}

EdgeLine lineThrough(ImagePoint p, ImagePoint q) {
    const double len = std::hypot(q.x - p.x, q.y - p.y);
    EdgeLine line{(q.y - p.y) / len, (p.x - q.x) / len, 0.0};
    line.c = -(line.a * p.x + line.b * p.y);
    return line;
}

struct Shot {
    CameraParam camera{
        1920, 1080, {{1500, 0, 960, 0}, {0, 1500, 540, 0}, {0, 0, 1, 0}}, {960, 540, 0, 1}};
    std::vector<SetMarker> set;
    std::vector<Pose> truth;  // each marker to the first's coordinates
    std::vector<MarkerSighting> sightings;
};

// The marker seen through `camera` (world to camera) when it faces it and
// lies wholly inside the frame, at least 16 px a side: its corners, noisy.
bool seeMarker(const Shot& shot, const Pose& camera, int m, std::mt19937& rng, MarkerInfo& info) {
    double corners[4][3];
    squareCorners(shot.set[m].width, corners);
    const Pose toCamera = arPoseCompose(camera, shot.truth[m]);
    const double normal[3] = {toCamera.m[0][2], toCamera.m[1][2], toCamera.m[2][2]};
    const double centre[3] = {toCamera.m[0][3], toCamera.m[1][3], toCamera.m[2][3]};
    const double facing = -(normal[0] * centre[0] + normal[1] * centre[1] + normal[2] * centre[2]) /
                          std::hypot(centre[0], centre[1], centre[2]);
    if (facing < 0.26)  // more than 75 degrees off its line of sight
        return false;
    std::normal_distribution<double> noise(0.0, NOISE_PIXELS);
    info = MarkerInfo{};
    for (int k = 0; k < 4; k++) {
        double c[3];
        arPoseApply(toCamera, corners[k], c);
        if (c[2] < 100.0)
            return false;
        const double x = shot.camera.mat[0][0] * c[0] / c[2] + shot.camera.mat[0][2];
        const double y = shot.camera.mat[1][1] * c[1] / c[2] + shot.camera.mat[1][2];
        if (x < 8 || y < 8 || x > shot.camera.xsize - 8 || y > shot.camera.ysize - 8)
            return false;
        info.vertices[k] = {x + noise(rng), y + noise(rng)};
    }
    for (int k = 0; k < 4; k++) {
        if (std::hypot(info.vertices[k].x - info.vertices[(k + 1) % 4].x,
                       info.vertices[k].y - info.vertices[(k + 1) % 4].y) < 16.0)
            return false;
        info.edgeLines[k] = lineThrough(info.vertices[k], info.vertices[(k + 1) % 4]);
    }
    info.id = m;
    info.confidence = 0.9;
    return true;
}

const Shot& shot() {
    static const Shot made = [] {
        Shot s;
        const Vec east{1, 0, 0}, north{0, 1, 0}, up{0, 0, 1};
        // Floor (z = 0), a table top 500 mm up, and a wall at y = 1400 facing south.
        const struct {
            double width;
            Vec x, y, centre;
        } markers[] = {
            {120, east, north, {0, 0, 0}},
            {160, east, north, {700, 150, 0}},
            {80, north, {-1, 0, 0}, {-600, 300, 0}},
            {60, east, north, {1300, -200, 0}},
            {100, east, north, {300, 800, 0}},
            {40, east, up, {-100, 1400, 400}},
            {50, north, {-1, 0, 0}, {150, 650, 500}},
            {140, east, up, {-500, 1400, 800}},
            {120, east, up, {400, 1400, 1200}},
            {90, east, up, {1100, 1400, 600}},
            {70, east, north, {-1100, -300, 0}},
            {110, east, up, {-1200, 1400, 1000}},
        };
        for (size_t m = 0; m < std::size(markers); m++) {
            s.set.push_back({"", markers[m].width});
            s.truth.push_back(markerPose(markers[m].x, markers[m].y, markers[m].centre));
        }
        std::mt19937 rng(36);
        std::vector<int> slotMarker;
        for (size_t m = 0; m < s.set.size(); m++)
            slotMarker.push_back(static_cast<int>(m));
        for (int f = 0; f < FRAMES; f++) {
            // Half a turn around the set and back, at 1.2 to 1.8 m up, looking
            // at a point that wanders over it.
            const double a = PI * (0.1 + 0.8 * std::sin(PI * f / FRAMES));
            const Vec eye{2400 * std::cos(a + PI), 2400 * std::sin(a + PI) + 300,
                          1500 + 300 * std::sin(f * 0.013)};
            const Vec target{700 * std::sin(f * 0.011), 500 + 400 * std::sin(f * 0.007),
                             300 + 250 * std::sin(f * 0.017)};
            const Pose camera = lookAt(eye, target);
            MarkerInfo seen[12];
            int count = 0;
            for (int m = 0; m < static_cast<int>(s.set.size()); m++)
                count += seeMarker(s, camera, m, rng, seen[count]);
            sightFrame(s.camera, seen, count, slotMarker, s.set, {}, f, s.sightings);
        }
        return s;
    }();
    return made;
}

// The layout from the shot's sightings: links, then the adjustment when `adjust`.
MarkerLayout solve(const Shot& s, bool adjust) {
    std::vector<double> widths;
    for (const SetMarker& m : s.set)
        widths.push_back(m.width);
    MarkerLayout layout;
    linkMarkers(s.sightings, widths, layout);
    if (adjust)
        adjustLayout(s.sightings, s.camera.mat, layout);
    return layout;
}

// The layout's worst turn and place against the truth, and the sightings' count.
void reportLayout(benchmark::State& state, const Shot& s, const MarkerLayout& layout) {
    double turn = 0.0, place = 0.0;
    int linked = 0;
    for (size_t m = 1; m < layout.markers.size(); m++) {
        const Pose& got = layout.markers[m].toWorld;
        if (!layout.markers[m].linked)
            continue;
        ++linked;
        turn = std::max(turn, turnBetweenDegrees(got, s.truth[m]));
        place = std::max(
            place, std::hypot(got.m[0][3] - s.truth[m].m[0][3], got.m[1][3] - s.truth[m].m[1][3],
                              got.m[2][3] - s.truth[m].m[2][3]));
    }
    state.counters["linked"] = linked;
    state.counters["sightings"] = static_cast<double>(s.sightings.size());
    state.counters["worst_deg"] = turn;
    state.counters["worst_mm"] = place;
}

void BM_LayoutSolve(benchmark::State& state) {
    const Shot& s = shot();
    MarkerLayout layout;
    for (auto _ : state)
        layout = solve(s, true);
    reportLayout(state, s, layout);
}
BENCHMARK(BM_LayoutSolve)->Unit(benchmark::kMillisecond);

void BM_LayoutLinks(benchmark::State& state) {
    const Shot& s = shot();
    MarkerLayout layout;
    for (auto _ : state)
        layout = solve(s, false);
    reportLayout(state, s, layout);
}
BENCHMARK(BM_LayoutLinks)->Unit(benchmark::kMillisecond);

void BM_LayoutAdjust(benchmark::State& state) {
    const Shot& s = shot();
    const MarkerLayout linked = solve(s, false);
    MarkerLayout layout;
    for (auto _ : state) {
        layout = linked;
        adjustLayout(s.sightings, s.camera.mat, layout);
    }
    reportLayout(state, s, layout);
}
BENCHMARK(BM_LayoutAdjust)->Unit(benchmark::kMillisecond);

}  // namespace
