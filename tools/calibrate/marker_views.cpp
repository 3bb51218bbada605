#include "tools/calibrate/marker_views.h"

#include <ceres/rotation.h>

#include <algorithm>
#include <cmath>

#include "camera/camera_settings.h"
#include "camera/distortion.h"
#include "marker/detector.h"
#include "marker/edge_refine.h"
#include "pose/initial_rotation.h"
#include "track/tracker.h"

std::vector<TargetPoint> markerTargetPoints(double width) {
    const double h = width / 2.0;
    return {{-h, h}, {h, h}, {h, -h}, {-h, -h}};
}

namespace {

// Points measured along a side, between this share of it from either corner,
// as edge refinement measures them.
constexpr int SIDE_SAMPLES = 16;
constexpr double SIDE_END = 0.05;

// Most measurements of a marker's sides, and the largest move of a corner
// (pixels) at which they have settled.
constexpr int SIDE_ROUNDS_MAX = 20;
constexpr double SIDES_SETTLED = 0.005;

struct Line {
    double x, y;    // a point on it
    double dx, dy;  // its unit direction
};

// Where `lens` shows marker point (x, y) with the marker at `pose`.
BoardCorner seenPoint(const CameraParam& lens, const std::array<double, 6>& pose, double x,
                      double y) {
    const double point[3] = {x, y, 0.0};
    double p[3];
    ceres::AngleAxisRotatePoint(pose.data(), point, p);
    for (int k = 0; k < 3; ++k) {
        p[k] += pose[3 + k];
    }
    const double ix = (lens.mat[0][0] * p[0] + lens.mat[0][2] * p[2]) / p[2];
    const double iy = (lens.mat[1][1] * p[1] + lens.mat[1][2] * p[2]) / p[2];
    BoardCorner seen{};
    arIdealToObserved(lens.distFactor, ix, iy, &seen.x, &seen.y);
    return seen;
}

// The straight line closest to the side from `a` to `b` as the lens shows it.
Line fittedSide(const CameraParam& lens, const std::array<double, 6>& pose, TargetPoint a,
                TargetPoint b) {
    BoardCorner points[SIDE_SAMPLES];
    double mx = 0.0, my = 0.0;
    for (int k = 0; k < SIDE_SAMPLES; ++k) {
        const double s = SIDE_END + (1.0 - 2.0 * SIDE_END) * k / (SIDE_SAMPLES - 1);
        points[k] = seenPoint(lens, pose, a.x + s * (b.x - a.x), a.y + s * (b.y - a.y));
        mx += points[k].x / SIDE_SAMPLES;
        my += points[k].y / SIDE_SAMPLES;
    }
    double sxx = 0.0, sxy = 0.0, syy = 0.0;
    for (const BoardCorner& p : points) {
        sxx += (p.x - mx) * (p.x - mx);
        sxy += (p.x - mx) * (p.y - my);
        syy += (p.y - my) * (p.y - my);
    }
    const double angle = 0.5 * std::atan2(2.0 * sxy, sxx - syy);
    return {mx, my, std::cos(angle), std::sin(angle)};
}

BoardCorner meet(const Line& a, const Line& b) {
    const double det = a.dx * b.dy - a.dy * b.dx;
    const double t = ((b.x - a.x) * b.dy - (b.y - a.y) * b.dx) / det;
    return {a.x + t * a.dx, a.y + t * a.dy};
}

// The plain sides run through the outermost dark pixels; only sides measured
// on the grey-level edge give corners good to a fraction of a pixel. A
// profile read across a blurred edge about a line beside it takes its dark
// and light levels unevenly far into the blur, which pulls the edge found
// towards that line (on a defocused marker, 2 to 3 pixels inward at the
// corners): the sides are measured again about the sides found until the
// corners settle. 0, or -1 when not all four sides could be measured.
int measureSides(const FrameImage& frame, const double distFactor[4], EdgeRefineStorage& storage,
                 MarkerInfo& marker) {
    if (arRefineEdges(frame, distFactor, storage, marker.edgeLines, marker.vertices).sides != 4) {
        return -1;
    }
    for (int round = 1; round < SIDE_ROUNDS_MAX; ++round) {
        ImagePoint before[4];
        std::copy(marker.vertices, marker.vertices + 4, before);
        arRefineEdges(frame, distFactor, storage, marker.edgeLines, marker.vertices);
        double moved = 0.0;
        for (int k = 0; k < 4; ++k) {
            moved = std::max(moved, std::hypot(marker.vertices[k].x - before[k].x,
                                               marker.vertices[k].y - before[k].y));
        }
        if (moved < SIDES_SETTLED) {
            break;
        }
    }
    return 0;
}

}  // namespace

