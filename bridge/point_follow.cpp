#include "bridge/point_follow.h"

#include <algorithm>

#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>
#include <utility>

namespace {

const cv::Size WINDOW(FOLLOW_WINDOW, FOLLOW_WINDOW);

// The smaller eigenvalue of the mean gradient products over the 7 x 7 window
// around p (central differences).
double cornerStrength(const cv::Mat& grey, cv::Point2f p) {
    const int cx = cvRound(p.x), cy = cvRound(p.y);
    if (cx < 4 || cy < 4 || cx >= grey.cols - 4 || cy >= grey.rows - 4)
        return 0.0;
    double xx = 0.0, xy = 0.0, yy = 0.0;
    for (int y = cy - 3; y <= cy + 3; y++) {
        const unsigned char* row = grey.ptr<unsigned char>(y);
        for (int x = cx - 3; x <= cx + 3; x++) {
            const double gx = 0.5 * (row[x + 1] - row[x - 1]);
            const double gy =
                0.5 * (grey.at<unsigned char>(y + 1, x) - grey.at<unsigned char>(y - 1, x));
            xx += gx * gx;
            xy += gx * gy;
            yy += gy * gy;
        }
    }
    xx /= 49.0;
    xy /= 49.0;
    yy /= 49.0;
    const double half = 0.5 * (xx + yy);
    const double spread = std::sqrt(0.25 * (xx - yy) * (xx - yy) + xy * xy);
    return half - spread;
}

}  // namespace

void prepareFollowing(BridgeStorage& s, int width, int height) {
    s.scale = width > BRIDGE_WORK_WIDTH ? (width + BRIDGE_WORK_WIDTH / 2) / BRIDGE_WORK_WIDTH : 1;
    // At least a pixel high: a frame only a few rows high reduced to none
    // would make OpenCV's pyramid loop for ever.
    s.workSize = cv::Size(width / s.scale, std::max(1, height / s.scale));
    if (s.scale > 1)
        s.fullGrey.create(height, width, CV_8UC1);
    s.grey.create(s.workSize, CV_8UC1);
    s.freeMask.create(s.workSize, CV_8UC1);
    for (auto* points : {&s.at, &s.followed, &s.back, &s.fresh})
        points->reserve(BRIDGE_POINT_MAX);
    s.plane.reserve(BRIDGE_POINT_MAX);
    s.weight.reserve(BRIDGE_POINT_MAX);
    s.status.reserve(BRIDGE_POINT_MAX);
    s.backStatus.reserve(BRIDGE_POINT_MAX);
    s.trackError.reserve(BRIDGE_POINT_MAX);
    for (auto* points : {&s.planePoints, &s.idealPoints, &s.inlierPoints})
        points->reserve(BRIDGE_POINT_MAX);
    s.objectPoints.reserve(BRIDGE_POINT_MAX);
    s.fitImage.reserve(BRIDGE_POINT_MAX);
    s.fitObject.reserve(2 * BRIDGE_POINT_MAX);
    s.inlier.reserve(BRIDGE_POINT_MAX);
    // A first pyramid of the working size, so that later ones reuse its rows.
    s.grey.setTo(0);
    cv::buildOpticalFlowPyramid(s.grey, s.pyramid, WINDOW, FOLLOW_LEVELS);
    cv::buildOpticalFlowPyramid(s.grey, s.previousPyramid, WINDOW, FOLLOW_LEVELS);
}

void takePicture(BridgeStorage& s, const FrameImage& frame) {
    std::swap(s.pyramid, s.previousPyramid);
    const cv::Mat colour(frame.height, frame.width, CV_8UC4, frame.pixels);
    if (s.scale == 1) {
        cv::cvtColor(colour, s.grey, cv::COLOR_BGRA2GRAY);
    } else {
        cv::cvtColor(colour, s.fullGrey, cv::COLOR_BGRA2GRAY);
        cv::resize(
            s.fullGrey(cv::Rect(0, 0, s.workSize.width * s.scale, s.workSize.height * s.scale)),
            s.grey, s.workSize, 0.0, 0.0, cv::INTER_AREA);
    }
    cv::buildOpticalFlowPyramid(s.grey, s.pyramid, WINDOW, FOLLOW_LEVELS);
}

void followPoints(BridgeStorage& s) {
    if (!s.hasPrevious || s.at.empty()) {
        s.hasPrevious = true;
        return;
    }
    const cv::TermCriteria stop(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 20, 0.03);
    cv::calcOpticalFlowPyrLK(s.previousPyramid, s.pyramid, s.at, s.followed, s.status, s.trackError,
                             WINDOW, FOLLOW_LEVELS, stop);
    s.back = s.at;
    cv::calcOpticalFlowPyrLK(s.pyramid, s.previousPyramid, s.followed, s.back, s.backStatus,
                             s.trackError, WINDOW, FOLLOW_LEVELS, stop,
                             cv::OPTFLOW_USE_INITIAL_FLOW);
    // A point stays where both ways succeed, it lands inside the picture and
    // following it back returns it near where it was.
    for (size_t i = 0; i < s.at.size(); i++) {
        const cv::Point2f p = s.followed[i];
        const bool inside = p.x >= 0.0f && p.y >= 0.0f && p.x <= s.workSize.width - 1.0f &&
                            p.y <= s.workSize.height - 1.0f;
        s.status[i] = s.status[i] && s.backStatus[i] && inside &&
                      cv::norm(s.back[i] - s.at[i]) <= FOLLOW_ROUND_TRIP_MAX;
    }
    std::swap(s.at, s.followed);
    keepMarkedPoints(s, s.status);
}

void findFreshCorners(BridgeStorage& s) {
    s.fresh.clear();
    const int room = BRIDGE_POINT_MAX - static_cast<int>(s.at.size());
    if (room <= 0)
        return;
    s.freeMask.setTo(255);
    for (const cv::Point2f& p : s.at)
        cv::circle(s.freeMask, p, POINT_SPACING, cv::Scalar(0), cv::FILLED);
    cv::goodFeaturesToTrack(s.grey, s.fresh, room, 0.01, POINT_SPACING, s.freeMask, 5);
    size_t kept = 0;
    for (const cv::Point2f& p : s.fresh)
        if (cornerStrength(s.grey, p) >= CORNER_STRENGTH_MIN)
            s.fresh[kept++] = p;
    s.fresh.resize(kept);
}
