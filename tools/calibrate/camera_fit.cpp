#include "tools/calibrate/camera_fit.h"

#include <ceres/ceres.h>
#include <ceres/rotation.h>

#include <cmath>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include "camera/distortion.h"

namespace {

// The distortion coefficient is fitted as q = k * R^2, with k = f * 1e-8 the
// coefficient per squared pixel and R half the frame diagonal: q is the
// fraction by which the model pulls a point in a frame corner towards the
// centre, of order 0.01..0.1 rather than 1e-8.
double cornerRadiusSquared(int width, int height) {
    return 0.25 * (static_cast<double>(width) * width + static_cast<double>(height) * height);
}

// Board corner n (row by row) in board coordinates, z = 0.
void boardPoint(const BoardGeometry& board, size_t n, double& x, double& y) {
    x = static_cast<double>(n % board.columns) * board.square;
    y = static_cast<double>(n / board.columns) * board.square;
}

// One found corner against the model: the board point taken through the
// view's pose and the pinhole projection to ideal pixels, then through
// arIdealToObserved (scale 1) to observed pixels. Parameter blocks: lens
// (fx, fy, cx, cy), distortion (q), centre (x0, y0; unused when it is the
// principal point), pose (angle-axis rotation, translation).
struct CornerResidual {
    double boardX, boardY;
    double seenX, seenY;
    double inverseRadiusSquared;
    bool centreIsPrincipalPoint;

    template <typename T>
    bool operator()(const T* lens, const T* distortion, const T* centre, const T* pose,
                    T* residual) const {
        const T point[3] = {T(boardX), T(boardY), T(0.0)};
        T p[3];
        ceres::AngleAxisRotatePoint(pose, point, p);
        p[0] += pose[3];
        p[1] += pose[4];
        p[2] += pose[5];
        const T ix = lens[0] * p[0] / p[2] + lens[2];
        const T iy = lens[1] * p[1] / p[2] + lens[3];
        const T x0 = centreIsPrincipalPoint ? lens[2] : centre[0];
        const T y0 = centreIsPrincipalPoint ? lens[3] : centre[1];
        const T u = ix - x0, v = iy - y0;
        const T d = T(1.0) - (u * u + v * v) * (distortion[0] * inverseRadiusSquared);
        residual[0] = u * d + x0 - seenX;
        residual[1] = v * d + y0 - seenY;
        return true;
    }
};

// Root mean square distance in pixels between the corners of one view and
// where `camera` puts the board's corners, the board lying at `pose`
// (angle-axis rotation, translation): the model through the camera file's own
// projection and arIdealToObserved.
double viewReprojectionRms(const CameraParam& camera, const BoardGeometry& board,
                           const std::vector<BoardCorner>& corners, const double pose[6]) {
    double sum = 0.0;
    for (size_t n = 0; n < corners.size(); ++n) {
        double point[3] = {0.0, 0.0, 0.0}, p[3];
        boardPoint(board, n, point[0], point[1]);
        ceres::AngleAxisRotatePoint(pose, point, p);
        for (int k = 0; k < 3; ++k) {
            p[k] += pose[3 + k];
        }
        const double(&m)[3][4] = camera.mat;
        const double w = m[2][0] * p[0] + m[2][1] * p[1] + m[2][2] * p[2] + m[2][3];
        const double ix = (m[0][0] * p[0] + m[0][1] * p[1] + m[0][2] * p[2] + m[0][3]) / w;
        const double iy = (m[1][0] * p[0] + m[1][1] * p[1] + m[1][2] * p[2] + m[1][3]) / w;
        double ox = 0.0, oy = 0.0;
        arIdealToObserved(camera.distFactor, ix, iy, &ox, &oy);
        sum +=
            (ox - corners[n].x) * (ox - corners[n].x) + (oy - corners[n].y) * (oy - corners[n].y);
    }
    return corners.empty() ? 0.0 : std::sqrt(sum / corners.size());
}

}  // namespace

