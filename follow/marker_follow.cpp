#include "follow/marker_follow.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <new>

#include "follow/cold_find.h"

namespace {

// How fast the shutter's share of a frame follows what the fits measure.
constexpr double SHARE_LEARNING = 0.3;
// How much of the change in speed over the last three frames a prediction
// carries on.
constexpr double ACCELERATION_TRUST = 0.7;
// Where a followed frame's search starts: shares of the frame's predicted
// motion further along (or back), and of the predicted streak's length.
constexpr double SPEED_SHARES[] = {0.0, -0.25, 0.25, -0.5, 0.5};
constexpr double STREAK_SHARES[] = {1.0, 0.6, 1.5};
// Where a followed frame's search starts, again and again while the fit
// fails: the prediction's own place, then a whole frame's motion back or on
// from it (the camera stopped, turned back or sped up).
constexpr double RETRY_SHARES[] = {0.0, -1.0, 1.0, -2.0};
// The same for a found marker with nothing before it, of its ramps' width.
constexpr double RAMP_SHARES[] = {1.0, 0.6, 1.5, 3.0, 5.0};
// Directions of a streak searched for, over half a turn.
constexpr int STREAK_DIRECTIONS = 8;
// A cold find is a marker smeared beyond what detection sees: streaked by
// at least this (pixels). A small marker smeared by 12 to 20 pixels may be
// lost to detection in every frame; a fit that finds less is no smear.
constexpr double COLD_STREAK_MIN = 8.0;
// A cold start whose drawing explains less of the light's variance over
// the marker's place than this share is no smeared marker: not aligned (a
// smeared marker's explains 0.4 to 0.9, a textured table's mostly under 0.2).
constexpr double COLD_EXPLAINED_MIN = 0.25;
// A cold find's fit is given up after its coarse steps when its drawing
// correlates less than this with the frame (a smeared marker's correlates
// 0.97 or more there, one that fails mostly 0.5 or less).
constexpr double COLD_COARSE_MIN = 0.9;
// A cold find's mirrored fit lying at least this far from it (degrees)
// is the other pose, not the same one found again.
constexpr double COLD_MIRROR_APART = 5.0;
// How much better a cold find's turn must match the picture inside the
// border than the other three turns.
constexpr double COLD_MARGIN = 0.2;

// How far apart two poses put the marker's middle, as a share of its
// distance in `b`.
double shiftBetween(const Pose& a, const Pose& b) {
    double apart = 0.0, distance = 0.0;
    for (int r = 0; r < 3; r++) {
        apart += (a.m[r][3] - b.m[r][3]) * (a.m[r][3] - b.m[r][3]);
        distance += b.m[r][3] * b.m[r][3];
    }
    return std::sqrt(apart / distance);
}

}  // namespace

MarkerFollow::~MarkerFollow() = default;

std::unique_ptr<MarkerFollow> MarkerFollow::create(const CameraParam& camera,
                                                   const unsigned char* cells, double width,
                                                   TransferCurve curve, bool keepsFrames) {
    std::unique_ptr<MarkerFollow> follow(new (std::nothrow) MarkerFollow());
    if (follow == nullptr)
        return nullptr;
    follow->camera_ = camera;
    follow->storage_.reset(new (std::nothrow) FollowStorage());
    if (follow->storage_ == nullptr)
        return nullptr;
    prepareFollowStorage(*follow->storage_);
    // Without room for the kept frames the follower works on, only without
    // following back.
    follow->keptBytes_ = 4L * camera.xsize * camera.ysize;
    follow->keptRoom_ =
        keepsFrames
            ? static_cast<int>(std::clamp<long>(
                  FOLLOW_BACK_BYTES / std::max(1L, follow->keptBytes_), 0, FOLLOW_BACK_FRAMES))
            : 0;
    follow->kept_.reset(new (
        std::nothrow) unsigned char[static_cast<size_t>(follow->keptRoom_ * follow->keptBytes_)]);
    if (follow->kept_ == nullptr)
        follow->keptRoom_ = 0;
    // Without room for the search, only without cold finds.
    try {
        prepareSmearRegions(follow->regions_, camera.xsize, camera.ysize);
    } catch (const std::bad_alloc&) {
        follow->regions_ = SmearRegionStorage{};
    }
    fillLinearLevels(curve, follow->storage_->light);
    drawMarkerPicture(cells, width, curve, follow->storage_->picture);
    return follow;
}

