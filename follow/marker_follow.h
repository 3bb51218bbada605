#pragma once

#include <cmath>
#include <memory>
#include <vector>

#include "camera/camera_param.h"
#include "follow/direct_align.h"
#include "follow/shutter_motion.h"
#include "follow/smear_region.h"
#include "image/frame_image.h"
#include "image/transfer_curve.h"

// A found marker whose sides' ramps are wider than this (pixels) is smeared:
// its pose is aligned on the frame's light. So is one whose corners the
// motion of the frames before says streak further than this over the
// shutter (a side along the motion, or a turn about the marker, leaves the
// ramps narrow).
inline constexpr double FOLLOW_SMEAR_WIDTH = 4.0;
// A found marker whose sides' ramps are no wider than this (pixels) is
// sharp.
inline constexpr double FOLLOW_SHARP_WIDTH = 2.2;
// A marker whose widest ramp is wider than this (pixels) beyond its
// narrowest is smeared unevenly: a smear widens the sides across the
// motion, a soft lens all sides alike.
inline constexpr double FOLLOW_RAMP_SPREAD = 0.5;
// A smeared marker's widest ramp at least this many times its narrowest is
// smeared along its motion; one whose ramps are more alike is soft (a lens
// out of focus, noise) whatever their width.
inline constexpr double FOLLOW_SMEAR_RATIO = 1.3;

// A found marker whose corners miss the marker's square by more than this
// (pixels, root mean square) is skewed however narrow its sides' ramps: a
// side in shadow can hide a smear from them. A sharp square's corners fit
// within a fraction of a pixel.
inline constexpr double FOLLOW_SKEWED_ERROR = 2.0;

// The grey ramps across a found marker's sides (pixels, each side's median).
struct SideRamps {
    double widest = 0.0;
    double narrowest = 0.0;
};

// Whether a marker is smeared a little: its ramps no wider than
// FOLLOW_SMEAR_WIDTH, yet wider than a sharp edge's and unevenly so. Such a
// smear (a few pixels, or one folded where the camera turns back) moves the
// ramps' middles off the edges by more than its alignment misses them: it is
// aligned however short its streak, and the alignment taken when it matches
// cleanly.
bool softlySmeared(const SideRamps& ramps);
// Whether a marker's ramps are wide but alike on every side: a lens out of
// focus, or noise, rather than a smear along its motion.
bool softAllRound(const SideRamps& ramps);

// A held marker whose predicted place lies further than this (pixels) away
// is dropped.
inline constexpr double FOLLOW_HELD_SHIFT = 8.0;
// Most frames after the last one with a pose that a pose is predicted for.
inline constexpr int FOLLOW_GAP_MAX = 3;
// Most frames without the marker kept to follow back into; fewer when the
// frames are so large that these would take more than FOLLOW_BACK_BYTES
// (8 at 1920 x 1080, one at 4K, none beyond). Only the frames actually kept
// take memory.
inline constexpr int FOLLOW_BACK_FRAMES = 16;
inline constexpr long FOLLOW_BACK_BYTES = 64L << 20;
// Frames without a camera are kept only this many frames after the last
// one with a camera (or the first frame, or the first after a gap).
inline constexpr long FOLLOW_BACK_WINDOW = 30;
// Most cold searches in a row that find nothing (MarkerFollow::followCold)
// between two frames with a camera: a stretch without the marker costs a
// few searches, not one a frame.
inline constexpr int COLD_TRIES = 4;

