#include "tools/calibrate/camera_fit.h"

#include <ceres/ceres.h>
#include <ceres/rotation.h>

#include <algorithm>
#include <cmath>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include "camera/distortion.h"
#include "pose/pose_projection.h"

namespace {

// The distortion coefficient is fitted as q = k * R^2, with k = f * 1e-8 the
// coefficient per squared pixel and R half the frame diagonal: q is the
// fraction by which the model pulls a point in a frame corner towards the
// centre, of order 0.01..0.1 rather than 1e-8.
double cornerRadiusSquared(int width, int height) {
    return 0.25 * (static_cast<double>(width) * width + static_cast<double>(height) * height);
}

// One found point against the model: the target point taken through the
// view's pose and the pinhole projection to ideal pixels, then through
// arIdealToObserved (scale 1) to observed pixels. Parameter blocks: lens
// (fx, fy, cx, cy; fy unused with one focal length), distortion (q), centre
// (x0, y0; unused when it is the principal point), pose (angle-axis rotation,
// translation).
struct CornerResidual {
    double boardX, boardY;
    double seenX, seenY;
    double inverseRadiusSquared;
    bool centreIsPrincipalPoint;
    bool oneFocalLength;

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
        const T iy = (oneFocalLength ? lens[0] : lens[1]) * p[1] / p[2] + lens[3];
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
double viewReprojectionRms(const CameraParam& camera, const std::vector<TargetPoint>& target,
                           const std::vector<BoardCorner>& corners, const double pose[6]) {
    double sum = 0.0;
    for (size_t n = 0; n < corners.size(); ++n) {
        const double point[3] = {target[n].x, target[n].y, 0.0};
        double p[3];
        ceres::AngleAxisRotatePoint(pose, point, p);
        for (int k = 0; k < 3; ++k) {
            p[k] += pose[3 + k];
        }
        double h[3];
        arProjectCameraPoint(camera.mat, p, h);
        double ox = 0.0, oy = 0.0;
        arIdealToObserved(camera.distFactor, h[0] / h[2], h[1] / h[2], &ox, &oy);
        sum +=
            (ox - corners[n].x) * (ox - corners[n].x) + (oy - corners[n].y) * (oy - corners[n].y);
    }
    return corners.empty() ? 0.0 : std::sqrt(sum / corners.size());
}

// Views OpenCV's calibration starts from at most: it solves for the poses of
// all its views at once with dense matrices, which grow with their square.
// Beyond this many, an even selection of the views gives the camera's start,
// and the other views' poses come from that camera.
constexpr size_t START_VIEWS_MAX = 30;

// The start of the fit: OpenCV's calibration with one radial term (k1 on
// normalised coordinates) and no tangential terms, its lens (fx, fy, cx, cy),
// the distortion as the fraction it pulls a frame corner in, and every view's
// pose (angle-axis rotation, translation). 0, or -1 with `error` set.
int openCvStart(const std::vector<TargetPoint>& target,
                const std::vector<std::vector<BoardCorner>>& views, int width, int height,
                const FitSettings& settings, double lens[4], double& pull,
                std::vector<double>& poses, double& startRms, std::string& error) {
    std::vector<std::vector<cv::Point3f>> objectPoints(views.size());
    std::vector<std::vector<cv::Point2f>> imagePoints(views.size());
    for (size_t v = 0; v < views.size(); ++v) {
        for (size_t n = 0; n < target.size(); ++n) {
            objectPoints[v].emplace_back(static_cast<float>(target[n].x),
                                         static_cast<float>(target[n].y), 0.0f);
            imagePoints[v].emplace_back(static_cast<float>(views[v][n].x),
                                        static_cast<float>(views[v][n].y));
        }
    }
    std::vector<size_t> chosen;
    for (size_t i = 0; i < std::min(views.size(), START_VIEWS_MAX); ++i) {
        chosen.push_back(i * views.size() / std::min(views.size(), START_VIEWS_MAX));
    }
    std::vector<std::vector<cv::Point3f>> chosenObjects;
    std::vector<std::vector<cv::Point2f>> chosenImages;
    for (size_t v : chosen) {
        chosenObjects.push_back(objectPoints[v]);
        chosenImages.push_back(imagePoints[v]);
    }
    cv::Mat cameraMatrix, distCoeffs = cv::Mat::zeros(5, 1, CV_64F);
    std::vector<cv::Mat> rvecs, tvecs;
    int flags = cv::CALIB_FIX_K2 | cv::CALIB_FIX_K3 | cv::CALIB_ZERO_TANGENT_DIST;
    if (!settings.fitDistortion || target.size() < 8) {
        // Few points a view fix the poses before the lens: OpenCV starts
        // better without the distortion, which our own fit then adds.
        flags |= cv::CALIB_FIX_K1;
    }
    if (settings.oneFocalLength) {
        // OpenCV keeps the ratio of the focal lengths it is given.
        flags |= cv::CALIB_FIX_ASPECT_RATIO;
        cameraMatrix = cv::Mat::eye(3, 3, CV_64F);
    }
    if (!settings.fitPrincipalPoint) {
        flags |= cv::CALIB_FIX_PRINCIPAL_POINT;
    }
    try {
        startRms = cv::calibrateCamera(chosenObjects, chosenImages, cv::Size(width, height),
                                       cameraMatrix, distCoeffs, rvecs, tvecs, flags);
        const double from[4] = {cameraMatrix.at<double>(0, 0), cameraMatrix.at<double>(1, 1),
                                cameraMatrix.at<double>(0, 2), cameraMatrix.at<double>(1, 2)};
        std::copy(from, from + 4, lens);
        if (!(std::isfinite(lens[0] + lens[1] + lens[2] + lens[3]) && lens[0] > 0.0 &&
              lens[1] > 0.0)) {
            // Views that are all alike (square on, say) leave the focal length open.
            error =
                "the views are too alike to fix the focal length (OpenCV's calibration found "
                "none)";
            return -1;
        }
        for (size_t v = 0, k = 0; v < views.size(); ++v) {
            cv::Mat rvec, tvec;
            if (k < chosen.size() && chosen[k] == v) {
                rvec = rvecs[k];
                tvec = tvecs[k++];
            } else {
                cv::solvePnP(objectPoints[v], imagePoints[v], cameraMatrix, distCoeffs, rvec, tvec,
                             false, cv::SOLVEPNP_IPPE);
            }
            for (int i = 0; i < 3; ++i) {
                poses[v * 6 + i] = rvec.at<double>(i);
                poses[v * 6 + 3 + i] = tvec.at<double>(i);
            }
        }
    } catch (const cv::Exception& e) {
        error = std::string("OpenCV's calibration failed: ") + e.what();
        return -1;
    }
    // OpenCV moves a point by k1 * r^2 with r in focal lengths; ours moves it
    // by -k * r^2 with r in pixels.
    pull = -distCoeffs.at<double>(0) / (lens[0] * lens[1]) * cornerRadiusSquared(width, height);
    return 0;
}

// The sigmas of the fitted unknowns (FitResult), from the covariance of the
// fit scaled by the residuals' variance; false when the views do not fix them.
bool estimateSigmas(ceres::Problem& problem, const double* lens, const double* distortion,
                    const FitSettings& settings, FitResult& result) {
    ceres::Covariance::Options options;
    options.algorithm_type = ceres::SPARSE_QR;
    options.num_threads = 1;
    ceres::Covariance covariance(options);
    std::vector<std::pair<const double*, const double*>> wanted = {{lens, lens}};
    if (settings.fitDistortion) {
        wanted.push_back({distortion, distortion});
    }
    if (!covariance.Compute(wanted, &problem)) {
        return false;
    }
    double cost = 0.0;
    problem.Evaluate(ceres::Problem::EvaluateOptions(), &cost, nullptr, nullptr, nullptr);
    const int residuals = problem.NumResiduals();
    int unknowns = 0;
    std::vector<double*> parameters;
    problem.GetParameterBlocks(&parameters);
    for (double* block : parameters) {
        if (!problem.IsParameterBlockConstant(block)) {
            unknowns += problem.ParameterBlockTangentSize(block);
        }
    }
    if (residuals <= unknowns) {
        return false;
    }
    const double variance = 2.0 * cost / (residuals - unknowns);
    double lensCovariance[16], distortionCovariance = 0.0;
    covariance.GetCovarianceBlock(lens, lens, lensCovariance);
    if (settings.fitDistortion) {
        covariance.GetCovarianceBlock(distortion, distortion, &distortionCovariance);
    }
    result.focalSigma = std::sqrt(variance * lensCovariance[0]);
    result.principalPointSigma[0] = std::sqrt(variance * lensCovariance[10]);
    result.principalPointSigma[1] = std::sqrt(variance * lensCovariance[15]);
    result.distortionSigma = std::sqrt(variance * distortionCovariance);
    return true;
}

}  // namespace

std::vector<TargetPoint> boardTargetPoints(const BoardGeometry& board) {
    std::vector<TargetPoint> points;
    for (int n = 0; n < board.columns * board.rows; ++n) {
        points.push_back({static_cast<double>(n % board.columns) * board.square,
                          static_cast<double>(n / board.columns) * board.square});
    }
    return points;
}

namespace {

// What the fit moves: the focal lengths and the principal point (fx, fy, cx,
// cy), the pull of the lens on the frame's corners, the distortion centre
// and six pose values a view.
struct FitValues {
    double lens[4] = {};
    double distortion[1] = {};
    double centre[2] = {};
    std::vector<double> poses;
};

// Where the fit starts: an earlier fit's values, or OpenCV's calibration;
// what the settings hold still is set to its fixed value. 0, or -1 with
// `error` set.
int startValues(const std::vector<TargetPoint>& target,
                const std::vector<std::vector<BoardCorner>>& views, int width, int height,
                const FitSettings& settings, FitValues& values, double& startRms,
                std::string& error) {
    values.poses.assign(views.size() * 6, 0.0);
    if (settings.start != nullptr) {
        const CameraParam& c = settings.start->camera;
        const double from[4] = {c.mat[0][0], c.mat[1][1], c.mat[0][2], c.mat[1][2]};
        std::copy(from, from + 4, values.lens);
        values.distortion[0] = settings.start->cornerPull;
        for (size_t v = 0; v < views.size(); ++v) {
            std::copy(settings.start->poses.at(v).begin(), settings.start->poses[v].end(),
                      &values.poses[v * 6]);
        }
        startRms = settings.start->startRms;
    } else if (openCvStart(target, views, width, height, settings, values.lens,
                           values.distortion[0], values.poses, startRms, error) != 0) {
        return -1;
    }
    if (!settings.fitPrincipalPoint) {
        values.lens[2] = width / 2.0;
        values.lens[3] = height / 2.0;
    }
    if (!settings.fitDistortion) {
        values.distortion[0] = 0.0;
    }
    values.centre[0] = values.lens[2];
    values.centre[1] = values.lens[3];
    return 0;
}

// The problem: every corner of every view against its target point, with
// what the settings hold still held.
void addCorners(ceres::Problem& problem, const std::vector<TargetPoint>& target,
                const std::vector<std::vector<BoardCorner>>& views, double radiusSquared,
                const FitSettings& settings, FitValues& values) {
    for (size_t v = 0; v < views.size(); ++v) {
        for (size_t n = 0; n < target.size(); ++n) {
            const CornerResidual r{
                target[n].x,         target[n].y,         views[v][n].x,          views[v][n].y,
                1.0 / radiusSquared, !settings.fitCentre, settings.oneFocalLength};
            problem.AddResidualBlock(new ceres::AutoDiffCostFunction<CornerResidual, 2, 4, 1, 2, 6>(
                                         new CornerResidual(r)),
                                     nullptr, values.lens, values.distortion, values.centre,
                                     &values.poses[v * 6]);
        }
    }
    if (!settings.fitDistortion) {
        problem.SetParameterBlockConstant(values.distortion);
    }
    if (!settings.fitCentre || !settings.fitDistortion) {
        problem.SetParameterBlockConstant(values.centre);
    }
    std::vector<int> heldLens;
    if (settings.oneFocalLength) {
        heldLens.push_back(1);
    }
    if (!settings.fitPrincipalPoint) {
        heldLens.insert(heldLens.end(), {2, 3});
    }
    if (!heldLens.empty()) {
        problem.SetManifold(values.lens, new ceres::SubsetManifold(4, heldLens));
    }
}

// Solves the problem to convergence: 0, or -1 with `error` set.
int solve(ceres::Problem& problem, int& iterations, std::string& error) {
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
    iterations = static_cast<int>(summary.iterations.size());
    return 0;
}

// The camera record of the fitted values: 0, or -1 with `error` set when
// they make none.
int fittedCamera(const FitValues& values, int width, int height, double radiusSquared,
                 const FitSettings& settings, CameraParam& camera, std::string& error) {
    const double* lens = values.lens;
    const double* centre = values.centre;
    for (double value :
         {lens[0], lens[1], lens[2], lens[3], values.distortion[0], centre[0], centre[1]}) {
        if (!std::isfinite(value)) {
            error = "the fit gave a value that is no number";
            return -1;
        }
    }
    if (lens[0] <= 0.0 || lens[1] <= 0.0) {
        error = "the fit gave a focal length that is not positive";
        return -1;
    }
    camera = CameraParam{};
    camera.xsize = width;
    camera.ysize = height;
    camera.mat[0][0] = lens[0];
    camera.mat[0][2] = lens[2];
    camera.mat[1][1] = lens[1];
    camera.mat[1][2] = lens[3];
    camera.mat[2][2] = 1.0;
    const bool ownCentre = settings.fitCentre && settings.fitDistortion;
    camera.distFactor[0] = ownCentre ? centre[0] : lens[2];
    camera.distFactor[1] = ownCentre ? centre[1] : lens[3];
    camera.distFactor[2] = values.distortion[0] / radiusSquared * 1e8;
    camera.distFactor[3] = 1.0;
    return 0;
}

}  // namespace

int fitCamera(const std::vector<TargetPoint>& target,
              const std::vector<std::vector<BoardCorner>>& views, int width, int height,
              const FitSettings& settings, FitResult& result, std::string& error) {
    result = FitResult{};
    if (views.empty()) {
        error = "no views to fit";
        return -1;
    }
    for (const std::vector<BoardCorner>& view : views) {
        if (view.size() != target.size()) {
            error = "a view does not hold every point of the target";
            return -1;
        }
    }
    const double radiusSquared = cornerRadiusSquared(width, height);
    FitValues values;
    if (startValues(target, views, width, height, settings, values, result.startRms, error) != 0) {
        return -1;
    }
    ceres::Problem problem;
    addCorners(problem, target, views, radiusSquared, settings, values);
    if (solve(problem, result.iterations, error) != 0) {
        return -1;
    }
    if (settings.oneFocalLength) {
        values.lens[1] = values.lens[0];
    }
    if (fittedCamera(values, width, height, radiusSquared, settings, result.camera, error) != 0) {
        return -1;
    }
    double sum = 0.0;
    for (size_t v = 0; v < views.size(); ++v) {
        const double rms =
            viewReprojectionRms(result.camera, target, views[v], &values.poses[v * 6]);
        result.viewRms.push_back(rms);
        sum += rms * rms;
        std::array<double, 6>& pose = result.poses.emplace_back();
        std::copy(&values.poses[v * 6], &values.poses[v * 6] + 6, pose.begin());
    }
    result.rms = std::sqrt(sum / views.size());
    result.cornerPull = values.distortion[0];
    if (settings.estimateSigmas &&
        !estimateSigmas(problem, values.lens, values.distortion, settings, result)) {
        result.focalSigma = result.distortionSigma = INFINITY;
        result.principalPointSigma[0] = result.principalPointSigma[1] = INFINITY;
    }
    return 0;
}

int fitOneFocalLength(const std::vector<TargetPoint>& target,
                      const std::vector<std::vector<BoardCorner>>& views, int width, int height,
                      FitResult& result, bool& principalPoint, std::string& error) {
    FitSettings settings;
    settings.oneFocalLength = true;
    settings.estimateSigmas = true;
    settings.fitDistortion = false;
    principalPoint = true;
    if (fitCamera(target, views, width, height, settings, result, error) != 0) {
        return -1;
    }
    const double sigma = std::max(result.principalPointSigma[0], result.principalPointSigma[1]);
    if (sigma <= PRINCIPAL_POINT_SIGMA_MAX * width) {
        return 0;
    }
    principalPoint = settings.fitPrincipalPoint = false;
    const FitResult free = result;
    settings.start = &free;
    return fitCamera(target, views, width, height, settings, result, error);
}
