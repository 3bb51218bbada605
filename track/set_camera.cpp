#include "track/set_camera.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "pose/pose_projection.h"
#include "track/marker_square_of.h"

namespace {

ImagePoint cornerOf(const MarkerInfo& marker, int k) {
    return marker.vertices[(4 + k - marker.direction) % 4];
}

}  // namespace

SetCamera::SetCamera(const MarkerLayout& layout, std::vector<int> slotMarker)
    : layout(layout),
      slotMarker(std::move(slotMarker)),
      squares(layout.markers.size(), nullptr),
      corners(layout.markers.size()),
      index(layout.markers.size(), -1) {
    starts.reserve(2 * layout.markers.size() + 1);
}

PoseFit SetCamera::fitMarkers(const CameraParam& camera, uint32_t use, const Pose& start) {
    int n = 0;
    for (size_t m = 0; m < corners.size(); m++) {
        if (!(use & (1u << m)))
            continue;
        double square[4][3];
        squareCorners(layout.markers[m].width, square);
        for (int k = 0; k < 4; k++, n++) {
            arPoseApply(layout.markers[m].toWorld, square[k], points[n]);
            image[n] = corners[m][k];
        }
    }
    return arPolishPoseSpace(image, points, n, camera.mat, start);
}

double SetCamera::markerError(const CameraParam& camera, int m, const Pose& pose) const {
    double square[4][3], sum = 0.0;
    squareCorners(layout.markers[m].width, square);
    const Pose toCamera = arPoseCompose(pose, layout.markers[m].toWorld);
    for (int k = 0; k < 4; k++) {
        const MarkerPointView view = arViewMarkerPoint(camera, toCamera, square[k]);
        if (!(view.depth > 0.0))
            return std::numeric_limits<double>::infinity();
        const ImagePoint& seen = corners[m][k];
        sum += std::pow(view.ideal.x - seen.x, 2) + std::pow(view.ideal.y - seen.y, 2);
    }
    return sum / 4.0;
}

int SetCamera::leaverOfTwo(const CameraParam& camera, uint32_t use) {
    int pair[2], n = 0;
    for (size_t m = 0; m < corners.size() && n < 2; m++)
        if (use & (1u << m))
            pair[n++] = static_cast<int>(m);
    // Each under the camera the other gives alone: agreeing markers keep both.
    for (int i = 0; i < 2; i++) {
        const PoseFit alone = fitMarkers(camera, 1u << pair[1 - i], history.previous);
        if (!alone.ok())
            return -1;
        const double limit = std::max(SET_OUTLIER_FACTOR * SET_OUTLIER_FACTOR * alone.error,
                                      SET_OUTLIER_PIXELS * SET_OUTLIER_PIXELS);
        if (!(markerError(camera, pair[i], alone.pose) > limit))
            return -1;
    }
    // They disagree: the one the camera the frames before predict (the
    // previous frame's, moved on as it moved from the one before) fits worse
    // leaves.
    const Pose predicted =
        history.haveBefore
            ? arPoseCompose(arPoseCompose(history.previous, arPoseInvert(history.before)),
                            history.previous)
            : history.previous;
    return markerError(camera, pair[0], predicted) > markerError(camera, pair[1], predicted)
               ? pair[0]
               : pair[1];
}

SetCameraFit SetCamera::fit(const CameraParam& camera, const MarkerInfo* markers, int count,
                            const PoseSettings& settings) {
    SetCameraFit out;
    atFrameStart = history;
    haveFitted = false;
    // The most confident square of each placed marker of the set.
    std::fill(squares.begin(), squares.end(), nullptr);
    std::fill(index.begin(), index.end(), -1);
    uint32_t seen = 0;
    for (int i = 0; i < count; i++) {
        const int id = markers[i].id;
        if (id < 0 || id >= static_cast<int>(slotMarker.size()) || slotMarker[id] < 0 ||
            !(markers[i].confidence >= SET_CONFIDENCE_MIN))
            continue;
        const int m = slotMarker[id];
        if (!layout.markers[m].linked)
            continue;
        if (squares[m] == nullptr || markers[i].confidence > squares[m]->confidence) {
            squares[m] = &markers[i];
            index[m] = i;
        }
        seen |= 1u << m;
    }
    if (seen == 0) {
        history.havePrevious = history.haveBefore = false;
        return out;
    }
    // Starts: the previous camera, and each marker's own poses (both
    // solutions) taken to the world; the one the joint fit ends lowest from.
    starts.clear();
    if (history.havePrevious)
        starts.push_back(history.previous);
    const ImagePoint centre{0.0, 0.0};
    for (size_t m = 0; m < squares.size(); m++) {
        if (squares[m] == nullptr)
            continue;
        const MarkerSquare square = markerSquare(*squares[m]);
        const double width = layout.markers[m].width;
        const PoseFit own = arMarkerPose(camera, square, centre, width, settings);
        if (!own.ok())
            continue;
        const Pose fromWorld = arPoseInvert(layout.markers[m].toWorld);
        starts.push_back(arPoseCompose(own.pose, fromWorld));
        const PoseFit mirror =
            arMarkerPoseMirror(camera, square, own.pose, centre, width, settings);
        if (mirror.ok())
            starts.push_back(arPoseCompose(mirror.pose, fromWorld));
    }
    for (size_t m = 0; m < squares.size(); m++)
        if (squares[m] != nullptr)
            for (int k = 0; k < 4; k++)
                corners[m][k] = cornerOf(*squares[m], k);
    return fitFromStarts(camera, seen);
}