// What an alignment must reach to be taken (a found marker's fit reaches
// it; a drawing laid on the wrong place, or on a frame without the marker,
// does not).
struct FollowLimits {
    double residualMax = 0.15;     // weighted root mean square difference, share of the contrast
    double inlierShareMin = 0.70;  // of the samples on the marker
    double correlationMin = 0.95;  // between the drawing and the frame
    double pictureMatchMin = 0.5;  // the same on the picture alone, every sample counted
    double inViewMin = 0.5;        // share of the square in the frame
    double paperShareMin = 0.5;    // the contrast's share of the paper's light
    double turnMax = 0.35;         // radians from the predicted pose it started from
    double smearTurnMax = 0.8;     // radians from a smeared marker's pose (its square is skewed)
    // A streak about as long as the square's side: along it, a square W
    // long smeared L far looks like one L long smeared W far (its ink
    // lighter), so the fit can trade the square's size for the streak's and
    // stand degrees off. A fit streaked this share of the side or more is
    // not taken.
    double streakSideMax = 0.9;
    // An evenly lit drawing that correlates this well but no better may be
    // the marker under uneven light (see MarkerFollow::unevenlyLit); drawn
    // under sloping light, a second chance, it is taken under the closer
    // match below, and only where the paper's light changes across the
    // marker by this share of the contrast or more (over the samples'
    // spread). Elsewhere the slopes only hide what else differs (a smear
    // longer than the drawing's, heavy compression).
    double unevenCorrelationMin = 0.7;
    double unevenSlopeMin = 0.15;
    // A smeared marker's square that its alignment lies within `agreeTurn`
    // of keeps its pose: its ramps' middles measure the edges more closely
    // than the drawing, which knows the picture only as cells (not so for a
    // softly smeared square, see softlySmeared). A square with wide ramps
    // is replaced by its alignment however cleanly that matches: a noisy
    // frame, or a smear folded where the camera turns back, which the
    // drawing's straight-line motion matches less cleanly, moves its ramps'
    // middles further. A narrow-ramped square (the marker may be sharp and
    // the motion the frames before predicted wrong) keeps its pose against
    // an alignment that matches less cleanly than a smeared marker's
    // (residual above `cleanResidual` or fewer than `cleanInliers` of the
    // samples counting): within `doubtTurn` the fit still stands for the
    // motion, beyond it the fit is dropped, and beyond `refuseTurn` the
    // square gives no camera at all (unless the fit was drawn under sloping
    // light, whose slopes can stand for a tilt).
    double agreeTurn = 0.5 * M_PI / 180.0;
    // ... and puts the marker's middle within this share of its distance
    // of the square's: a square turned alike may still be shrunk by the
    // smear and stand a few percent too far.
    double agreeShift = 0.005;
    double doubtTurn = 1.5 * M_PI / 180.0;
    double refuseTurn = 5.0 * M_PI / 180.0;
    double cleanResidual = 0.07;
    double cleanInliers = 0.90;
    // A frame followed less cleanly than `cleanResidual` gives way to a fit
    // followed back into it that matches cleanly and leaves at most this
    // share of its residual: one a little cleaner may be no nearer (where
    // something over the marker keeps both loose).
    double looseGiveWay = 0.6;
    // What a fit from a second start (away from the prediction, or
    // following back) must reach besides: the drawing matching the frame as
    // closely as a smeared marker's does.
    double closeCorrelation = 0.97;
    double closePictureMatch = 0.8;
    // A start moved a frame's motion or two away from the prediction is
    // there for a camera that sped up, slowed down or turned back: its fit
    // may land as far from the start as the start lies from the prediction,
    // and a frame's turn more (the speed itself misjudged), but one that
    // turned further than that, by more than this, went elsewhere (a
    // smear's length traded for the marker's size can match as closely as
    // the marker does).
    double retryTurnMargin = 5.0 * M_PI / 180.0;
    // A square with no frame before it whose drawing, aligned from it,
    // comes to match the picture inside the border as closely as a second
    // start's must, and the frame at least `unevenCorrelationMin`, more
    // than this far from it and from its mirror (mirroredPose), yet not
    // closely enough to be taken: the frame says the marker lies elsewhere,
    // and the square is refused (a small marker under a hard shadow's edge,
    // in noise: squares 13 to 23 degrees off, their drawings' fits 7 to
    // 10).
    double elsewhereTurn = 10.0 * M_PI / 180.0;
};

// A followed or aligned pose: `ok` when the alignment was taken.
struct FollowFit {
    bool ok = false;
    Pose pose{};
    AlignOutcome outcome{};
    // A found square that neither its alignment nor its sides can vouch for
    // (see FollowLimits::refuseTurn): the frame gives no camera.
    bool refused = false;
};

// A frame followed back into: its number and the fit taken.
struct BackFollow {
    long frame = -1;
    FollowFit fit{};
};

// Decides between a smeared marker's `square`, its sides' `ramps`, and its
// alignment `fit` (taken) under `limits`: the pose kept, or the frame
// refused (see FollowLimits::agreeTurn).
void judgeSquare(FollowFit& fit, const Pose& square, const SideRamps& ramps,
                 const FollowLimits& limits);

