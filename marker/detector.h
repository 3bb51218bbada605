#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "camera/camera_param.h"
#include "image/frame_image.h"
#include "marker/detection_trace.h"
#include "marker/edge_lines.h"
#include "marker/edge_refine.h"
#include "marker/half_picture.h"
#include "marker/labeling.h"
#include "marker/local_threshold.h"
#include "marker/marker_history.h"
#include "marker/marker_info.h"
#include "marker/marker_status.h"
#include "marker/pattern.h"
#include "marker/pattern_set.h"
#include "marker/square_candidates.h"
#include "marker/threshold_choice.h"

// Everything one detection run needs: the camera it works for, the loaded
// patterns, the working storage of every stage (sized once, for frames of the
// camera's size), the passes' marker lists, the history of earlier frames and
// the trace of the last pass. Detectors share nothing: two in one process
// keep their own patterns and history. No pass allocates memory.
//
// Detection prints nothing: what it has to say comes back as MarkerStatus
// values for its caller to word (why a pattern file could not be loaded;
// why contour tracing gave up on each region, in the pass's trace).

// After this many frames in a row without the sought marker, a frame's
// retries first glance at its half-size picture (the same retries there, on a
// quarter of the pixels) and run at full size only where the glance sees a
// square whose pattern matches at least GLANCE_CONFIDENCE_MIN: on a long
// stretch without the marker they cost little, and where it comes back they
// find it as before.
inline constexpr int GLANCE_AFTER = 30;
inline constexpr double GLANCE_CONFIDENCE_MIN = 0.4;
// Least width and height of a half-size picture worth glancing at.
inline constexpr int GLANCE_SIZE_MIN = 32;

// How a detector is set up; the defaults are Lumeko's normal detection.
struct DetectorSettings {
    // Most provisional labels one labeling pass may make. 0 sizes the
    // labeling for the worst frame of the camera's size (arLabelBound), so
    // that no frame exceeds it; a small capacity lets tests reach
    // MarkerStatus::CapacityExceeded.
    int32_t labelCapacity = 0;
    // Markers larger than Lumeko's usual ones: the largest region area that
    // can become a candidate (REGION_AREA_MAX, sized for 640 x 480 frames)
    // grows with the frame's pixel count relative to 640 x 480, never below
    // REGION_AREA_MAX. The smallest area stays REGION_AREA_MIN: a small
    // marker is as small in a large frame.
    bool largeMarkers = false;
    // Threshold of a frame's first pass: a pixel is dark when blue + green +
    // red <= 3 x threshold.
    int threshold = DETECT_THRESHOLD;
    // A frame whose first pass does not see the sought pattern's marker in
    // the frame itself (Detector::seekPattern) is detected again at the
    // thresholds arRetryThresholds chooses from it; the first retry that sees
    // it is kept, else the first pass. Either way the history takes one step
    // per frame (--auto-threshold).
    bool thresholdRetry = false;
    // After every other retry, a frame whose passes do not see the sought
    // marker is detected again at the whole frame's choosePaperThreshold: a
    // glossy sheet's sheen greys part of the border (--sheen-threshold).
    bool paperRetry = false;
    // A frame whose first pass does not see the sought marker is detected
    // again at the local thresholds (arLocalThresholds: the narrow window,
    // then the wide one) before any
    // thresholdRetry; the first retry that sees it is kept
    // (--adaptive-threshold).
    bool localRetry = false;
    // The history holds markers only on squares like those it remembers, a
    // small marker inside a larger dark region must match better to keep
    // its id (arQuestionNestedMarkers), and a square more than one of whose
    // corners misses its outline is no marker (arCornersOffOutline;
    // --strict-history).
    bool strictHistory = false;
    // Squares with a dent or a bump in a side are taken, and each side's
    // line is fitted again without its outlying points (--robust-sides).
    bool robustSides = false;
    // A pass whose list of MARKER_MAX candidate squares fills before the
    // sought marker is among them (a busy floor above it in the picture)
    // looks on: the squares of the regions after the last one looked at, a
    // list at a time, until a list holds the marker; when none does, the
    // first list stays. With no one pattern sought (several markers), every
    // list is looked at, and the markers identified in later lists take the
    // places of the first list's unidentified squares (--more-squares).
    bool moreSquares = false;
    // Every pass moves the fitted sides of each marker that may keep an
    // identity onto the grey-level edge (arRefineEdges; --refine, see
    // setRefineEdges).
    bool refineEdges = false;
    // With refineEdges, a crisp marker's sides are placed from a point a
    // pixel rather than a few (several markers on one set: see
    // arSetEdgeEveryPixel).
    bool refineEveryPixel = false;
};

