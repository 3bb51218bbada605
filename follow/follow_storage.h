#pragma once

#include <vector>

#include "follow/marker_picture.h"
#include "image/transfer_curve.h"

// Most pixels of the frame one alignment compares with the drawing.
inline constexpr int FOLLOW_SAMPLE_MAX = 2400;
// Most moments of the shutter a drawing averages.
inline constexpr int SHUTTER_STEPS_MAX = 48;
// Values the alignment fits: the pose at the middle of the shutter (a turn
// and a shift, camera axes) and the motion over it (the same six).
inline constexpr int ALIGN_VALUES = 12;

// A pixel of the frame the drawing is compared with: where it looks (ideal
// coordinates) and its light (the mean of its three channels, linear).
struct FollowSample {
    double ideal[2];
    float light;
};

// What the drawing gives at a sample: the mean reflectance seen over the
// shutter where it looks at the drawn marker, the share of the shutter it
// does, and how the first changes with each fitted value.
struct DrawnSample {
    double value;
    double inside;
    double slope[ALIGN_VALUES];
};

// The follower's working storage, allocated once at set-up.
struct FollowStorage {
    MarkerPicture picture;
    LinearLevels light{};
    std::vector<FollowSample> samples;
    std::vector<DrawnSample> drawn;
    std::vector<double> residuals;
    std::vector<double> weights;
    std::vector<double> scratch;
};

// Sizes the storage (the picture is drawn separately).
void prepareFollowStorage(FollowStorage& storage);
