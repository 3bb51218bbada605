#include "track/frame_loop.h"

namespace {

// One frame through the tracker, as it came.
TrackResult trackDelivery(Tracker& tracker, const Delivery& delivery) {
    if (delivery.arrival == Arrival::Picture)
        return tracker.trackFrame(*delivery.frame);
    if (delivery.arrival == Arrival::Blank)
        return tracker.trackBlankFrame();
    return tracker.trackGap();
}

}  // namespace

TrackResult fitsKeyTable(const FrameSource& source) {
    const std::optional<long long> length = source.length();
    if (length && *length > KEY_TABLE_SIZE)
        return TrackFailure::TooLong;
    return {};
}

TrackResult trackFrames(FrameSource& source, Tracker& tracker, const FrameDone& frameDone) {
    for (long long framesDone = 0;;) {
        const Delivery delivery = source.next();
        if (delivery.arrival == Arrival::End)
            return {};
        if (delivery.arrival == Arrival::Failed)
            return trackResultOf(delivery.problem);
        const TrackResult tracked = trackDelivery(tracker, delivery);
        const bool detected = delivery.arrival != Arrival::Gap;
        frameDone(++framesDone, detected ? tracker.detector().trace().contourFailures
                                         : std::span<const MarkerStatus>{});
        if (!tracked.ok())
            return tracked;
    }
}