int fitCamera(const BoardGeometry& board, const std::vector<std::vector<BoardCorner>>& views,
              int width, int height, const FitSettings& settings, FitResult& result,
              std::string& error) {
    result = FitResult{};
    const size_t perView = static_cast<size_t>(board.columns) * board.rows;
    if (views.empty()) {
        error = "no views to fit";
        return -1;
    }
    std::vector<std::vector<cv::Point3f>> objectPoints(views.size());
    std::vector<std::vector<cv::Point2f>> imagePoints(views.size());
    for (size_t v = 0; v < views.size(); ++v) {
        if (views[v].size() != perView) {
            error = "a view does not hold every corner of the board";
            return -1;
        }
        for (size_t n = 0; n < perView; ++n) {
            double x = 0.0, y = 0.0;
            boardPoint(board, n, x, y);
            objectPoints[v].emplace_back(static_cast<float>(x), static_cast<float>(y), 0.0f);
            imagePoints[v].emplace_back(static_cast<float>(views[v][n].x),
                                        static_cast<float>(views[v][n].y));
        }
    }

    // The start: OpenCV's calibration with one radial term (k1 on normalised
    // coordinates), no tangential terms.
    cv::Mat cameraMatrix, distCoeffs = cv::Mat::zeros(5, 1, CV_64F);
    std::vector<cv::Mat> rvecs, tvecs;
    int flags = cv::CALIB_FIX_K2 | cv::CALIB_FIX_K3 | cv::CALIB_ZERO_TANGENT_DIST;
    if (!settings.fitDistortion) {
        flags |= cv::CALIB_FIX_K1;
    }
    try {
        result.startRms = cv::calibrateCamera(objectPoints, imagePoints, cv::Size(width, height),
                                              cameraMatrix, distCoeffs, rvecs, tvecs, flags);
    } catch (const cv::Exception& e) {
        error = std::string("OpenCV's calibration failed: ") + e.what();
        return -1;
    }

    const double radiusSquared = cornerRadiusSquared(width, height);
    double lens[4] = {cameraMatrix.at<double>(0, 0), cameraMatrix.at<double>(1, 1),
                      cameraMatrix.at<double>(0, 2), cameraMatrix.at<double>(1, 2)};
    // OpenCV moves a point by k1 * r^2 with r in focal lengths; ours moves it
    // by -k * r^2 with r in pixels.
    double distortion[1] = {settings.fitDistortion
                                ? -distCoeffs.at<double>(0) / (lens[0] * lens[1]) * radiusSquared
                                : 0.0};
    double centre[2] = {lens[2], lens[3]};
    std::vector<double> poses(views.size() * 6);
    for (size_t v = 0; v < views.size(); ++v) {
        for (int k = 0; k < 3; ++k) {
            poses[v * 6 + k] = rvecs[v].at<double>(k);
            poses[v * 6 + 3 + k] = tvecs[v].at<double>(k);
        }
    }

    ceres::Problem problem;
    for (size_t v = 0; v < views.size(); ++v) {
        for (size_t n = 0; n < perView; ++n) {
            CornerResidual r{
                0.0, 0.0, views[v][n].x, views[v][n].y, 1.0 / radiusSquared, !settings.fitCentre};
            boardPoint(board, n, r.boardX, r.boardY);
            problem.AddResidualBlock(new ceres::AutoDiffCostFunction<CornerResidual, 2, 4, 1, 2, 6>(
                                         new CornerResidual(r)),
                                     nullptr, lens, distortion, centre, &poses[v * 6]);
        }
    }
    if (!settings.fitDistortion) {
        problem.SetParameterBlockConstant(distortion);
    }
    if (!settings.fitCentre || !settings.fitDistortion) {
        problem.SetParameterBlockConstant(centre);
    }
    ceres::Solver::Options options;
    options.linear_solver_type = ceres::DENSE_SCHUR;
    options.max_num_iterations = 200;
    options.function_tolerance = 1e-14;
    options.gradient_tolerance = 1e-14;
    options.parameter_tolerance = 1e-12;
    options.num_threads = 1;
    options.logging_type = ceres::SILENT;
    ceres::Solver::Summary summary;
    ceres::Solve(options, &problem, &summary);
    if (!summary.IsSolutionUsable()) {
        error = "the fit did not converge: " + summary.message;
        return -1;
    }
    result.iterations = static_cast<int>(summary.iterations.size());

    for (double value : {lens[0], lens[1], lens[2], lens[3], distortion[0], centre[0], centre[1]}) {
        if (!std::isfinite(value)) {
            error = "the fit gave a value that is no number";
            return -1;
        }
    }
    if (lens[0] <= 0.0 || lens[1] <= 0.0) {
        error = "the fit gave a focal length that is not positive";
        return -1;
    }
    CameraParam& camera = result.camera;
    camera = CameraParam{};
    camera.xsize = width;
    camera.ysize = height;
    camera.mat[0][0] = lens[0];
    camera.mat[0][2] = lens[2];
    camera.mat[1][1] = lens[1];
    camera.mat[1][2] = lens[3];
    camera.mat[2][2] = 1.0;
    camera.distFactor[0] = settings.fitCentre && settings.fitDistortion ? centre[0] : lens[2];
    camera.distFactor[1] = settings.fitCentre && settings.fitDistortion ? centre[1] : lens[3];
    camera.distFactor[2] = distortion[0] / radiusSquared * 1e8;
    camera.distFactor[3] = 1.0;

    double sum = 0.0;
    for (size_t v = 0; v < views.size(); ++v) {
        const double rms = viewReprojectionRms(camera, board, views[v], &poses[v * 6]);
        result.viewRms.push_back(rms);
        sum += rms * rms;
    }
    result.rms = std::sqrt(sum / views.size());
    return 0;
}
