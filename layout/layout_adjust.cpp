#include "layout/layout_adjust.h"

#include <ceres/ceres.h>
#include <ceres/rotation.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "layout/layout_links.h"

namespace {

// A pose as Ceres moves it: a rotation vector, then the translation.
struct PoseBlock {
    double values[6];
};

PoseBlock blockOf(const Pose& pose) {
    PoseBlock block;
    double R[9];  // column-major, as Ceres takes it
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            R[j * 3 + i] = pose.m[i][j];
    ceres::RotationMatrixToAngleAxis(R, block.values);
    for (int i = 0; i < 3; i++)
        block.values[3 + i] = pose.m[i][3];
    return block;
}

Pose poseOf(const PoseBlock& block) {
    double R[9];
    ceres::AngleAxisToRotationMatrix(block.values, R);
    Pose pose;
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 3; j++)
            pose.m[i][j] = R[j * 3 + i];
        pose.m[i][3] = block.values[3 + i];
    }
    return pose;
}

// The eight residuals of a sighting: its corners against the projection of
// the square's corners, through the marker's place and the frame's camera.
struct CornerResiduals {
    double P[3][4];
    double corners[4][3];
    double seen[4][2];

    template <typename T>
    bool operator()(const T* marker, const T* camera, T* residuals) const {
        for (int k = 0; k < 4; k++) {
            const T local[3] = {T(corners[k][0]), T(corners[k][1]), T(corners[k][2])};
            T world[3], inCamera[3];
            ceres::AngleAxisRotatePoint(marker, local, world);
            for (int i = 0; i < 3; i++)
                world[i] += marker[3 + i];
            ceres::AngleAxisRotatePoint(camera, world, inCamera);
            for (int i = 0; i < 3; i++)
                inCamera[i] += camera[3 + i];
            T h[3];
            for (int i = 0; i < 3; i++)
                h[i] = T(P[i][0]) * inCamera[0] + T(P[i][1]) * inCamera[1] +
                       T(P[i][2]) * inCamera[2] + T(P[i][3]);
            residuals[2 * k] = h[0] / h[2] - T(seen[k][0]);
            residuals[2 * k + 1] = h[1] / h[2] - T(seen[k][1]);
        }
        return true;
    }
};

// Mean squared distance of a sighting's corners from their projection
// through `markerToCamera`.
double cornerError(const MarkerSighting& s, double width, const Pose& markerToCamera,
                   const double P[3][4]) {
    double corners[4][3], sum = 0.0;
    squareCorners(width, corners);
    for (int k = 0; k < 4; k++) {
        double c[3], h[3];
        arPoseApply(markerToCamera, corners[k], c);
        if (!(c[2] > 0.0))
            return std::numeric_limits<double>::infinity();
        for (int i = 0; i < 3; i++)
            h[i] = P[i][0] * c[0] + P[i][1] * c[1] + P[i][2] * c[2] + P[i][3];
        sum +=
            std::pow(h[0] / h[2] - s.corners[k].x, 2) + std::pow(h[1] / h[2] - s.corners[k].y, 2);
    }
    return sum / 4.0;
}

// The camera (world to camera) of the frame whose linked sightings are
// [first, end): the sighting pose, of either solution, that fits them all best.
Pose startingCamera(const std::vector<MarkerSighting>& sightings, size_t first, size_t end,
                    const MarkerLayout& layout, const double P[3][4]) {
    Pose best{};
    double bestError = std::numeric_limits<double>::infinity();
    for (size_t i = first; i < end; i++) {
        const MarkerSighting& s = sightings[i];
        const PlacedMarker& placed = layout.markers[s.marker];
        for (int p = 0; p < s.poseCount; p++) {
            const Pose camera = arPoseCompose(s.poses[p], arPoseInvert(placed.toWorld));
            double error = 0.0;
            for (size_t j = first; j < end; j++) {
                const PlacedMarker& other = layout.markers[sightings[j].marker];
                error +=
                    cornerError(sightings[j], other.width, arPoseCompose(camera, other.toWorld), P);
            }
            if (error < bestError) {
                bestError = error;
                best = camera;
            }
        }
    }
    return best;
}

// The spread of each marker's single-frame places (its sighting pose nearer
// the adjusted camera, taken to the world) about its adjusted place, over
// the square root of their count; and the frames that saw it.
void measureSpread(const std::vector<MarkerSighting>& sightings,
                   const std::vector<std::pair<int, Pose>>& cameras, MarkerLayout& layout) {
    const size_t n = layout.markers.size();
    std::vector<double> turns(n, 0.0), shifts(n, 0.0);
    std::vector<int> counts(n, 0);
    for (PlacedMarker& m : layout.markers)
        m.frames = 0;
    size_t c = 0;
    for (const MarkerSighting& s : sightings) {
        layout.markers[s.marker].frames++;
        while (c < cameras.size() && cameras[c].first < s.frame)
            ++c;
        const PlacedMarker& placed = layout.markers[s.marker];
        if (c == cameras.size() || cameras[c].first != s.frame || !placed.linked || s.marker == 0)
            continue;
        const Pose toCamera = arPoseCompose(cameras[c].second, placed.toWorld);
        const int p = s.poseCount > 1 && turnBetweenDegrees(s.poses[1], toCamera) <
                                             turnBetweenDegrees(s.poses[0], toCamera)
                          ? 1
                          : 0;
        const Pose single = arPoseCompose(arPoseInvert(cameras[c].second), s.poses[p]);
        turns[s.marker] += std::pow(turnBetweenDegrees(single, placed.toWorld), 2);
        shifts[s.marker] += std::pow(single.m[0][3] - placed.toWorld.m[0][3], 2) +
                            std::pow(single.m[1][3] - placed.toWorld.m[1][3], 2) +
                            std::pow(single.m[2][3] - placed.toWorld.m[2][3], 2);
        counts[s.marker]++;
    }
    for (size_t m = 1; m < n; m++)
        if (counts[m] > 0) {
            layout.markers[m].sigmaDegrees = std::sqrt(turns[m] / counts[m] / counts[m]);
            layout.markers[m].sigmaPosition = std::sqrt(shifts[m] / counts[m] / counts[m]);
        }
}

}  // namespace