// Whether a smeared square (its sides' `ramps`) whose drawing would not
// align, found with no frame before it to say where the marker lies, is
// skewed past use: its corners miss the marker's shape by more than
// FOLLOW_SKEWED_ERROR (`cornerError`, pixels). Such a square gives no camera.
bool loneSquareSkewed(const SideRamps& ramps, double cornerError);

// Whether a pose `fitted` from a second `start` (see
// FollowLimits::retryTurnMargin) lies within its reach of the `predicted`
// pose, the frames' motion being `perFrame`.
bool withinRetryReach(const Pose& fitted, const Pose& start, const Pose& predicted,
                      const ShutterMotion& perFrame, const FollowLimits& limits);

// Follows the marker where detection cannot see it, or sees it smeared: the
// marker (its known picture, border and white margin) is drawn as the camera
// would see it, averaged along the motion over the shutter, and the pose
// and the motion are fitted so that the drawing matches the frame's light
// (alignMarker). The pose to start from comes from the frames before:
// the last one's, moved on at the speed between the last two. Its storage is
// allocated once, at creation.
class MarkerFollow {
  public:
    // A follower for frames of `camera`'s size and a marker `width` wide
    // whose picture is `cells` (see drawMarkerPicture); the frames' levels
    // encode light through `curve`. Without `keepsFrames` it has no room
    // for frames to follow back into (lost() keeps none). Null when storage
    // cannot be had.
    static std::unique_ptr<MarkerFollow> create(const CameraParam& camera,
                                                const unsigned char* cells, double width,
                                                TransferCurve curve, bool keepsFrames = true);
    ~MarkerFollow();

    // Whether frame `frame`'s marker, found with `pose` and sides' `ramps`,
    // is to be aligned (refine): smeared (see FOLLOW_SMEAR_WIDTH and
    // softlySmeared), or found with no frames before it to say how it moves.
    bool smeared(long frame, const Pose& pose, const SideRamps& ramps) const;
    // Whether a marker found with `pose` in frame `frame`, right after a
    // frame with a pose, lies further than `smearTurnMax` from where that
    // frame's motion puts it while its mirror (mirroredPose) lies within
    // `turnMax` of there: the fit took the wrong one of the two poses.
    bool wrongPoseOfTwo(long frame, const Pose& pose) const;
    // Frame `frame`'s marker was found and its pose fitted, sharp: it is
    // remembered for the frames after it.
    void found(long frame, const Pose& pose);
    // Frame `frame`'s marker was found smeared (its sides' `ramps`) with
    // `pose`: aligns from it, and remembers what it takes. `ok` when
    // the frame's pose is vouched for: aligned, or the square's own when the
    // alignment agrees with it (see FollowLimits::agreeTurn); `refused` when
    // the square is not to be kept either.
    // `cornerError` is how far the square's corners miss the fitted pose
    // (pixels, root mean square; 0 when not known). A square with an
    // `interrupted` side is aligned however sharp: its alignment is taken as
    // a smeared square's, streaked or not.
    FollowFit refine(long frame, const FrameImage& image, const Pose& pose, const SideRamps& ramps,
                     double cornerError = 0.0, bool interrupted = false);
    // Frame `frame`'s marker was seen only as a square that detection
    // doubted (its corners off its outline, as a heavy smear rounds them;
    // or a patch of texture), at `pose`, `width` pixels off: aligns from it,
    // searching for the streak as with no frame before, and takes only a
    // fit that finds it smeared and matches as closely as a smeared
    // marker's drawing does; remembers what it takes.
    FollowFit alignDoubted(long frame, const FrameImage& image, const Pose& pose, double width);
    // Frame `frame` without the marker: aligns from the predicted pose, when
    // the frames before give one.
    FollowFit follow(long frame, const FrameImage& image);
    // The share of the marker inside frame `frame` where the frames before
    // predict it; 0 when they predict nothing.
    double predictedInView(long frame) const;
    // Frame `frame` left without a camera by all else, within
    // FOLLOW_BACK_WINDOW of the last camera: followed from the frames found
    // cold before it, or, failing that, searched cold for a marker smeared
    // beyond detection (see coldFind): at most COLD_TRIES searches in a row
    // that find nothing, each further from the last.
    // What it finds stays apart from the frames before: nothing else is
    // followed from it, and the frame is still kept to follow back into
    // (lost), whose fit takes its place.
    FollowFit followCold(long frame, const FrameImage& image);
    // Frame `frame` was just found cold (followCold): follows back from it
    // into the frames kept right before it, as followBack does from a
    // camera, and searches those not found cold, the latest first, until
    // one gives nothing; the fits taken go to `out`, their count is
    // returned. The frames stay kept for the next camera.
    int followBackCold(long frame, BackFollow* out);
    // Whether the frames before say that in frame `frame` the marker lies
    // more than FOLLOW_HELD_SHIFT pixels (at a corner) from where `pose`
    // puts it, or turned more than `refuseTurn` from it, or that it moved
    // further since the last of them (its smear): a marker held from an
    // earlier frame that is no longer there.
    bool movedFrom(long frame, const Pose& pose) const;
    // Frame `frame` ended without a camera, with a held marker's (a camera
    // of an earlier frame), with one found cold (`cold`), or followed
    // loosely: its picture is kept to follow back into (see followBack),
    // within FOLLOW_BACK_WINDOW.
    void lost(long frame, const FrameImage& image, bool cold = false);
    // Frame `frame` has a camera. Right after kept (lost) frames, when its
    // smear shows how it moves, or when it and the frame before have poses
    // and the frame before that was kept, follows back into the kept frames,
    // the latest first, as forwards with time reversed; the fits taken go to
    // `out` (room for FOLLOW_BACK_FRAMES; a frame taken from one frame after
    // may come again from two), their count is returned. Kept frames that
    // can no longer be followed back into are let go.
    int followBack(long frame, BackFollow* out);
    // Forgets the frames before (a frame without a picture).
    void forget();