SetCameraFit SetCamera::fitFollowed(const CameraParam& camera, uint32_t kept, uint32_t followed,
                                    const Pose* poses) {
    // The frame is fitted again, continuing from the frames before it.
    history = atFrameStart;
    for (size_t m = 0; m < index.size(); m++)
        if (!((kept | followed) & (1u << m)))
            index[m] = -1;
    // Each followed marker's corners where its pose puts them, and the camera
    // it gives alone as a start besides the previous camera and the frame's
    // first fit.
    starts.clear();
    if (history.havePrevious)
        starts.push_back(history.previous);
    if (haveFitted)
        starts.push_back(fitted);
    for (size_t m = 0; m < corners.size(); m++) {
        if (!(followed & (1u << m)))
            continue;
        double square[4][3];
        squareCorners(layout.markers[m].width, square);
        for (int k = 0; k < 4; k++)
            corners[m][k] = arViewMarkerPoint(camera, poses[m], square[k]).ideal;
        starts.push_back(arPoseCompose(poses[m], arPoseInvert(layout.markers[m].toWorld)));
    }
    return fitFromStarts(camera, kept | followed);
}

SetCameraFit SetCamera::fitFromStarts(const CameraParam& camera, uint32_t seen) {
    SetCameraFit out;
    uint32_t use = seen;
    PoseFit best;
    for (;;) {
        best = PoseFit{};
        for (const Pose& start : starts) {
            const PoseFit f = fitMarkers(camera, use, start);
            if (f.ok() && (!best.ok() || f.error < best.error))
                best = f;
        }
        if (!best.ok() || __builtin_popcount(use) < 2)
            break;
        // Of two, the frames before decide; of more, each marker against
        // the fit to the others: the one that disagrees most with a fit the
        // others agree on leaves.
        int worst = -1;
        if (__builtin_popcount(use) == 2)
            worst = history.havePrevious ? leaverOfTwo(camera, use) : -1;
        double worstRatio = 0.0;
        for (size_t m = 0; m < corners.size() && __builtin_popcount(use) > 2; m++) {
            if (!(use & (1u << m)))
                continue;
            const PoseFit others = fitMarkers(camera, use & ~(1u << m), best.pose);
            if (!others.ok())
                continue;
            const double e = markerError(camera, static_cast<int>(m), others.pose);
            const double limit = std::max(SET_OUTLIER_FACTOR * SET_OUTLIER_FACTOR * others.error,
                                          SET_OUTLIER_PIXELS * SET_OUTLIER_PIXELS);
            if (e > limit && e / limit > worstRatio) {
                worst = static_cast<int>(m);
                worstRatio = e / limit;
            }
        }
        if (worst < 0)
            break;
        use &= ~(1u << worst);
        out.dropped |= 1u << worst;
    }
    if (!best.ok()) {
        history.havePrevious = history.haveBefore = false;
        return out;
    }
    out.found = true;
    out.camera = best.pose;
    out.error = best.error;
    out.used = use;
    for (size_t m = 0; m < corners.size() && out.chosen < 0; m++)
        if (use & (1u << m))
            out.chosen = index[m];
    history.before = history.previous;
    history.haveBefore = history.havePrevious;
    history.previous = best.pose;
    history.havePrevious = true;
    fitted = best.pose;
    haveFitted = true;
    return out;
}