std::array<BoardCorner, 4> bentSideShifts(const CameraParam& lens, double markerWidth,
                                          const std::array<double, 6>& pose) {
    const std::vector<TargetPoint> corners = markerTargetPoints(markerWidth);
    Line sides[4];
    for (int i = 0; i < 4; ++i) {
        sides[i] = fittedSide(lens, pose, corners[i], corners[(i + 1) % 4]);
    }
    std::array<BoardCorner, 4> shifts{};
    for (int i = 0; i < 4; ++i) {
        const BoardCorner met = meet(sides[(i + 3) % 4], sides[i]);
        const BoardCorner seen = seenPoint(lens, pose, corners[i].x, corners[i].y);
        shifts[i] = {met.x - seen.x, met.y - seen.y};
    }
    return shifts;
}

int fitMarkerCamera(double markerWidth, const std::vector<std::vector<BoardCorner>>& views,
                    int width, int height, bool allowDistortion, FitResult& result,
                    FittedModel& model, std::string& error) {
    const std::vector<TargetPoint> target = markerTargetPoints(markerWidth);
    model = FittedModel{};
    if (fitOneFocalLength(target, views, width, height, result, model.principalPoint, error) != 0) {
        return -1;
    }
    if (!allowDistortion) {
        return 0;
    }
    FitSettings settings;
    settings.oneFocalLength = true;
    settings.fitPrincipalPoint = model.principalPoint;
    settings.estimateSigmas = true;
    settings.start = &result;
    FitResult distorted;
    if (fitCamera(target, views, width, height, settings, distorted, error) != 0) {
        return -1;
    }
    std::vector<std::vector<BoardCorner>> straightened = views;
    for (int round = 0; round < BENT_SIDE_ROUNDS; ++round) {
        for (size_t v = 0; v < views.size(); ++v) {
            const std::array<BoardCorner, 4> shifts =
                bentSideShifts(distorted.camera, markerWidth, distorted.poses[v]);
            for (int i = 0; i < 4; ++i) {
                straightened[v][i] = {views[v][i].x - shifts[i].x, views[v][i].y - shifts[i].y};
            }
        }
        FitResult next;
        settings.start = &distorted;
        if (fitCamera(target, straightened, width, height, settings, next, error) != 0) {
            return -1;
        }
        const double change = std::fabs(next.cornerPull - distorted.cornerPull);
        distorted = next;
        if (change < 0.01 * distorted.distortionSigma) {
            break;
        }
    }
    if (std::fabs(distorted.cornerPull) >= DISTORTION_SIGNIFICANCE * distorted.distortionSigma) {
        model.distortion = true;
        result = distorted;
    }
    return 0;
}

std::unique_ptr<MarkerFinder> MarkerFinder::create(const std::string& patternPath, int width,
                                                   int height, std::string& error) {
    // A lens without distortion: detection then gives the corners where the
    // frame shows them.
    CameraParam lens{};
    if (const CameraResult made = makeCameraParam(plainCameraSettings(width, height), lens);
        !made.ok()) {
        error = made.reason;
        return nullptr;
    }
    std::unique_ptr<MarkerFinder> finder(new MarkerFinder);
    // As Lumeko's --best finds it: any size, the local and the chosen
    // thresholds when the fixed one misses it (uneven light, a glossy or a
    // dim sheet), dented sides taken, and a small square in a larger dark
    // region kept only when it matches well.
    DetectorSettings settings;
    settings.largeMarkers = true;
    settings.localRetry = true;
    settings.thresholdRetry = true;
    settings.robustSides = true;
    settings.strictHistory = true;
    finder->detector = Detector::create(lens, settings);
    finder->refineStorage = std::make_unique<EdgeRefineStorage>();
    if (finder->detector == nullptr) {
        error = "not enough memory for frames of " + std::to_string(lens.xsize) + " x " +
                std::to_string(lens.ysize);
        return nullptr;
    }
    const PatternLoad load = finder->detector->loadPattern(patternPath.c_str());
    if (!load.ok()) {
        error = patternPath + (load.status == MarkerStatus::PatternCannotOpen
                                   ? ": cannot open the pattern file"
                                   : ": not a pattern file (3072 numbers 0..255)");
        return nullptr;
    }
    finder->patternId = load.id;
    finder->detector->seekPattern(finder->patternId);
    return finder;
}

MarkerFinder::~MarkerFinder() = default;

MarkerSight MarkerFinder::find(const FrameImage& frame, std::vector<BoardCorner>& corners) {
    corners.clear();
    detector->forgetHistory();
    const MarkerInfo* markers = nullptr;
    int count = 0;
    if (detector->detect(frame, &markers, &count) != MarkerStatus::Ok) {
        return MarkerSight::NotFound;
    }
    const int chosen = chooseMarker(markers, detector->seenCount(), patternId);
    if (chosen < 0) {
        return MarkerSight::NotFound;
    }
    MarkerInfo marker = markers[chosen];
    if (measureSides(frame, detector->camera().distFactor, *refineStorage, marker) != 0) {
        return MarkerSight::NotRefined;
    }
    for (int k = 0; k < 4; ++k) {
        const ImagePoint& corner = marker.vertices[arMarkerOrderIndex(marker.direction, k)];
        corners.push_back({corner.x, corner.y});
    }
    return MarkerSight::Found;
}