void MarkerFollow::remember(Remembered (&last)[3], long frame, const Pose& pose,
                            const ShutterMotion* motion) {
    if (last[0].frame >= 0 && last[0].frame < frame) {
        last[2] = last[1];
        last[1] = last[0];
    }
    last[0].frame = frame;
    last[0].pose = pose;
    last[0].moving = motion != nullptr;
    last[0].rampWidth = 0.0;
    last[0].skewed = false;
    if (motion != nullptr)
        last[0].motion = *motion;
}

void MarkerFollow::found(long frame, const Pose& pose) {
    remember(last_, frame, pose, nullptr);
}

void MarkerFollow::forget() {
    for (Remembered& r : last_)
        r = Remembered{};
    keptFirst_ = keptLast_ = -1;
    lastCamera_ = -1;
    forgetCold();
}

void MarkerFollow::forgetCold() {
    for (Remembered& r : cold_)
        r = Remembered{};
    coldTries_ = 0;
    coldNext_ = 0;
}

bool MarkerFollow::predictFrom(const Remembered (&last)[3], long frame, ShutterPose* start,
                               ShutterMotion* perFrame) const {
    const Remembered& a = last[0];
    const Remembered& b = last[1];
    const Remembered& c = last[2];
    if (a.frame < 0 || frame <= a.frame || frame - a.frame > FOLLOW_GAP_MAX)
        return false;
    const double ahead = static_cast<double>(frame - a.frame);
    ShutterMotion velocity{}, step{};
    if (b.frame >= 0 && a.frame - b.frame <= FOLLOW_GAP_MAX) {
        // The speed between the last two, and its change since the one before.
        velocity = scaledMotion(motionBetween(b.pose, a.pose), 1.0 / (a.frame - b.frame));
        step = scaledMotion(velocity, ahead);
        if (c.frame >= 0 && b.frame - c.frame == 1 && a.frame - b.frame == 1) {
            const ShutterMotion before = motionBetween(c.pose, b.pose);
            for (int k = 0; k < 3; k++) {
                const double turn = ACCELERATION_TRUST * (velocity.turn[k] - before.turn[k]);
                const double shift = ACCELERATION_TRUST * (velocity.shift[k] - before.shift[k]);
                step.turn[k] += turn * 0.5 * ahead * (ahead + 1.0);
                step.shift[k] += shift * 0.5 * ahead * (ahead + 1.0);
                velocity.turn[k] += turn * (ahead + 0.5);
                velocity.shift[k] += shift * (ahead + 0.5);
            }
        }
    } else if (a.moving) {
        // One frame, aligned: the speed its smear shows.
        velocity = scaledMotion(a.motion, 1.0 / shutterShare_);
        step = scaledMotion(velocity, ahead);
    }
    const double d[6] = {step.turn[0],  step.turn[1],  step.turn[2],
                         step.shift[0], step.shift[1], step.shift[2]};
    start->middle = movePose(a.pose, d);
    start->motion = scaledMotion(velocity, shutterShare_);
    *perFrame = velocity;
    return true;
}

bool MarkerFollow::predictNear(long frame, const Pose& square, ShutterPose* start,
                               ShutterMotion* perFrame) const {
    ShutterPose predicted;
    if (!predict(frame, &predicted, perFrame))
        return false;
    // Carried across frames the marker was lost in, a prediction can lose
    // the camera's way (it turns up to 25 degrees a frame): further than
    // `turnMax` from the square found now, it says nothing of its motion.
    if (frame - last_[0].frame > 1 && arPoseTurnBetween(square, predicted.middle) > limits_.turnMax)
        return false;
    *start = predicted;
    return true;
}

bool softlySmeared(const SideRamps& ramps) {
    return ramps.widest > FOLLOW_SHARP_WIDTH && ramps.widest <= FOLLOW_SMEAR_WIDTH &&
           ramps.widest - ramps.narrowest > FOLLOW_RAMP_SPREAD;
}

bool softAllRound(const SideRamps& ramps) {
    return ramps.widest > FOLLOW_SMEAR_WIDTH &&
           !(ramps.widest > FOLLOW_SMEAR_RATIO * ramps.narrowest);
}

