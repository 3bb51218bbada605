#pragma once

#include <string>
#include <vector>

#include "camera/camera_param.h"
#include "tools/calibrate/board_views.h"

// How the camera model is fitted.
struct FitSettings {
    // False (the default): the distortion centre is the principal point.
    // True: the centre is fitted as two more unknowns.
    bool fitCentre = false;
    // False: no lens distortion is fitted (coefficient 0).
    bool fitDistortion = true;
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
};

// Fits our camera model to the board corners seen in `views` (each
// columns x rows corners, in board order) of width x height frames: OpenCV's
// calibration for a start, then a Levenberg-Marquardt fit by Ceres of the
// focal lengths, principal point, distortion and the pose of every view,
// minimising the distance between each found corner and where the model puts
// it (projection, then arIdealToObserved). 0, or -1 with `error` set.
int fitCamera(const BoardGeometry& board, const std::vector<std::vector<BoardCorner>>& views,
              int width, int height, const FitSettings& settings, FitResult& result,
              std::string& error);
