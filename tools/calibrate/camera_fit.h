#pragma once

#include <array>
#include <string>
#include <vector>

#include "camera/camera_param.h"
#include "tools/calibrate/board_views.h"

// A point of a flat calibration target in the target's own plane (z = 0), in
// the unit the camera positions come out in.
struct TargetPoint {
    double x, y;
};

// The board's inner corners, row by row, as findBoardCorners orders them.
std::vector<TargetPoint> boardTargetPoints(const BoardGeometry& board);

// How the camera model is fitted.
struct FitSettings {
    // False (the default): the distortion centre is the principal point.
    // True: the centre is fitted as two more unknowns.
    bool fitCentre = false;
    // False: no lens distortion is fitted (coefficient 0).
    bool fitDistortion = true;
    // True: one focal length for both axes (square pixels).
    bool oneFocalLength = false;
    // False: the principal point stays at the middle of the frame (W/2, H/2).
    bool fitPrincipalPoint = true;
    // True: also estimate how well the views fix the camera (the sigmas of
    // FitResult).
    bool estimateSigmas = false;
    // A fit of the same views to start from (its camera and poses) instead of
    // OpenCV's calibration; its distortion is taken only when fitDistortion.
    const struct FitResult* start = nullptr;
};

struct FitResult {
    // The fitted record for width x height frames: projection
    // [[fx, 0, cx, 0], [0, fy, cy, 0], [0, 0, 1, 0]], distortion factors
    // (x0, y0, f, 1).
    CameraParam camera{};
    double startRms = 0.0;          // of OpenCV's calibration the fit started from
    double rms = 0.0;               // over all corners of all views, pixels
    std::vector<double> viewRms{};  // per view, pixels
    int iterations = 0;
    // With estimateSigmas: standard deviations from the fit's covariance,
    // scaled by what is left of its residuals. Of the focal length (fx; in
    // pixels), of the principal point (pixels) and of the distortion as the
    // fraction by which it pulls a point in a frame corner in; 0 for what was
    // not fitted, infinite when the views do not fix the camera at all.
    double focalSigma = 0.0;
    double principalPointSigma[2] = {0.0, 0.0};
    double distortionSigma = 0.0;
    // The fitted distortion as that same fraction.
    double cornerPull = 0.0;
    // The pose of the target in every view: angle-axis rotation, translation.
    std::vector<std::array<double, 6>> poses{};
};

// Fits our camera model to a flat target's points seen in `views` (each
// holding every point of `target`, in its order) of width x height frames:
// OpenCV's calibration for a start, then a Levenberg-Marquardt fit by Ceres of
// the focal lengths, principal point, distortion and the pose of every view,
// minimising the distance between each found point and where the model puts
// it (projection, then arIdealToObserved). 0, or -1 with `error` set.
int fitCamera(const std::vector<TargetPoint>& target,
              const std::vector<std::vector<BoardCorner>>& views, int width, int height,
              const FitSettings& settings, FitResult& result, std::string& error);

inline int fitCamera(const BoardGeometry& board, const std::vector<std::vector<BoardCorner>>& views,
                     int width, int height, const FitSettings& settings, FitResult& result,
                     std::string& error) {
    return fitCamera(boardTargetPoints(board), views, width, height, settings, result, error);
}

// For a target of few points a view (a marker's four corners), which fixes
// less than a board: fits one focal length (square pixels) without
// distortion, with the sigmas of FitResult; the principal point only when the
// views fix it to within PRINCIPAL_POINT_SIGMA_MAX of the frame's width
// (`principalPoint` true), else it stays at the middle of the frame. 0, or -1
// with `error` set.
inline constexpr double PRINCIPAL_POINT_SIGMA_MAX = 0.005;
int fitOneFocalLength(const std::vector<TargetPoint>& target,
                      const std::vector<std::vector<BoardCorner>>& views, int width, int height,
                      FitResult& result, bool& principalPoint, std::string& error);