double MarkerFollow::unalignedSquareTurn(const SideRamps& ramps, bool skewed) const {
    // A square smeared along its motion whose drawing would not align, far
    // from where the frames before put the marker (refuseTurn): its smear
    // has skewed it. Sides widened alike may be a soft lens or noise, which
    // leave the square as it is, or a smear along its diagonal, which skews
    // it; and sharp sides may mean the camera stopped where the frames
    // before say it moves on. Such squares are refused only when turned
    // further than the frames' motion can miss by (turnMax): then they are
    // another dark square taken for the marker, or its corners misplaced.
    return skewed && !softAllRound(ramps) ? limits_.refuseTurn : limits_.turnMax;
}

bool loneSquareSkewed(const SideRamps& ramps, double cornerError) {
    // With nothing before it to compare with, a smeared square whose
    // drawing would not align has only its corners to vouch for it: missing
    // the marker's shape, they say the smear has skewed it (a soft lens or
    // noise, whatever the ramps, leaves a square's corners on its shape).
    return ramps.widest > FOLLOW_SMEAR_WIDTH && cornerError > FOLLOW_SKEWED_ERROR;
}

bool MarkerFollow::smeared(long frame, const Pose& pose, const SideRamps& ramps) const {
    if (ramps.widest > FOLLOW_SMEAR_WIDTH || softlySmeared(ramps))
        return true;
    ShutterPose expected;
    ShutterMotion perFrame;
    // A marker found with nothing before it to say how it moves: a small
    // one's ramps may be too short to show its smear.
    if (!predict(frame, &expected, &perFrame))
        return true;
    // Not on footage whose frames a fast camera has been seen to leave sharp
    // (a short shutter), unless smears have shown the shutter since.
    if (shortShutter_ && !shutterSeen_)
        return false;
    expected.middle = pose;
    return shutterStreak(expected, camera_.mat, storage_->picture.width) > FOLLOW_SMEAR_WIDTH;
}

bool MarkerFollow::wrongPoseOfTwo(long frame, const Pose& pose) const {
    ShutterPose predicted;
    ShutterMotion perFrame;
    if (frame - last_[0].frame != 1 || !predict(frame, &predicted, &perFrame))
        return false;
    return arPoseTurnBetween(pose, predicted.middle) > limits_.smearTurnMax &&
           arPoseTurnBetween(mirroredPose(pose), predicted.middle) <= limits_.turnMax;
}

bool MarkerFollow::movedFrom(long frame, const Pose& pose) const {
    ShutterPose predicted;
    ShutterMotion perFrame;
    if (!predict(frame, &predicted, &perFrame))
        return false;
    // Turned in place (an orbit about a small marker moves its corners
    // little), the held camera stands as far off as the turn.
    if (arPoseTurnBetween(pose, predicted.middle) > limits_.refuseTurn)
        return true;
    // The way from `pose` to the prediction, as a motion over a shutter.
    const ShutterPose way{poseInShutter({pose, motionBetween(pose, predicted.middle)}, 0.5),
                          motionBetween(pose, predicted.middle)};
    if (shutterStreak(way, camera_.mat, storage_->picture.width) > FOLLOW_HELD_SHIFT)
        return true;
    // A camera turning back moves the marker little between the last two
    // frames; the last one's smear still shows how fast it went, whichever
    // way (a frame's motion is the streak over the shutter's share).
    // A smeared square that would not align shows it by its ramps' width.
    const Remembered& a = last_[0];
    const double streak =
        a.moving ? shutterStreak({a.pose, a.motion}, camera_.mat, storage_->picture.width)
                 : a.rampWidth;
    return (frame - a.frame) * streak / shutterShare_ > FOLLOW_HELD_SHIFT;
}

void MarkerFollow::learnShutter(const FollowFit& fit, const ShutterMotion& perFrame) {
    const double expectedStreak =
        shutterStreak({fit.pose, perFrame}, camera_.mat, storage_->picture.width);
    if (fit.ok && expectedStreak > FOLLOW_SMEAR_WIDTH) {
        const double share = std::fmin(1.0, fit.outcome.streak / expectedStreak);
        shutterShare_ += SHARE_LEARNING * (share - shutterShare_);
    }
}

bool MarkerFollow::matchesAsFound(const AlignOutcome& o) const {
    return o.residual <= limits_.residualMax && o.inlierShare >= limits_.inlierShareMin &&
           o.correlation >= limits_.correlationMin;
}

