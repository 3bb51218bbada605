#include "tools/render/shot_render.h"

#include <algorithm>
#include <cmath>

namespace {

// A blurred frame averages at most this many moments.
constexpr int MOST_MOMENTS = 64;
// The moments of a blurred frame lie this many pixels apart at most, when the
// motion allows it: their picture then smears into a streak.
constexpr double MOMENT_STEP_PX = 1.0;
// Steps in which a corner's way through the picture is followed.
constexpr int PATH_STEPS = 16;

// The square's corners in marker coordinates.
void squareCorners(double width, double corners[4][2]) {
    const double h = 0.5 * width;
    const double c[4][2] = {{-h, h}, {h, h}, {h, -h}, {-h, -h}};
    std::copy(&c[0][0], &c[0][0] + 8, &corners[0][0]);
}

// How far the plane points seen at a 3 x 3 grid over the picture at time
// `time`, and the square's corners, move in the picture from time `from` to
// `to`: the largest distance, in pixels.
double pictureMotion(const Shot& shot, const CameraParam& camera, double time, double from,
                     double to) {
    double points[13][2];
    squareCorners(shot.scene.markerWidth, points);
    int count = 4;
    const CameraPose now = shot.poseAt(time);
    for (int k = 0; k < 9; ++k) {
        const double ox = (0.1 + 0.4 * (k % 3)) * camera.xsize;
        const double oy = (0.1 + 0.4 * (k / 3)) * camera.ysize;
        if (planePointSeen(camera, now, ox, oy, points[count][0], points[count][1])) {
            ++count;
        }
    }
    const CameraPose a = shot.poseAt(from), b = shot.poseAt(to);
    double largest = 0.0;
    for (int k = 0; k < count; ++k) {
        const ProjectedPoint p = projectMarkerPoint(camera, a, points[k][0], points[k][1]);
        const ProjectedPoint q = projectMarkerPoint(camera, b, points[k][0], points[k][1]);
        if (p.depth > 0.0 && q.depth > 0.0) {
            largest = std::max(largest, std::hypot(q.x - p.x, q.y - p.y));
        }
    }
    return largest;
}

// The longest way a corner of the square travels in the picture from time
// `from` to `to`, in pixels.
double cornerPath(const Shot& shot, const CameraParam& camera, double from, double to) {
    double corners[4][2], lengths[4] = {0.0, 0.0, 0.0, 0.0};
    squareCorners(shot.scene.markerWidth, corners);
    ProjectedPoint last[4] = {};
    for (int step = 0; step <= PATH_STEPS; ++step) {
        const CameraPose pose = shot.poseAt(from + (to - from) * step / PATH_STEPS);
        for (int k = 0; k < 4; ++k) {
            const ProjectedPoint p = projectMarkerPoint(camera, pose, corners[k][0], corners[k][1]);
            if (step > 0 && p.depth > 0.0 && last[k].depth > 0.0) {
                lengths[k] += std::hypot(p.x - last[k].x, p.y - last[k].y);
            }
            last[k] = p;
        }
    }
    return *std::max_element(lengths, lengths + 4);
}

// The fractional part of x.
double fraction(double x) {
    return x - std::floor(x);
}

}  // namespace

SceneTruth renderShotFrame(Shot& shot, const CameraParam& camera, int frame, int supersample,
                           RgbImage& out, ShotStorage& storage) {
    SceneTruth truth;
    const CameraPose pose = shot.poseAt(frame);
    discsAt(shot.occluders, frame, shot.frameCount, shot.scene.discs);
    truth.borderCovered = borderCovered(shot.scene, camera, pose);
    if (!(shot.shutter > 0.0)) {
        renderFrame(shot.scene, camera, pose, supersample, out, 0.0, 0.0, shot.jitterSamples);
        return truth;
    }
    const double open = frame - 0.5 * shot.shutter, close = frame + 0.5 * shot.shutter;
    truth.blurPx = cornerPath(shot, camera, open, close);
    int moments = shot.shutterSamples;
    if (moments <= 0) {
        const double motion = pictureMotion(shot, camera, frame, open, close);
        moments =
            std::clamp(static_cast<int>(std::ceil(motion / MOMENT_STEP_PX)) + 1, 2, MOST_MOMENTS);
    }
    // The moments together sample each pixel at least as often as one sharp
    // frame would: each moment's samples are shifted by a step of a
    // low-discrepancy sequence (the plastic number's) within a sample's cell.
    const int perMoment = std::max(
        1, static_cast<int>(std::ceil(std::max(1, supersample) / std::sqrt(moments) - 1e-9)));
    const double cell = 1.0 / perMoment;
    if (!storage.lightFilled) {
        fillLinearLevels(TransferCurve::Srgb, storage.light);
        storage.lightFilled = true;
    }
    storage.sum.assign(static_cast<size_t>(camera.xsize) * camera.ysize * 3, 0.0f);
    for (int k = 0; k < moments; ++k) {
        const double time = open + shot.shutter * (k + 0.5) / moments;
        discsAt(shot.occluders, time, shot.frameCount, shot.scene.discs);
        const double dx = (fraction(0.5 + 0.7548776662466927 * k) - 0.5) * cell;
        const double dy = (fraction(0.5 + 0.5698402909980532 * k) - 0.5) * cell;
        renderFrame(shot.scene, camera, shot.poseAt(time), perMoment, storage.moment, dx, dy,
                    shot.jitterSamples);
        for (size_t i = 0; i < storage.sum.size(); ++i) {
            storage.sum[i] += storage.light.light[storage.moment.rgb[i]];
        }
    }
    if (out.width != camera.xsize || out.height != camera.ysize) {
        out = makeRgbImage(camera.xsize, camera.ysize, 0, 0, 0);
    }
    for (size_t i = 0; i < storage.sum.size(); ++i) {
        const double level = 255.0 * transferEncode(TransferCurve::Srgb, storage.sum[i] / moments);
        out.rgb[i] = static_cast<unsigned char>(std::lround(level));
    }
    discsAt(shot.occluders, frame, shot.frameCount, shot.scene.discs);
    return truth;
}
