#pragma once

#include <memory>

#include "camera/camera_param.h"
#include "marker/detection_trace.h"
#include "marker/edge_lines.h"
#include "marker/frame_image.h"
#include "marker/labeling.h"
#include "marker/marker_history.h"
#include "marker/marker_info.h"
#include "marker/pattern.h"
#include "marker/pattern_set.h"
#include "marker/square_candidates.h"

// Everything one detection run needs: the camera it works for, the loaded
// patterns, the working storage of every stage (sized once, for frames of the
// camera's size), the marker list handed out, the history of earlier frames
// and the trace of the last pass. Detectors share nothing: two in one process
// keep their own patterns and history. No pass allocates memory.
//
// Detection prints nothing. Where it has something to say, it says it in
// values, and the run flow words it:
// - loadPattern gives the reason a pattern file could not be loaded
//   (PatternLoadError); the run flow prints "\"<file>\" not found!!\n" for
//   FileMissing and "Pattern Data read error!!\n" for ReadError.
// - contour tracing records why it gave up on a region in the pass's trace
//   (trace().contourFailures, codes 1, 2, 3 in the order traced); the run
//   flow prints "??? <code>\n" for each after the pass.
class Detector {
  public:
    // Working storage for frames of camera.xsize x camera.ysize, allocated
    // here once (no exception escapes). nullptr when the size is not positive
    // or memory runs out.
    static std::unique_ptr<Detector> create(const CameraParam& camera);

    Detector(const Detector&) = delete;
    Detector& operator=(const Detector&) = delete;

    // Loads a pattern file into the next free slot: the id (>= 0), or -1 with
    // the reason in *error.
    int loadPattern(const char* filename, PatternLoadError* error);

    // One detection pass with the history: 0 and the list (valid until the
    // next call), or -1 with *count 0 (frame not of the working size, or
    // labeling capacity exceeded; history left as it was).
    int detect(const FrameImage& frame, int threshold, const MarkerInfo** markers, int* count);

    // Per-stage times, what each stage produced and the tracer's
    // diagnostics, for the last pass (all zero before the first).
    const DetectionTrace& trace() const { return trace_; }
    const PatternSet& patterns() const { return patterns_; }
    const CameraParam& camera() const { return camera_; }

    // Replaces the loaded patterns by a copy of `patterns` (ids stay those of
    // `patterns`); for handing patterns on to a detector of another size.
    void setPatterns(const PatternSet& patterns) { patterns_ = patterns; }

  private:
    explicit Detector(const CameraParam& camera);

    CameraParam camera_;
    PatternSet patterns_{};
    LabelStorage labelStorage_{};
    SquareStorage squareStorage_{};
    EdgeLineStorage edgeStorage_{};
    LabelResult labelResult_{};
    MarkerList markerList_{};
    MarkerHistory history_{};
    DetectionTrace trace_{};
};