bool MarkerFollow::matchesAsSmeared(const AlignOutcome& o) const {
    return o.correlation >= limits_.closeCorrelation && o.pictureMatch >= limits_.closePictureMatch;
}

bool MarkerFollow::unevenlyLit(const AlignOutcome& o) const {
    return !matchesAsFound(o) && o.correlation >= limits_.unevenCorrelationMin &&
           o.inView >= limits_.inViewMin;
}

bool MarkerFollow::drawnElsewhere(const AlignOutcome& o, const Pose& square) const {
    // Near the square's mirror, the drawing says only which of its two poses
    // the square lies on, which the frames after may settle.
    return o.correlation >= limits_.unevenCorrelationMin &&
           o.pictureMatch >= limits_.closePictureMatch &&
           arPoseTurnBetween(o.pose.middle, square) > limits_.elsewhereTurn &&
           arPoseTurnBetween(o.pose.middle, mirroredPose(square)) > limits_.elsewhereTurn;
}

bool MarkerFollow::acceptable(const AlignOutcome& o, const Pose& start, double turnMax) const {
    const double paper = o.dark + o.contrast;
    return o.converged && matchesAsFound(o) && o.pictureMatch >= limits_.pictureMatchMin &&
           o.inView >= limits_.inViewMin && o.streak < limits_.streakSideMax * o.side &&
           o.contrast > 0.0 && o.contrast >= limits_.paperShareMin * paper &&
           arPoseTurnBetween(o.pose.middle, start) <= turnMax;
}

bool withinRetryReach(const Pose& fitted, const Pose& start, const Pose& predicted,
                      const ShutterMotion& perFrame, const FollowLimits& limits) {
    return arPoseTurnBetween(fitted, start) <=
           arPoseTurnBetween(start, predicted) + turnAngle(perFrame) + limits.retryTurnMargin;
}

void judgeSquare(FollowFit& fit, const Pose& square, const SideRamps& ramps,
                 const FollowLimits& limits) {
    const AlignOutcome& o = fit.outcome;
    const double turn = arPoseTurnBetween(o.pose.middle, square);
    const bool clean = o.residual <= limits.cleanResidual && o.inlierShare >= limits.cleanInliers;
    const bool agrees = turn <= limits.agreeTurn &&
                        shiftBetween(o.pose.middle, square) <= limits.agreeShift &&
                        !softlySmeared(ramps);
    if (agrees) {
        fit.pose = square;
        return;
    }
    // A square soft all round that matched only under sloping light is
    // judged as a narrow one: the drawing stands for any blur by a smear,
    // and the light's slopes can hide the difference.
    const bool smearedSquare = ramps.widest > FOLLOW_SMEAR_WIDTH &&
                               !(o.light == LightModel::Sloped && softAllRound(ramps));
    if (clean || smearedSquare)
        return;
    if (turn <= limits.doubtTurn) {
        fit.pose = square;
    } else {
        // Light sloping across the marker can stand for a tilt: such a fit
        // does not vouch against the square (narrow-ramped, or soft all
        // round), which is kept.
        fit.ok = false;
        fit.refused = turn > limits.refuseTurn && o.light == LightModel::Even;
    }
}

FollowFit MarkerFollow::alignFrom(const FrameImage& image, const ShutterPose& start,
                                  const ShutterMotion& expected, double turnMax, double coarseMin) {
    FollowFit fit = alignLit(LightModel::Even, image, start, expected, turnMax, coarseMin);
    // Light falling unevenly over the marker (a lamp to one side) leaves an
    // evenly lit drawing short of a frame that it otherwise matches: the
    // marker is drawn again under light sloping across it.
    if (!fit.ok && unevenlyLit(fit.outcome)) {
        const FollowFit sloped =
            alignLit(LightModel::Sloped, image, start, expected, turnMax, coarseMin);
        if (sloped.ok && matchesAsSmeared(sloped.outcome) &&
            sloped.outcome.lightSlope >= limits_.unevenSlopeMin)
            fit = sloped;
    }
    return fit;
}

FollowFit MarkerFollow::alignLit(LightModel light, const FrameImage& image,
                                 const ShutterPose& start, const ShutterMotion& expected,
                                 double turnMax, double coarseMin) {
    FollowFit fit;
    fit.outcome = alignMarker(*storage_, camera_, image, start, expected, coarseMin, light);
    fit.pose = fit.outcome.pose.middle;
    fit.ok = acceptable(fit.outcome, start.middle, turnMax);
    return fit;
}

