#include "track/layout_pass.h"

#include "layout/layout_links.h"
#include "pose/marker_square.h"
#include "track/marker_square_of.h"
#include "track/set_camera.h"

namespace {

// The marker's sighting: its corners in the printed square's order and its
// one or two poses; false when no pose in front of the camera fits it.
bool sighting(const CameraParam& camera, const MarkerInfo& marker, double width,
              const PoseSettings& settings, MarkerSighting& out) {
    const MarkerSquare square = markerSquare(marker);
    const ImagePoint centre{0.0, 0.0};
    const PoseFit fit = arMarkerPose(camera, square, centre, width, settings);
    if (!fit.ok() || !arMarkerInFront(fit.pose, centre, width))
        return false;
    for (int k = 0; k < 4; k++)
        out.corners[k] = marker.vertices[(4 + k - marker.direction) % 4];
    out.poseCount = 1;
    out.poses[0] = fit.pose;
    out.errors[0] = fit.error;
    const PoseFit mirror = arMarkerPoseMirror(camera, square, fit.pose, centre, width, settings);
    if (mirror.ok() && arMarkerInFront(mirror.pose, centre, width) &&
        mirror.error <= MIRROR_ERROR_RATIO * fit.error + MIRROR_ERROR_FLOOR &&
        turnBetweenDegrees(mirror.pose, fit.pose) > 1.0) {
        const int at = mirror.error < fit.error ? 0 : 1;
        out.poses[1] = out.poses[0];
        out.errors[1] = out.errors[0];
        out.poses[at] = mirror.pose;
        out.errors[at] = mirror.error;
        out.poseCount = 2;
    }
    return true;
}

}  // namespace

void sightFrame(const CameraParam& camera, const MarkerInfo* markers, int count,
                const std::vector<int>& slotMarker, const std::vector<SetMarker>& set,
                const PoseSettings& pose, int frame, std::vector<MarkerSighting>& sightings) {
    for (size_t m = 0; m < set.size(); m++) {
        int chosen = -1, squares = 0;
        for (int i = 0; i < count; i++) {
            const int id = markers[i].id;
            if (id < 0 || id >= static_cast<int>(slotMarker.size()) ||
                slotMarker[id] != static_cast<int>(m) ||
                !(markers[i].confidence >= SET_CONFIDENCE_MIN))
                continue;
            ++squares;
            if (chosen < 0 || markers[i].confidence > markers[chosen].confidence)
                chosen = i;
        }
        MarkerSighting s;
        s.frame = frame;
        s.marker = static_cast<int>(m);
        if (squares == 1 && sighting(camera, markers[chosen], set[m].width, pose, s))
            sightings.push_back(s);
    }
}

TrackResult sightMarkers(FrameSource& source, const CameraParam& camera,
                         const std::vector<SetMarker>& markers, const TrackerSettings& settings,
                         std::vector<MarkerSighting>& sightings, const FrameDone& frameDone) {
    std::unique_ptr<Detector> detector = Detector::create(camera, settings.detection);
    if (!detector)
        return TrackFailure::OutOfMemory;
    std::vector<int> slotMarker(PATTERN_SLOT_MAX, -1);
    for (size_t m = 0; m < markers.size(); m++) {
        const PatternLoad load = detector->loadPattern(markers[m].pattern.c_str());
        if (load.status == MarkerStatus::PatternCannotOpen)
            return {TrackFailure::PatternMissing, load.error, markers[m].pattern};
        if (load.status != MarkerStatus::Ok)
            return {TrackFailure::PatternUnreadable, 0, markers[m].pattern};
        slotMarker[load.id] = static_cast<int>(m);
    }
    for (long long frame = 0;;) {
        const Delivery delivery = source.next();
        if (delivery.arrival == Arrival::End)
            return {};
        if (delivery.arrival == Arrival::Failed)
            return trackResultOf(delivery.problem);
        if (delivery.arrival == Arrival::Picture) {
            const MarkerInfo* found = nullptr;
            int count = 0;
            if (detector->detect(*delivery.frame, &found, &count) == MarkerStatus::Ok)
                sightFrame(camera, found, detector->seenCount(), slotMarker, markers, settings.pose,
                           static_cast<int>(frame), sightings);
        }
        frameDone(++frame, {});
    }
}
