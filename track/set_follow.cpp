#include "track/set_follow.h"

SetFollow::SetFollow(const MarkerLayout& layout)
    : markers_(layout.markers), followers_(layout.markers.size()), poses_(layout.markers.size()) {}

void SetFollow::add(int marker, std::unique_ptr<MarkerFollow> follower) {
    followers_[marker] = std::move(follower);
}

uint32_t SetFollow::align(long frame, const FrameImage& image, const Pose& camera, uint32_t used,
                          const SideRamps* ramps, uint32_t* refused) {
    uint32_t taken = 0;
    *refused = 0;
    for (size_t m = 0; m < followers_.size(); m++) {
        MarkerFollow* follower = followers_[m].get();
        const Pose pose = arPoseCompose(camera, markers_[m].toWorld);
        if (!(used & (1u << m)) || follower == nullptr || !follower->smeared(frame, pose, ramps[m]))
            continue;
        const FollowFit fit = follower->refine(frame, image, pose, ramps[m]);
        if (fit.refused) {
            *refused |= 1u << m;
        } else if (fit.ok) {
            poses_[m] = fit.pose;
            taken |= 1u << m;
        }
    }
    return taken;
}

void SetFollow::found(long frame, const Pose& camera, uint32_t aligned) {
    for (size_t m = 0; m < followers_.size(); m++)
        if (followers_[m] != nullptr && !(aligned & (1u << m)))
            followers_[m]->found(frame, arPoseCompose(camera, markers_[m].toWorld));
}

uint32_t SetFollow::follow(long frame, const FrameImage& image) {
    uint32_t taken = 0;
    for (size_t m = 0; m < followers_.size(); m++) {
        // A marker the prediction puts wholly out of view is not looked for.
        if (followers_[m] == nullptr || !(followers_[m]->predictedInView(frame) > 0.0))
            continue;
        const FollowFit fit = followers_[m]->follow(frame, image);
        if (fit.ok) {
            poses_[m] = fit.pose;
            taken |= 1u << m;
        }
    }
    return taken;
}

void SetFollow::forget() {
    for (const std::unique_ptr<MarkerFollow>& follower : followers_)
        if (follower != nullptr)
            follower->forget();
}