ShutterPose MarkerFollow::streakSearch(const FrameImage& image, const Pose& pose, double width) {
    // No motion to go by: the streak, about as long as the ramps are wide
    // or some times longer (a small marker's ramps are cut short), that
    // matches best, in eight directions across the picture (the camera
    // turning about its x or y axis sweeps it along y or x).
    ShutterPose candidates[std::size(RAMP_SHARES) * STREAK_DIRECTIONS];
    int count = 0;
    const double f = camera_.mat[0][0];
    for (const double share : RAMP_SHARES) {
        for (int direction = 0; direction < STREAK_DIRECTIONS; direction++) {
            const double angle = M_PI * direction / STREAK_DIRECTIONS;
            ShutterPose& c = candidates[count++];
            c = ShutterPose{pose, {}};
            c.motion.turn[0] = -share * width * std::sin(angle) / f;
            c.motion.turn[1] = share * width * std::cos(angle) / f;
        }
    }
    return candidates[bestCandidate(*storage_, camera_, image, candidates, count)];
}

FollowFit MarkerFollow::alignDoubted(long frame, const FrameImage& image, const Pose& pose,
                                     double width) {
    FollowFit fit = alignStreakSearched(image, pose, width);
    fit.ok = fit.ok && fit.outcome.streak > FOLLOW_SMEAR_WIDTH && matchesAsSmeared(fit.outcome);
    if (fit.ok)
        remember(last_, frame, fit.pose, &fit.outcome.pose.motion);
    return fit;
}

FollowFit MarkerFollow::alignStreakSearched(const FrameImage& image, const Pose& pose,
                                            double width) {
    const ShutterPose start = streakSearch(image, pose, width);
    return alignFrom(image, start, start.motion, limits_.smearTurnMax);
}

FollowFit MarkerFollow::alignEitherPose(const FrameImage& image, const Pose& square, double width) {
    FollowFit fit = alignStreakSearched(image, square, width);
    FollowFit mirror = alignStreakSearched(image, mirroredPose(square), width);
    // Light sloping across the marker can stand for a tilt, and the two
    // poses differ by one: each is weighed lit as the other was.
    relitAlike(image, mirror, fit);
    relitAlike(image, fit, mirror);
    const bool mirrorMatchesBetter = mirror.ok && matchesAsSmeared(mirror.outcome) &&
                                     (!fit.ok || mirror.outcome.residual < fit.outcome.residual);
    return mirrorMatchesBetter ? mirror : fit;
}

void MarkerFollow::relitAlike(const FrameImage& image, const FollowFit& sloped, FollowFit& even) {
    if (!sloped.ok || sloped.outcome.light != LightModel::Sloped ||
        even.outcome.light != LightModel::Even)
        return;
    const ShutterPose& from = even.outcome.pose;
    const FollowFit relit =
        alignLit(LightModel::Sloped, image, from, from.motion, limits_.smearTurnMax, -1.0);
    if (relit.ok && matchesAsSmeared(relit.outcome) &&
        (!even.ok || relit.outcome.residual < even.outcome.residual))
        even = relit;
}

