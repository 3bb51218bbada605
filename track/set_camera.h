#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "camera/camera_param.h"
#include "layout/layout_records.h"
#include "marker/marker_info.h"
#include "pose/marker_pose.h"
#include "pose/pose_refine.h"

// Of three or more markers, one whose corners disagree with the others' is
// dropped when, under the camera fitted to the others alone, its root mean
// square error exceeds this many times theirs, and SET_OUTLIER_PIXELS (the
// one furthest beyond that first, then again with the rest). Of two that
// disagree so both ways, the one the camera the frames before predict fits
// worse leaves; with no previous frame both are kept.
inline constexpr double SET_OUTLIER_FACTOR = 3.0;
inline constexpr double SET_OUTLIER_PIXELS = 2.0;

// With several patterns loaded a square is compared with more of them, and
// a patch of the set (a box's face, a shadow) that matches one by chance
// and stays put agrees with the others' geometry like a printed marker: a
// square names a marker of the set from this confidence, both in the pass
// that learns the layout and in the cameras (one marker alone takes 0.5).
inline constexpr double SET_CONFIDENCE_MIN = 0.7;

// What the set's camera step gives for a frame.
struct SetCameraFit {
    bool found = false;
    Pose camera{};         // the first marker's coordinates to the camera's
    double error = 0.0;    // mean squared reprojection error of the corners kept
    uint32_t used = 0;     // the markers fitted, a bit each
    uint32_t dropped = 0;  // markers seen but dropped as outliers
    int chosen = -1;       // index in the marker list of the first marker used
};

// The camera of each frame from every marker of the set in view: the
// corners of all of them fitted jointly through the layout, continued from
// the previous frame's camera.
class SetCamera {
  public:
    // `slotMarker` gives the set's marker of each pattern slot (-1: none).
    SetCamera(const MarkerLayout& layout, std::vector<int> slotMarker);

    // The frame's camera from its marker list (the first `seen` found in
    // the frame itself; the rest held from earlier frames are used too).
    SetCameraFit fit(const CameraParam& camera, const MarkerInfo* markers, int count,
                     const PoseSettings& settings);

    // The frame fit() was last given, fitted again: the squares of the
    // markers of `kept` (a bit each) as they were, and the markers of
    // `followed`, whose poses (their coordinates to the camera's, `poses` by
    // marker) were aligned on the frame's light, with their corners where
    // those put them; jointly, as fit() fits the squares.
    SetCameraFit fitFollowed(const CameraParam& camera, uint32_t kept, uint32_t followed,
                             const Pose* poses);
    // The square fit() chose for marker `marker` (null: none); valid until
    // the marker list changes.
    const MarkerInfo* square(int marker) const { return squares[marker]; }

    // The next frame starts afresh.
    void forget() {
        history = atFrameStart = FramesBefore{};
        haveFitted = false;
    }

  private:
    // The joint fit of the markers of `seen` from the best of `starts`, the
    // outliers dropped.
    SetCameraFit fitFromStarts(const CameraParam& camera, uint32_t seen);
    // Fits the markers of `use` from `start`.
    PoseFit fitMarkers(const CameraParam& camera, uint32_t use, const Pose& start);
    // Of the two markers of `use`, the one to leave when they disagree (each,
    // under the camera fitted to the other alone, beyond the outlier rule's
    // bound): the one whose corners the camera the frames before predict
    // fits worse; -1 when they agree or a fit fails.
    int leaverOfTwo(const CameraParam& camera, uint32_t use);
    // Where each used marker's corners land: the points and their error.
    double markerError(const CameraParam& camera, int slot, const Pose& pose) const;

    MarkerLayout layout;
    std::vector<int> slotMarker;
    // The chosen square of each set marker this frame (-1: none), by marker.
    std::vector<const MarkerInfo*> squares;
    std::vector<std::array<ImagePoint, 4>> corners;  // each marker's corners fitted, ideal
    std::vector<int> index;                          // and its index in the marker list
    std::vector<Pose> starts;                        // where the joint fit starts from
    double points[POSE_POINT_MAX][3];
    ImagePoint image[POSE_POINT_MAX];
    // The cameras of the last two frames fitted.
    struct FramesBefore {
        Pose previous{};
        bool havePrevious = false;
        Pose before{};  // the camera of the frame before `previous`
        bool haveBefore = false;
    };
    FramesBefore history;
    FramesBefore atFrameStart;  // as it was when fit() began on the frame
    Pose fitted{};              // the camera fit() gave the frame
    bool haveFitted = false;
};