    const FollowLimits& limits() const { return limits_; }

  private:
    MarkerFollow() = default;
    struct Remembered {
        long frame = -1;
        Pose pose{};
        ShutterMotion motion{};  // over the shutter, when aligned
        bool moving = false;
        double rampWidth = 0.0;  // a smeared square's widest ramp, when not aligned
        bool skewed = false;     // then too, its corners off the marker's shape
    };
    // Follows back into the kept frames from the `after` frames after them
    // (this frame `frame` first), remembered in `from`.
    int followBackFrom(const Remembered (&from)[3], long frame, int after, BackFollow* out);
    // Follows frame `frame` from the poses `last` (the latest first), which
    // remember what is taken. Not from two squares whose drawings would not
    // align and whose corners miss the marker's shape (`skewed`, see
    // FOLLOW_SKEWED_ERROR): they say where the marker was, not how it
    // moves, since a heavy smear skews each by its own 5 to 17 degrees (two
    // such squares a frame apart said 10 degrees a frame where the camera
    // turned 3 to 5, and the frame after was followed 15 degrees off).
    FollowFit followFrom(Remembered (&last)[3], long frame, const FrameImage& image);
    // The best of the starts about `predicted` (places along the motion a
    // frame apart `perFrame`, `offset` frames' motion on, and streak
    // lengths) to align from.
    ShutterPose bestStart(const FrameImage& image, const ShutterPose& predicted,
                          const ShutterMotion& perFrame, double offset);
    // Aligns from `start`, tries `expected` as the motion; the fit taken, if
    // any (see alignMarker for `coarseMin`).
    // The start of a fit at `pose` with no motion to go by: the streak
    // about `width` pixels long, or some times that, in one of eight
    // directions, that matches `image` best.
    ShutterPose streakSearch(const FrameImage& image, const Pose& pose, double width);
    // Aligns from `pose` with the streak found by streakSearch.
    FollowFit alignStreakSearched(const FrameImage& image, const Pose& pose, double width);
    // A smeared square found with nothing before it to say which of its two
    // poses it lies on (a small marker's may lie on the wrong one): aligned
    // from its mirror (mirroredPose) too, whose fit is taken when it
    // matches as closely as a second start must and better than the
    // square's.
    FollowFit alignEitherPose(const FrameImage& image, const Pose& square, double width);
    // When `sloped` matched under light sloping across the marker and `even`
    // was aligned under even light, aligns `even` again from where it ended
    // under sloping light, and takes that fit when it matches better.
    void relitAlike(const FrameImage& image, const FollowFit& sloped, FollowFit& even);
    // A fit that falls short under even light is tried again under light
    // sloping across the marker.
    FollowFit alignFrom(const FrameImage& image, const ShutterPose& start,
                        const ShutterMotion& expected, double turnMax, double coarseMin = -1.0);
    // The same under the one `light`.
    FollowFit alignLit(LightModel light, const FrameImage& image, const ShutterPose& start,
                       const ShutterMotion& expected, double turnMax, double coarseMin);
    bool acceptable(const AlignOutcome& outcome, const Pose& start, double turnMax) const;
    // Whether a fit from a lone `square`, not taken, matched closely far
    // from it (see FollowLimits::elsewhereTurn).
    bool drawnElsewhere(const AlignOutcome& outcome, const Pose& square) const;
    // How far from where the frames before put the marker a square with
    // sides' `ramps` whose drawing would not align may lie before it is
    // refused: `skewed` when its ramps, its corners or its fit say so.
    double unalignedSquareTurn(const SideRamps& ramps, bool skewed) const;
    // Whether the drawing matches the frame as a found marker's does, and
    // as closely as a smeared marker's does (a second chance's bar).
    bool matchesAsFound(const AlignOutcome& outcome) const;
    bool matchesAsSmeared(const AlignOutcome& outcome) const;
    // Whether a fit short of that may be the marker under uneven light: its
    // drawing still correlates with the frame, the square mostly in view.
    bool unevenlyLit(const AlignOutcome& outcome) const;
    // Puts frame `frame`'s pose (and its motion over the shutter, when
    // aligned) first in `last`.
    static void remember(Remembered (&last)[3], long frame, const Pose& pose,
                         const ShutterMotion* motion);
    // The pose and the motion over the shutter predicted for frame `frame`
    // from the poses `last` (their speed and its change), and the motion a
    // frame apart there; false when they give none.
    bool predictFrom(const Remembered (&last)[3], long frame, ShutterPose* start,
                     ShutterMotion* perFrame) const;
    // The same from the frames before.
    bool predict(long frame, ShutterPose* start, ShutterMotion* perFrame) const {
        return predictFrom(last_, frame, start, perFrame);
    }
    // The same for a frame whose marker was found as `square`: false too
    // when a prediction across lost frames lies far from it.
    bool predictNear(long frame, const Pose& square, ShutterPose* start,
                     ShutterMotion* perFrame) const;
    // A frame with no pose to follow from: the dark bands a heavily
    // smeared marker's border leaves give its place, size and smear; the
    // marker is aligned from poses about them (coldStarts) and taken only
    // when one turn matches as closely as a second start must and clearly
    // better than the other three.
    FollowFit coldFind(const FrameImage& image);
    // The kept picture of frame `frame`.
    FrameImage keptFrame(long frame);
    // The fit taken about `region`, a side of the border whose square lies
    // `inwards` across it (see coldStarts), if any.
    FollowFit coldFindAt(const FrameImage& image, const SmearRegion& region, double inwards);
    // Aligns from `start` under a second start's closer match and a streak
    // of at least COLD_STREAK_MIN, giving up after the coarse steps below
    // `coarseMin` (see alignMarker).
    FollowFit alignCold(const FrameImage& image, const ShutterPose& start, double coarseMin = -1.0);
    // Forgets the frames found cold and the searches spent.
    void forgetCold();
    // Learns the shutter's share of the frame from a fit's streak.
    void learnShutter(const FollowFit& fit, const ShutterMotion& perFrame);

