#include "follow/marker_follow.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

// How fast the shutter's share of a frame follows what the fits measure.
constexpr double SHARE_LEARNING = 0.3;

// The angle between the rotations of two poses, radians.
double turnBetween(const Pose& a, const Pose& b) {
    double trace = 0.0;
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++)
            trace += a.m[r][c] * b.m[r][c];
    return std::acos(std::fmax(-1.0, std::fmin(1.0, 0.5 * (trace - 1.0))));
}

}  // namespace

MarkerFollow::~MarkerFollow() = default;

std::unique_ptr<MarkerFollow> MarkerFollow::create(const CameraParam& camera,
                                                   const unsigned char* cells, double width,
                                                   TransferCurve curve) {
    std::unique_ptr<MarkerFollow> follow(new (std::nothrow) MarkerFollow());
    if (follow == nullptr)
        return nullptr;
    follow->camera_ = camera;
    follow->storage_.reset(new (std::nothrow) FollowStorage());
    if (follow->storage_ == nullptr)
        return nullptr;
    prepareFollowStorage(*follow->storage_);
    fillLinearLevels(curve, follow->storage_->light);
    drawMarkerPicture(cells, width, curve, follow->storage_->picture);
    return follow;
}

void MarkerFollow::remember(long frame, const Pose& pose) {
    if (last_[0].frame >= 0 && last_[0].frame < frame)
        last_[1] = last_[0];
    last_[0].frame = frame;
    last_[0].pose = pose;
}

bool MarkerFollow::smeared(long frame, const Pose& pose, double rampWidth) const {
    if (rampWidth > FOLLOW_SMEAR_WIDTH)
        return true;
    ShutterMotion perFrame;
    if (!(rampWidth > FOLLOW_BLUR_WIDTH) || last_[0].frame != frame - 1 || !frameMotion(&perFrame))
        return false;
    const ShutterPose expected{pose, scaledMotion(perFrame, shutterShare_)};
    return shutterStreak(expected, camera_.mat, storage_->picture.width) > FOLLOW_SMEAR_WIDTH;
}

void MarkerFollow::learnShutter(const FollowFit& fit, const ShutterMotion& perFrame) {
    const double expectedStreak =
        shutterStreak({fit.pose, perFrame}, camera_.mat, storage_->picture.width);
    if (fit.ok && expectedStreak > FOLLOW_SMEAR_WIDTH) {
        const double share = std::fmin(1.0, fit.outcome.streak / expectedStreak);
        shutterShare_ += SHARE_LEARNING * (share - shutterShare_);
    }
}

void MarkerFollow::found(long frame, const Pose& pose) {
    remember(frame, pose);
}

void MarkerFollow::forget() {
    last_[0] = Remembered{};
    last_[1] = Remembered{};
}

bool MarkerFollow::frameMotion(ShutterMotion* motion) const {
    if (last_[0].frame < 0 || last_[1].frame < 0)
        return false;
    const long apart = last_[0].frame - last_[1].frame;
    if (apart <= 0 || apart > FOLLOW_GAP_MAX)
        return false;
    *motion = scaledMotion(motionBetween(last_[1].pose, last_[0].pose), 1.0 / apart);
    return true;
}

bool MarkerFollow::acceptable(const AlignOutcome& o, const Pose& start, double turnMax) const {
    const double paper = o.dark + o.contrast;
    return o.converged && o.residual <= limits_.residualMax &&
           o.inlierShare >= limits_.inlierShareMin && o.correlation >= limits_.correlationMin &&
           o.inView >= limits_.inViewMin && o.contrast > 0.0 &&
           o.contrast >= limits_.paperShareMin * paper &&
           turnBetween(o.pose.middle, start) <= turnMax;
}

FollowFit MarkerFollow::alignFrom(const FrameImage& image, const ShutterPose& start,
                                  const ShutterMotion& expected, double turnMax) {
    FollowFit fit;
    fit.outcome = alignMarker(*storage_, camera_, image, start, expected);
    fit.pose = fit.outcome.pose.middle;
    fit.ok = acceptable(fit.outcome, start.middle, turnMax);
    if (std::getenv("FOLLOW_DEBUG")) {
        const AlignOutcome& o = fit.outcome;
        std::fprintf(stderr, "align ok %d conv %d res %.4f inl %.3f corr %.4f view %.2f dark %.3f con %.3f beyond %.3f streak %.1f n %d turn %.2f deg t %.1f %.1f %.1f -> %.1f %.1f %.1f\n", fit.ok, o.converged, o.residual, o.inlierShare, o.correlation, o.inView, o.dark, o.contrast, o.beyond, o.streak, o.samples, turnBetween(o.pose.middle, start.middle) * 57.3, start.middle.m[0][3], start.middle.m[1][3], start.middle.m[2][3], o.pose.middle.m[0][3], o.pose.middle.m[1][3], o.pose.middle.m[2][3]);
    }
    return fit;
}

FollowFit MarkerFollow::refine(long frame, const FrameImage& image, const Pose& pose,
                               double rampWidth) {
    ShutterPose start{pose, {}};
    ShutterMotion perFrame;
    FollowFit fit;
    if (frameMotion(&perFrame)) {
        start.motion = scaledMotion(perFrame, shutterShare_);
        fit = alignFrom(image, start, start.motion, limits_.smearTurnMax);
        learnShutter(fit, perFrame);
    } else {
        // No motion to go by: the smear across or along the picture, as
        // wide as the ramps; the better of the two.
        const double f = camera_.mat[0][0];
        for (int across = 0; across < 2; across++) {
            ShutterPose guess = start;
            guess.motion.turn[0] = across == 1 ? rampWidth / f : 0.0;
            guess.motion.turn[1] = across == 0 ? rampWidth / f : 0.0;
            const FollowFit tried = alignFrom(image, guess, guess.motion, limits_.smearTurnMax);
            if (across == 0 || (tried.ok && (!fit.ok || tried.outcome.residual <
                                                            fit.outcome.residual)))
                fit = tried;
        }
    }
    remember(frame, fit.ok ? fit.pose : pose);
    return fit;
}

FollowFit MarkerFollow::follow(long frame, const FrameImage& image) {
    FollowFit fit;
    if (last_[0].frame < 0 || frame - last_[0].frame > FOLLOW_GAP_MAX)
        return fit;
    ShutterPose start{last_[0].pose, {}};
    ShutterMotion perFrame;
    if (frameMotion(&perFrame)) {
        const ShutterMotion ahead = scaledMotion(perFrame, static_cast<double>(frame - last_[0].frame));
        const double d[6] = {ahead.turn[0],  ahead.turn[1],  ahead.turn[2],
                             ahead.shift[0], ahead.shift[1], ahead.shift[2]};
        start.middle = movePose(last_[0].pose, d);
        start.motion = scaledMotion(perFrame, shutterShare_);
        fit = alignFrom(image, start, start.motion, limits_.turnMax);
        learnShutter(fit, perFrame);
    } else {
        fit = alignFrom(image, start, start.motion, limits_.turnMax);
    }
    if (fit.ok)
        remember(frame, fit.pose);
    return fit;
}
