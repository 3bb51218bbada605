#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "follow/marker_follow.h"
#include "image/frame_image.h"
#include "layout/layout_records.h"
#include "math/matrix.h"

// Several markers aligned on the frame's light where detection sees them
// smeared, and followed where it leaves a frame without a camera (--follow
// with a layout): each placed marker has a follower of its own (its picture
// and width), which goes on from the cameras of the frames before taken to
// the marker through the layout; the markers taken give the frame's camera
// together (SetCamera::fitFollowed).
class SetFollow {
  public:
    explicit SetFollow(const MarkerLayout& layout);

    // Marker `marker` is followed by `follower`.
    void add(int marker, std::unique_ptr<MarkerFollow> follower);
    // Frame `frame` has the camera `camera` (the first marker's coordinates
    // to the camera's) from the squares of the markers of `used` (a bit
    // each), whose sides' ramps are `ramps` (by marker): each one smeared is
    // aligned from its place under `camera` (MarkerFollow::refine). Returns
    // the markers whose alignment is taken, their poses in poses();
    // `refused` gets those neither their square nor its alignment vouch for.
    uint32_t align(long frame, const FrameImage& image, const Pose& camera, uint32_t used,
                   const SideRamps* ramps, uint32_t* refused);
    // Frame `frame` has the camera `camera` (the first marker's coordinates
    // to the camera's): each follower but those of `aligned` (which keep
    // what their alignment took) remembers its marker's pose under it.
    void found(long frame, const Pose& camera, uint32_t aligned = 0);
    // Frame `frame` has no camera of its own: each marker the frames before
    // put at least partly in view is aligned on its light. Returns the
    // markers taken, a bit each; their poses are in poses().
    uint32_t follow(long frame, const FrameImage& image);
    // The poses taken by the last follow(), by marker.
    const Pose* poses() const { return poses_.data(); }
    // Where the layout places marker `marker`, and its width.
    const PlacedMarker& marker(int marker) const { return markers_[marker]; }
    // The next frame starts afresh.
    void forget();

  private:
    std::vector<PlacedMarker> markers_;
    std::vector<std::unique_ptr<MarkerFollow>> followers_;  // null for a marker not placed
    std::vector<Pose> poses_;
};
