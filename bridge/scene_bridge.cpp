#include "bridge/scene_bridge.h"

#include <algorithm>
#include <new>

#include "bridge/bridge_fit.h"
#include "bridge/plane_anchor.h"
#include "bridge/point_follow.h"

namespace {

// Distance, in ideal pixels per working scale, beyond which a point that a
// marker's pose puts elsewhere leaves.
constexpr double ANCHOR_TOLERANCE = 3.0;
// New points are picked when fewer than this many are followed.
constexpr int FILL_BELOW = BRIDGE_POINT_MAX * 2 / 3;

bool isOpenCvFailure(BridgeStatus status) {
    return status == BridgeStatus::OutOfMemory || status == BridgeStatus::OpenCvFailed;
}

}  // namespace

SceneBridge::~SceneBridge() = default;

std::unique_ptr<SceneBridge> SceneBridge::create(const CameraParam& camera) {
    std::unique_ptr<SceneBridge> bridge(new (std::nothrow) SceneBridge());
    if (bridge == nullptr)
        return nullptr;
    bridge->camera_ = camera;
    bridge->storage_.reset(new (std::nothrow) BridgeStorage());
    if (bridge->storage_ == nullptr ||
        prepareFollowing(*bridge->storage_, camera.xsize, camera.ysize) != BridgeStatus::Ok)
        return nullptr;
    return bridge;
}

BridgeStatus SceneBridge::markerFrame(const FrameImage& frame, const Pose& markerPose,
                                      bool smeared) {
    if (frame.pixels == nullptr || frame.width != camera_.xsize || frame.height != camera_.ysize)
        return BridgeStatus::BadFrame;
    BridgeStorage& storage = *storage_;
    BridgeStatus status = takePicture(storage, frame);
    if (status == BridgeStatus::Ok && !smeared && storage.hasPrevious && !storage.at.empty() &&
        storage.anchoringsInRow >= PLANE_WEIGHT_MAX &&
        storage.framesSinceRenewal + 1 < BRIDGE_RENEW_INTERVAL) {
        // The points' places already average as many poses as they take: the
        // frame is kept, to be anchored on only if the marker is lost next.
        std::swap(storage.incoming, storage.held);
        storage.heldPose = markerPose;
        storage.holding = true;
        storage.framesSinceRenewal++;
        storage.framesSinceFill++;
        return BridgeStatus::Ok;
    }
    storage.holding = false;
    if (status == BridgeStatus::Ok)
        status = renew(markerPose);
    if (isOpenCvFailure(status))
        forget();
    return status;
}

BridgeStatus SceneBridge::renew(const Pose& markerPose) {
    BridgeStorage& storage = *storage_;
    const bool predicted = predictPoints(storage, camera_, markerPose) == BridgeStatus::Ok;
    const BridgeStatus followed = followPoints(storage, predicted);
    if (followed != BridgeStatus::Ok)
        return followed;
    storage.framesSinceRenewal = 0;
    storage.anchoringsInRow++;
    return anchor(markerPose);
}

BridgeStatus SceneBridge::catchUp() {
    BridgeStorage& storage = *storage_;
    if (!storage.holding)
        return BridgeStatus::Ok;
    storage.holding = false;
    std::swap(storage.incoming, storage.held);
    const BridgeStatus status = renew(storage.heldPose);
    return isOpenCvFailure(status) ? status : BridgeStatus::Ok;
}

BridgeStatus SceneBridge::follow(const FrameImage& frame) {
    if (frame.pixels == nullptr || frame.width != camera_.xsize || frame.height != camera_.ysize)
        return BridgeStatus::BadFrame;
    BridgeStatus status = catchUp();
    storage_->anchoringsInRow = 0;
    if (status == BridgeStatus::Ok && storage_->at.empty()) {
        // No point to follow into the frame: its picture would never be read.
        storage_->hasPrevious = true;
        return status;
    }
    if (status == BridgeStatus::Ok)
        status = takePicture(*storage_, frame);
    if (status == BridgeStatus::Ok)
        status = followPoints(*storage_);
    if (status != BridgeStatus::Ok)
        forget();
    return status;
}

void SceneBridge::forget() {
    leastError_ = -1.0;
    doubted_ = false;
    storage_->at.clear();
    storage_->plane.clear();
    storage_->weight.clear();
    storage_->hasPrevious = false;
    storage_->holding = false;
    storage_->framesSinceFill = 1 << 20;
    storage_->framesSinceRenewal = 1 << 20;
    storage_->anchoringsInRow = 0;
}

BridgeStatus SceneBridge::anchor(const Pose& markerPose) {
    leastError_ = -1.0;
    doubted_ = false;
    const BridgeStatus status = anchorPoints(*storage_, camera_, markerPose,
                                             ANCHOR_TOLERANCE * storage_->scale, FILL_BELOW, true);
    if (isOpenCvFailure(status))
        forget();
    return status;
}

BridgeFit SceneBridge::bridge() {
    BridgeStorage& storage = *storage_;
    BridgeFit fit = fitBridgePose(storage, camera_, BridgeLimits{});
    if (!fit.ok()) {
        if (isOpenCvFailure(fit.status))
            forget();
        return fit;
    }
    // Points off the plane (a wall, a box) that passed for it while the
    // camera moved little disagree more and more as it moves on.
    if (leastError_ >= 0.0 &&
        fit.error > BRIDGE_ERROR_GROWTH * leastError_ + BRIDGE_ERROR_SLACK * storage.scale)
        doubted_ = true;
    if (doubted_) {
        fit.status = BridgeStatus::PlaneDoubted;
        return fit;
    }
    leastError_ = leastError_ < 0.0 ? fit.error : std::min(leastError_, fit.error);
    // Points that do not agree with the camera are off the plane or astray.
    keepMarkedPoints(storage, storage.inlier);
    const BridgeStatus anchored = anchorPoints(storage, camera_, fit.pose,
                                               ANCHOR_TOLERANCE * storage.scale, FILL_BELOW, false);
    if (anchored != BridgeStatus::Ok) {
        if (isOpenCvFailure(anchored))
            forget();
        fit.status = anchored;
    }
    return fit;
}