FollowFit MarkerFollow::refine(long frame, const FrameImage& image, const Pose& pose,
                               const SideRamps& ramps, double cornerError, bool interrupted) {
    ShutterPose start{pose, {}};
    ShutterMotion perFrame;
    FollowFit fit;
    const bool predicted = predictNear(frame, pose, &start, &perFrame);
    const Pose expectedPose = start.middle;
    start.middle = pose;
    // A prediction from a single frame found sharp knows where the marker
    // was, not how it moves: its motion is none, from which the alignment
    // cannot grow a streak (a smear is alike either way along it).
    if (!isStill(start.motion)) {
        fit = alignFrom(image, start, start.motion, limits_.smearTurnMax);
    } else {
        fit = predicted ? alignStreakSearched(image, pose, ramps.widest)
                        : alignEitherPose(image, pose, ramps.widest);
    }
    // A fit that finds the marker hardly streaked leaves its found pose
    // (the sides measure a sharp or evenly blurred marker better), unless
    // the sides say it is softly smeared, or one of them was interrupted.
    fit.ok =
        fit.ok && (fit.outcome.streak > FOLLOW_SMEAR_WIDTH || softlySmeared(ramps) || interrupted);
    // A fit that strays as far from where the frames before put the marker
    // as it may from the square it started on followed a skewed square
    // further: it vouches for nothing, and the square is judged as one
    // whose drawing would not align, however narrow its ramps. So is a
    // square whose corners miss the marker's shape.
    const bool strayed =
        fit.ok && predicted &&
        arPoseTurnBetween(fit.outcome.pose.middle, expectedPose) > limits_.smearTurnMax;
    fit.ok = fit.ok && !strayed;
    const bool skewed =
        ramps.widest > FOLLOW_SMEAR_WIDTH || strayed || cornerError > FOLLOW_SKEWED_ERROR;
    if (fit.ok)
        judgeSquare(fit, pose, ramps, limits_);
    else if (predicted)
        fit.refused = arPoseTurnBetween(pose, expectedPose) > unalignedSquareTurn(ramps, skewed);
    else
        fit.refused = loneSquareSkewed(ramps, cornerError) || drawnElsewhere(fit.outcome, pose);
    if (predicted) {
        // Only a smear measures the shutter; a marker the motion said was
        // smeared and found sharp says the shutter is short.
        if (fit.ok)
            learnShutter(fit, perFrame);
        shutterSeen_ = shutterSeen_ || (fit.ok && ramps.widest > FOLLOW_SMEAR_WIDTH);
        shortShutter_ = shortShutter_ || (!fit.ok && ramps.widest <= FOLLOW_SMEAR_WIDTH);
    }
    // The frames after go on from the aligned pose, whose motion was fitted
    // with it; never from a refused square.
    if (!fit.refused) {
        remember(last_, frame, fit.ok ? fit.outcome.pose.middle : pose,
                 fit.ok ? &fit.outcome.pose.motion : nullptr);
        if (!fit.ok) {
            last_[0].rampWidth = ramps.widest;
            last_[0].skewed = cornerError > FOLLOW_SKEWED_ERROR;
        }
    }
    return fit;
}

FollowFit MarkerFollow::follow(long frame, const FrameImage& image) {
    return followFrom(last_, frame, image);
}

double MarkerFollow::predictedInView(long frame) const {
    ShutterPose predicted;
    ShutterMotion perFrame;
    if (!predict(frame, &predicted, &perFrame))
        return 0.0;
    return shareInView(camera_, predicted.middle, storage_->picture.width);
}

FollowFit MarkerFollow::followCold(long frame, const FrameImage& image) {
    if (lastCamera_ >= 0 && frame - lastCamera_ > FOLLOW_BACK_WINDOW)
        return FollowFit{};
    if (const FollowFit fit = followFrom(cold_, frame, image); fit.ok)
        return fit;
    if (coldTries_ >= COLD_TRIES || frame < coldNext_)
        return FollowFit{};
    const FollowFit fit = coldFind(image);
    // Only searches that find nothing count, each spacing out the next
    // twice as far: 1, 2, 4 ... frames.
    coldTries_ = fit.ok ? 0 : coldTries_ + 1;
    coldNext_ = fit.ok ? 0 : frame + (1L << (coldTries_ - 1));
    if (fit.ok) {
        // The frames found cold before, too far to predict from, say
        // nothing of it.
        for (Remembered& c : cold_)
            c = Remembered{};
        remember(cold_, frame, fit.pose, &fit.outcome.pose.motion);
    }
    return fit;
}

FollowFit MarkerFollow::coldFind(const FrameImage& image) {
    SmearRegion regions[SMEAR_REGION_MAX];
    const int count = findSmearRegions(regions_, image, regions);
    // Two bands along the same smear, as long as each other and a side
    // apart, are the border's two sides along it: the square lies between
    // them. A band alone may have the square on either side.
    double inwards[2] = {1.0, -1.0};
    int ways = 2;
    if (count == 2 && borderSides(regions[0], regions[1], &inwards[0]))
        ways = 1;
    for (int r = 0; r < (ways == 1 ? 1 : count); r++) {
        for (int w = 0; w < ways; w++) {
            if (const FollowFit fit = coldFindAt(image, regions[r], inwards[w]); fit.ok)
                return fit;
        }
    }
    return FollowFit{};
}