LayoutResult adjustLayout(const std::vector<MarkerSighting>& sightings, const double P[3][4],
                          MarkerLayout& layout) {
    const size_t n = layout.markers.size();
    std::vector<PoseBlock> markers(n);
    for (size_t m = 0; m < n; m++)
        markers[m] = blockOf(layout.markers[m].toWorld);
    // The frames that see two linked markers, in order, and their cameras.
    std::vector<std::pair<int, Pose>> cameras;
    std::vector<PoseBlock> cameraBlocks;
    std::vector<std::pair<size_t, size_t>> spans;
    for (size_t first = 0; first < sightings.size();) {
        size_t end = first;
        int linked = 0;
        while (end < sightings.size() && sightings[end].frame == sightings[first].frame)
            linked += layout.markers[sightings[end++].marker].linked;
        if (linked >= 2) {
            cameras.push_back(
                {sightings[first].frame, startingCamera(sightings, first, end, layout, P)});
            spans.push_back({first, end});
        }
        first = end;
    }
    cameraBlocks.reserve(cameras.size());
    for (const auto& camera : cameras)
        cameraBlocks.push_back(blockOf(camera.second));

    ceres::Problem problem;
    for (size_t f = 0; f < spans.size(); f++)
        for (size_t i = spans[f].first; i < spans[f].second; i++) {
            const MarkerSighting& s = sightings[i];
            if (!layout.markers[s.marker].linked)
                continue;
            auto* residual = new CornerResiduals;
            for (int r = 0; r < 3; r++)
                for (int c = 0; c < 4; c++)
                    residual->P[r][c] = P[r][c];
            squareCorners(layout.markers[s.marker].width, residual->corners);
            for (int k = 0; k < 4; k++) {
                residual->seen[k][0] = s.corners[k].x;
                residual->seen[k][1] = s.corners[k].y;
            }
            problem.AddResidualBlock(
                new ceres::AutoDiffCostFunction<CornerResiduals, 8, 6, 6>(residual),
                new ceres::HuberLoss(ADJUST_LOSS_PIXELS), markers[s.marker].values,
                cameraBlocks[f].values);
        }
    if (problem.HasParameterBlock(markers[0].values))
        problem.SetParameterBlockConstant(markers[0].values);
    ceres::Solver::Options options;
    options.linear_solver_type = ceres::DENSE_SCHUR;
    options.max_num_iterations = ADJUST_ITERATIONS_MAX;
    options.num_threads = 1;
    options.logging_type = ceres::SILENT;
    ceres::Solver::Summary summary;
    if (problem.NumResidualBlocks() > 0)
        ceres::Solve(options, &problem, &summary);
    for (size_t m = 1; m < n; m++) {
        for (double v : markers[m].values)
            if (!std::isfinite(v))
                return {LayoutStatus::SolveFailed};
        if (layout.markers[m].linked)
            layout.markers[m].toWorld = poseOf(markers[m]);
    }
    for (size_t f = 0; f < cameras.size(); f++)
        cameras[f].second = poseOf(cameraBlocks[f]);
    measureSpread(sightings, cameras, layout);
    return {};
}

LayoutResult placeMarkers(const std::vector<MarkerSighting>& sightings,
                          const std::vector<double>& widths, const double P[3][4],
                          MarkerLayout& layout, std::vector<bool>& loose) {
    loose.assign(widths.size(), false);
    std::vector<MarkerSighting> kept = sightings;
    for (;;) {
        if (const LayoutResult linked = linkMarkers(kept, widths, layout); !linked.ok())
            return linked;
        if (const LayoutResult adjusted = adjustLayout(kept, P, layout); !adjusted.ok())
            return adjusted;
        // The loosest marker only: its frames pull the cameras they share
        // with the others, and so the others' places too.
        size_t loosest = 0;
        double worst = LOOSE_PLACE_SHARE;
        for (size_t m = 1; m < layout.markers.size(); m++) {
            const PlacedMarker& placed = layout.markers[m];
            if (placed.linked && placed.sigmaPosition > worst * placed.width) {
                loosest = m;
                worst = placed.sigmaPosition / placed.width;
            }
        }
        if (loosest == 0)
            return {};
        loose[loosest] = true;
        std::erase_if(kept, [&](const MarkerSighting& s) { return loose[s.marker]; });
    }
}