// The largest region area a detector with `settings` takes as a candidate
// in frames of width x height pixels.
int arRegionAreaMax(int width, int height, const DetectorSettings& settings);

class Detector {
  public:
    // Working storage for frames of camera.xsize x camera.ysize, allocated
    // here once (no exception escapes). nullptr when the size is not positive
    // or memory runs out.
    static std::unique_ptr<Detector> create(const CameraParam& camera,
                                            const DetectorSettings& settings = {});

    Detector(const Detector&) = delete;
    Detector& operator=(const Detector&) = delete;

    // Loads a pattern file into the next free slot (arLoadPatternFile).
    PatternLoad loadPattern(const char* filename);

    // The pattern whose marker the threshold retry looks for; -1 (the
    // default): any identified marker.
    void seekPattern(int patternId) { soughtPattern_ = patternId; }

    // Detects the markers of `frame` as the settings say (one pass, or a
    // retry at thresholds chosen from the frame) and steps the history once:
    // Ok and the list (valid until the next call). Otherwise *count is 0 and:
    // - BadFrame (no pixels, or not of the camera's size): the history is
    //   left as it was;
    // - CapacityExceeded (the first pass needed more labels than the
    //   capacity): the history takes the step of a frame in which no marker
    //   was seen (remembered markers age, as on any frame without them), and
    //   the markers it would hold on to are not handed out: the frame is one
    //   without markers.
    MarkerStatus detect(const FrameImage& frame, const MarkerInfo** markers, int* count);

    // The frame's step over a position with nothing in it (one of a movie
    // whose picture could not be decoded): the history takes its step and the
    // markers it still holds are handed out, as detect gives them for a blank
    // frame (a retry has nothing to choose a threshold from there either),
    // without a frame. It cannot fail.
    void detectNothing(const MarkerInfo** markers, int* count);

    // With strictHistory: the most confident square of the sought pattern
    // (any, when none is sought) that the last detect dropped because its
    // corners miss its outline, as a heavily smeared marker's rounded ones
    // do; null when there was none.
    const MarkerInfo* doubtedMarker() const {
        return doubted_.confidence > 0.0 ? &doubted_ : nullptr;
    }

    // How many of the markers handed out were found in the frame itself; the
    // rest of the list are markers held from the history.
    int seenCount() const { return seenCount_; }
    // The markers remembered from earlier frames.
    const MarkerHistory& history() const { return history_; }

    // Forgets the markers held from earlier frames, for a frame that has no
    // picture: the next pass starts afresh (the retry's last-seen place stays).
    void forgetHistory() { history_.count = 0; }

    // Per-stage times, what each stage produced and the tracer's
    // diagnostics, for the last pass run (all zero before the first): on a
    // retried frame, its last retry, kept or not.
    const DetectionTrace& trace() const { return trace_; }
    // Frames whose retries a glance at the half-size picture spared.
    long long retriesSpared() const { return retriesSpared_; }
    const PatternSet& patterns() const { return patterns_; }
    const CameraParam& camera() const { return camera_; }

    // With `on`, every pass moves the fitted sides of each marker that may
    // keep an identity (arMarkersKeepingIdentity) onto the grey-level edge
    // (arRefineEdges) before the history step; off (the default) leaves the
    // sides and corners as the contour gives them.
    void setRefineEdges(bool on) { refineEdges_ = on; }
    // The transfer curve the frames' levels were encoded with, for the
    // refined edges' ramps (sRGB unless set).
    void setTransferCurve(TransferCurve curve) { arSetEdgeTransfer(refineStorage_, curve); }

  private:
    // One pass's outcome, kept pending until it is committed: the markers it
    // hands out, the history as it leaves it and how many of the markers it
    // found in the frame itself.
    struct DetectionPass {
        MarkerList list;
        MarkerHistory history;
        int seenCount;
    };