FollowFit MarkerFollow::coldFindAt(const FrameImage& image, const SmearRegion& region,
                                   double inwards) {
    ShutterPose starts[COLD_START_MAX];
    const int count = coldStarts(region, inwards, camera_, storage_->picture.width, starts);
    double explained = 0.0;
    const int best = bestCandidate(*storage_, camera_, image, starts, count, &explained);
    if (explained < COLD_EXPLAINED_MIN)
        return FollowFit{};
    FollowFit fit = alignCold(image, starts[best], COLD_COARSE_MIN);
    if (!fit.ok)
        return fit;
    // A smeared square's tilt either way about the line of sight may look
    // alike: the mirrored pose is aligned too, and taken when it lands
    // elsewhere and matches more closely, the two weighed under the same
    // light.
    FollowFit mirrored =
        alignCold(image, {mirroredPose(fit.outcome.pose.middle), fit.outcome.pose.motion});
    relitAlike(image, mirrored, fit);
    relitAlike(image, fit, mirrored);
    fit.ok = fit.outcome.streak >= COLD_STREAK_MIN;
    mirrored.ok = mirrored.ok && mirrored.outcome.streak >= COLD_STREAK_MIN;
    if (mirrored.ok && mirrored.outcome.residual < fit.outcome.residual &&
        arPoseTurnBetween(mirrored.pose, fit.pose) > COLD_MIRROR_APART * M_PI / 180.0)
        fit = mirrored;
    // The picture inside the border must match this turn clearly better
    // than the other three: aligned from the same place turned by quarter
    // turns in the marker's plane.
    for (int quarters = 1; quarters < 4; quarters++) {
        const ShutterPose turned{quarterTurned(fit.outcome.pose.middle, quarters),
                                 fit.outcome.pose.motion};
        const FollowFit other = alignCold(image, turned);
        if (other.outcome.pictureMatch > fit.outcome.pictureMatch - COLD_MARGIN) {
            fit.ok = false;
            break;
        }
    }
    return fit;
}

FollowFit MarkerFollow::alignCold(const FrameImage& image, const ShutterPose& start,
                                  double coarseMin) {
    FollowFit fit = alignFrom(image, start, start.motion, limits_.smearTurnMax, coarseMin);
    // A fit that ran out of steps while matching closely goes on from there.
    if (!fit.outcome.converged && fit.outcome.pictureMatch >= limits_.closePictureMatch)
        fit = alignFrom(image, fit.outcome.pose, fit.outcome.pose.motion, limits_.smearTurnMax);
    fit.ok = fit.ok && fit.outcome.streak >= COLD_STREAK_MIN && matchesAsSmeared(fit.outcome);
    return fit;
}

FollowFit MarkerFollow::followFrom(Remembered (&last)[3], long frame, const FrameImage& image) {
    FollowFit fit;
    ShutterPose predicted;
    ShutterMotion perFrame;
    // Nothing to predict from, or only two skewed squares to say how it moves.
    if (!predictFrom(last, frame, &predicted, &perFrame) || (last[0].skewed && last[1].skewed))
        return fit;
    const bool back = &last != &last_;  // followed back, or cold
    for (const double offset : RETRY_SHARES) {
        const ShutterPose start = bestStart(image, predicted, perFrame, offset);
        fit = alignFrom(image, start, start.motion, limits_.turnMax);
        // A second chance (a start away from the prediction, time reversed,
        // or from frames found cold) must match as closely as a smeared
        // marker's drawing; from a start away from the prediction, it must
        // also land within that start's reach.
        if (back || offset != 0.0)
            fit.ok = fit.ok && matchesAsSmeared(fit.outcome);
        if (offset != 0.0)
            fit.ok = fit.ok &&
                     withinRetryReach(fit.pose, start.middle, predicted.middle, perFrame, limits_);
        if (fit.ok)
            break;
    }
    if (!back)
        learnShutter(fit, perFrame);
    if (fit.ok)
        remember(last, frame, fit.pose, &fit.outcome.pose.motion);
    return fit;
}