    CameraParam camera_{};
    FollowLimits limits_{};
    std::unique_ptr<FollowStorage> storage_;
    SmearRegionStorage regions_;  // empty when storage could not be had: no cold finds
    Remembered last_[3];          // the last poses, the latest first
    Remembered cold_[3];          // the last poses found cold (followCold), apart from last_
    int coldTries_ = 0;           // cold searches in a row that found nothing
    long coldNext_ = 0;           // the first frame the next cold search may be in
    double shutterShare_ = 0.5;   // of the frame's interval, learned from the fits
    bool shutterSeen_ = false;    // a smeared marker's fit has measured it
    bool shortShutter_ = false;   // a marker the motion said was smeared was found sharp
    // Pictures of the latest frames without a camera, in a row: frame n in
    // slot n % keptRoom_ (frame.width x frame.height pixels of 4 bytes).
    // Reserved, not filled: a page takes memory only once a frame is kept in it.
    std::unique_ptr<unsigned char[]> kept_;
    long keptBytes_ = 0;
    int keptRoom_ = 0;
    bool keptCold_[FOLLOW_BACK_FRAMES] = {};  // by slot: the kept frame was found cold
    long keptFirst_ = -1, keptLast_ = -1;
    long lastCamera_ = -1;  // the last frame with a camera (or the first seen)
};