    explicit Detector(const CameraParam& camera, const DetectorSettings& settings);
    // create(), with the half-size glance of the retries or without.
    static std::unique_ptr<Detector> make(const CameraParam& camera,
                                          const DetectorSettings& settings, bool glance);
    // Gives `detector` its glance at half-size pictures (none for frames too
    // small); false when its storage cannot be had.
    static bool createGlance(Detector& detector, const CameraParam& camera,
                             const DetectorSettings& settings);
    // Labels `frame` at `threshold` into labelResult_: Ok, or CapacityExceeded.
    MarkerStatus labelAt(const FrameImage& frame, PassThreshold threshold);

    // Starts `pass` from the detector's history, with no markers.
    void startPass(DetectionPass& pass) const;
    // One pass at `threshold` into `pass`; the history is stepped on a copy,
    // the detector's own stays as it was. Ok, or CapacityExceeded with `pass`
    // holding the step of a frame without markers.
    MarkerStatus detectPending(const FrameImage& frame, PassThreshold threshold,
                               DetectionPass& pass);
    // Whether `pass` saw the sought marker in the frame itself; if so it is
    // where the marker was last seen.
    bool seeSoughtMarker(const DetectionPass& pass);
    // Whether the list of `pass` holds the sought marker (nothing remembered).
    bool listHoldsSought(const DetectionPass& pass) const;
    // One list of candidate squares, from label *label on (left at the first
    // label not looked at), identified into the list of `pass`; the number of
    // squares.
    int identifySquares(const FrameImage& frame, int* label, DetectionPass& pass);
    // The candidate squares of the labelled frame identified into the list of
    // `pass` (with moreSquares, the first list of them holding the sought
    // marker, or every list's markers when none is sought); the number of
    // squares of the last list looked at.
    int findMarkers(const FrameImage& frame, DetectionPass& pass);
    // With the first list in `pass` and lists left from label `label` on:
    // the markers identified in each later list replace the first list's
    // unidentified squares, its last first, while any remain.
    int gatherMarkers(const FrameImage& frame, int label, DetectionPass& pass);
    // After a first pass that did not see the sought marker: the first retry
    // pass that sees it (the local thresholds, then those chosen from the
    // frame, as the settings ask), or `first`. After GLANCE_AFTER frames
    // without it, only where a glance at the half-size picture sees
    // something like it.
    DetectionPass& retryAtChosenThresholds(const FrameImage& frame, DetectionPass& first);
    // Whether the retries at `thresholds`, run on the half-size picture of
    // `frame`, see a square matching the sought pattern (any loaded one when
    // none is sought) at least GLANCE_CONFIDENCE_MIN; true too where a pass
    // there cannot be run.
    bool glanceSeesMarker(const FrameImage& frame, const PassThreshold* thresholds, int count);
    // Whether one of the glance's first `candidates` squares matches the
    // sought pattern (any, when none is sought) from GLANCE_CONFIDENCE_MIN.
    bool glanceMatches(int candidates) const;
    // Makes `pass` the frame's outcome: its history becomes the detector's.
    void commit(const DetectionPass& pass);

    CameraParam camera_;
    DetectorSettings settings_;
    int regionAreaMax_ = REGION_AREA_MAX;
    PatternSet patterns_{};
    LabelStorage labelStorage_{};
    LocalThresholdStorage localStorage_{};
    SquareStorage squareStorage_{};
    EdgeLineStorage edgeStorage_{};
    EdgeRefineStorage refineStorage_{};
    bool refineEdges_ = false;
    bool keepsIdentity_[MARKER_MAX]{};  // which of a pass's markers get sub-pixel edges
    LabelResult labelResult_{};
    DetectionPass passes_[2]{};  // a frame's first pass and its retries
    MarkerHistory history_{};
    int soughtPattern_ = -1;
    MarkerInfo doubted_{};                // see doubtedMarker; none while its confidence is 0
    MarkerList gathered_{};               // the first list while later ones are looked at
    std::optional<SeenMarker> lastSeen_;  // where the sought marker was last seen
    GreyLevels wholeLevels_{};            // the frame's, counted when a retry chooses from them
    int seenCount_ = 0;
    DetectionTrace trace_{};
    // The half-size look of the retries: a detector for half-size frames and
    // the picture it looks at (with any retry only), and how many frames in a
    // row the sought marker was not seen in.
    std::unique_ptr<Detector> glance_;
    std::unique_ptr<unsigned char[]> halfPixels_;
    FrameImage half_{};
    int framesUnseen_ = 0;
    long long retriesSpared_ = 0;
};