ShutterPose MarkerFollow::bestStart(const FrameImage& image, const ShutterPose& predicted,
                                    const ShutterMotion& perFrame, double offset) {
    // The speed is the least sure of the prediction: places along the way
    // and streak lengths about it, the best to start from.
    ShutterPose candidates[std::size(SPEED_SHARES) * std::size(STREAK_SHARES)];
    int count = 0;
    for (const double along : SPEED_SHARES) {
        for (const double streak : STREAK_SHARES) {
            const ShutterMotion move = scaledMotion(perFrame, along + offset);
            const double d[6] = {move.turn[0],  move.turn[1],  move.turn[2],
                                 move.shift[0], move.shift[1], move.shift[2]};
            candidates[count++] = {movePose(predicted.middle, d),
                                   scaledMotion(predicted.motion, streak)};
        }
    }
    return candidates[bestCandidate(*storage_, camera_, image, candidates, count)];
}

void MarkerFollow::lost(long frame, const FrameImage& image, bool cold) {
    if (lastCamera_ < 0)
        lastCamera_ = frame;
    // Long after the last camera (the marker out of view) the copies would
    // cost every frame for little.
    if (keptRoom_ == 0 || static_cast<long>(image.width) * image.height * 4 != keptBytes_ ||
        frame - lastCamera_ > FOLLOW_BACK_WINDOW) {
        keptFirst_ = keptLast_ = -1;
        return;
    }
    if (keptLast_ < 0 || frame != keptLast_ + 1)
        keptFirst_ = frame;
    keptLast_ = frame;
    keptFirst_ = std::max(keptFirst_, keptLast_ - keptRoom_ + 1);
    std::memcpy(kept_.get() + (frame % keptRoom_) * keptBytes_, image.pixels,
                static_cast<size_t>(keptBytes_));
    keptCold_[frame % keptRoom_] = cold;
}

FrameImage MarkerFollow::keptFrame(long frame) {
    return FrameImage{kept_.get() + (frame % keptRoom_) * keptBytes_, camera_.xsize, camera_.ysize};
}

int MarkerFollow::followBack(long frame, BackFollow* out) {
    lastCamera_ = frame;
    forgetCold();
    if (keptLast_ < 0)
        return 0;
    if (keptLast_ == frame - 1) {
        // The first frame after the kept ones: from it alone when its smear
        // shows how it moves; they stay kept for the next frame.
        return last_[0].frame == frame && last_[0].moving ? followBackFrom(last_, frame, 1, out)
                                                          : 0;
    }
    const bool twoAfter =
        keptLast_ == frame - 2 && last_[0].frame == frame && last_[1].frame == frame - 1;
    const int taken = twoAfter ? followBackFrom(last_, frame, 2, out) : 0;
    keptFirst_ = keptLast_ = -1;
    return taken;
}

int MarkerFollow::followBackCold(long frame, BackFollow* out) {
    // Frames kept right before it, and not let go: the next camera may
    // still follow back into them.
    if (keptLast_ < 0 || keptLast_ != frame - 1 || cold_[0].frame != frame)
        return 0;
    int taken = cold_[0].moving ? followBackFrom(cold_, frame, 1, out) : 0;
    // The marker is about: the kept frames right before it that no cold
    // find nor that took are searched, the latest first, until one gives
    // nothing.
    for (long n = frame - 1; n >= keptFirst_; n--) {
        if (keptCold_[n % keptRoom_] ||
            std::any_of(out, out + taken, [n](const BackFollow& b) { return b.frame == n; }))
            continue;
        const FollowFit fit = coldFind(keptFrame(n));
        if (!fit.ok)
            break;
        out[taken++] = {n, fit};
    }
    // What was taken is found cold now: not searched again.
    for (int k = 0; k < taken; k++)
        keptCold_[out[k].frame % keptRoom_] = true;
    return taken;
}

int MarkerFollow::followBackFrom(const Remembered (&from)[3], long frame, int after,
                                 BackFollow* out) {
    // Time reversed about this frame: frame n is counted as 2 frame - n, so
    // the frames after the kept ones come before them, this one first, and
    // the motion over the shutter runs the other way.
    const auto mirrored = [frame](long n) { return 2 * frame - n; };
    Remembered back[3];
    for (int k = 0; k < after; k++) {
        const ShutterMotion motion = scaledMotion(from[k].motion, -1.0);
        remember(back, mirrored(from[k].frame), from[k].pose, from[k].moving ? &motion : nullptr);
    }
    int taken = 0;
    for (long n = keptLast_; n >= keptFirst_; n--) {
        const FollowFit fit = followFrom(back, mirrored(n), keptFrame(n));
        if (fit.ok)
            out[taken++] = {n, fit};
    }
    return taken;
}
