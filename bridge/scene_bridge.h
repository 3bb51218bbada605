#pragma once

#include <memory>

#include "camera/camera_param.h"
#include "image/frame_image.h"
#include "math/matrix.h"

// Most points the bridge follows at once.
inline constexpr int BRIDGE_POINT_MAX = 160;
// How far the bridged points' error may grow over the least since anchoring:
// a factor, and pixels per working scale on top.
inline constexpr double BRIDGE_ERROR_GROWTH = 2.0;
inline constexpr double BRIDGE_ERROR_SLACK = 0.5;

// How a bridge step ended: the one failure type of bridge/.
enum class BridgeStatus {
    Ok,
    // A frame with no pixels, or not of the camera's size.
    BadFrame,
    // The plane cannot be mapped with the pose: it is seen edge-on, or the
    // point lies on or behind the camera.
    EdgeOn,
    BehindCamera,
    // Why a frame gets no camera from the points: fewer than
    // BridgeLimits::pointsMin of them (followed, or agreeing with the
    // camera); no plane most of them lie on; the camera's polish broke down
    // (a point on or behind it); too small a share of them agreeing with it;
    // their root mean square distance too large; their box too small a part
    // of the picture.
    TooFewPoints,
    NoPlane,
    PoseBrokeDown,
    TooFewAgree,
    TooFar,
    TooClustered,
    // The points agree markedly worse than they did in the first frames
    // bridged since the marker anchored them: they are no longer taken to lie
    // on its plane until it anchors them again.
    PlaneDoubted,
    // OpenCV could not allocate memory, or failed otherwise (its exception
    // caught where the bridge called it): the points are dropped and the next
    // frame starts afresh.
    OutOfMemory,
    OpenCvFailed,
};

// The camera a bridged frame gives: with Ok the marker-to-camera pose, the
// root mean square reprojection error of the points used (ideal pixels of the
// frame) and their count; otherwise why there is none, and `points` says how
// many were followed.
struct BridgeFit {
    BridgeStatus status = BridgeStatus::TooFewPoints;
    Pose pose{};
    double error = 0.0;
    int points = 0;

    bool ok() const { return status == BridgeStatus::Ok; }
};

struct BridgeStorage;

// Sharp marker frames from one anchoring of the points to the next, once
// PLANE_WEIGHT_MAX of them in a row were anchored on: the frames between are
// only kept (the newest of them), to anchor on should the marker be lost
// before the next anchoring.
inline constexpr int BRIDGE_RENEW_INTERVAL = 4;

// Keeps the camera while the marker is lost. While the marker is tracked it
// picks distinctive points in the picture and gives each its place on the
// marker's plane from the marker's pose; it follows them, and in a frame
// without the marker it fits the camera to the points that still lie where
// the plane puts them. A sharp marker frame goes through markerFrame(), which
// in a long run of them anchors the points only every BRIDGE_RENEW_INTERVAL
// such frames, following
// them straight there from where the pose predicts them; any other frame with
// a picture goes through follow() (which first anchors on a marker frame
// kept), then bridge() when it has no camera. A fixed number of points; the
// working storage is allocated once, at creation. No exception leaves it:
// OpenCV's come back as OutOfMemory or OpenCvFailed, after which the bridge
// starts afresh.
class SceneBridge {
  public:
    // A bridge for frames of `camera`'s size (the camera resized to the
    // frame); null when its storage cannot be allocated.
    static std::unique_ptr<SceneBridge> create(const CameraParam& camera);
    ~SceneBridge();

    // A frame whose marker gives a sharp pose: the points are followed into
    // it, searched for where the pose puts them, and anchored on the pose;
    // once PLANE_WEIGHT_MAX such frames in a row were anchored on, only every
    // BRIDGE_RENEW_INTERVAL frames, the frames between being only kept with
    // their pose. A `smeared` frame (a smeared marker whose pose was aligned
    // with its smear) is never only kept: a moving camera's smear changes
    // from frame to frame, and points followed across several such frames
    // at once are lost. BadFrame (nothing done) for a frame not of the
    // camera's size.
    BridgeStatus markerFrame(const FrameImage& frame, const Pose& markerPose, bool smeared = false);
    // Follows the points into `frame` (of the camera's size), keeping those
    // that come back to where they were when followed backwards; a marker
    // frame kept is anchored on first. With no point to follow the frame's
    // picture is not taken. BadFrame (nothing done) for a frame of another
    // size.
    BridgeStatus follow(const FrameImage& frame);
    // Drops every point, for a frame without a picture: the next frame
    // starts afresh.
    void forget();
    // The camera from the points followed into this frame, when enough of
    // them, spread over the picture, agree on it; points that disagree leave.
    // Once the points agree markedly worse than they did in the first frames
    // bridged since the marker anchored them (their root mean square error
    // beyond BRIDGE_ERROR_GROWTH times the least, plus BRIDGE_ERROR_SLACK
    // pixels per working scale), they are no longer taken to lie on the
    // marker's plane: no frame is bridged until the marker anchors them again.
    BridgeFit bridge();

  private:
    SceneBridge() = default;
    // Follows the points into the incoming picture from where `markerPose`
    // puts them and anchors them on it.
    BridgeStatus renew(const Pose& markerPose);
    // Anchors on the marker frame kept, if any.
    BridgeStatus catchUp();
    // The marker's pose in the frame just taken: points that are not where
    // the pose puts them leave, the others take their place from it (averaged
    // over the marker's frames), and new points fill up the set. EdgeOn
    // (nothing changed) when the pose sees the plane edge-on.
    BridgeStatus anchor(const Pose& markerPose);
    CameraParam camera_{};
    std::unique_ptr<BridgeStorage> storage_;
    double leastError_ = -1.0;  // of the frames bridged since the last anchoring; -1: none yet
    bool doubted_ = false;      // the points stopped agreeing with the plane
};
