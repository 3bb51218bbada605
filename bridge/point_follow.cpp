#include "bridge/point_follow.h"

#include <algorithm>

#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>
#include <utility>

namespace {

const cv::Size WINDOW(FOLLOW_WINDOW, FOLLOW_WINDOW);

// The smaller eigenvalue of the mean gradient products over the 7 x 7 window
// around `point` (central differences).
double cornerStrength(const cv::Mat& grey, cv::Point2f point) {
    const int cx = cvRound(point.x), cy = cvRound(point.y);
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

BridgeStatus prepareFollowing(BridgeStorage& storage, int width, int height) {
    return guardOpenCv([&] {
        storage.scale =
            width > BRIDGE_WORK_WIDTH
                ? std::min((width + BRIDGE_WORK_WIDTH / 2) / BRIDGE_WORK_WIDTH, BRIDGE_SCALE_MAX)
                : 1;
        // At least a pixel high: a frame only a few rows high reduced to none
        // would make OpenCV's pyramid loop for ever.
        storage.workSize = cv::Size(width / storage.scale, std::max(1, height / storage.scale));
        storage.levels = FOLLOW_LEVELS;
        for (int span = 2 * BRIDGE_WORK_WIDTH; storage.workSize.width >= span; span *= 2)
            storage.levels++;
        if (storage.scale > 1)
            storage.fullGrey.create(height, width, CV_8UC1);
        storage.freeMask.create(storage.workSize, CV_8UC1);
        for (auto* points : {&storage.at, &storage.followed, &storage.back, &storage.fresh})
            points->reserve(BRIDGE_POINT_MAX);
        storage.plane.reserve(BRIDGE_POINT_MAX);
        storage.weight.reserve(BRIDGE_POINT_MAX);
        storage.foundForward.reserve(BRIDGE_POINT_MAX);
        storage.foundBack.reserve(BRIDGE_POINT_MAX);
        storage.trackError.reserve(BRIDGE_POINT_MAX);
        for (auto* points : {&storage.planePoints, &storage.idealPoints, &storage.inlierPoints})
            points->reserve(BRIDGE_POINT_MAX);
        storage.objectPoints.reserve(BRIDGE_POINT_MAX);
        storage.fitImage.reserve(BRIDGE_POINT_MAX);
        storage.inlier.reserve(BRIDGE_POINT_MAX);
        // A first pyramid of the working size for each picture, so that later
        // ones reuse its rows.
        for (auto* picture : {&storage.base, &storage.incoming, &storage.held}) {
            picture->grey.create(storage.workSize, CV_8UC1);
            picture->grey.setTo(0);
            cv::buildOpticalFlowPyramid(picture->grey, picture->pyramid, WINDOW, storage.levels);
        }
        return BridgeStatus::Ok;
    });
}

BridgeStatus takePicture(BridgeStorage& storage, const FrameImage& frame) {
    return guardOpenCv([&] {
        BridgeStorage::WorkPicture& picture = storage.incoming;
        const cv::Mat colour(frame.height, frame.width, CV_8UC4, frame.pixels);
        if (storage.scale == 1) {
            cv::cvtColor(colour, picture.grey, cv::COLOR_BGRA2GRAY);
        } else {
            cv::cvtColor(colour, storage.fullGrey, cv::COLOR_BGRA2GRAY);
            const cv::Size reduced = storage.workSize * storage.scale;
            cv::resize(storage.fullGrey(cv::Rect(0, 0, reduced.width, reduced.height)),
                       picture.grey, storage.workSize, 0.0, 0.0, cv::INTER_AREA);
        }
        picture.pyramidBuilt = false;
        return BridgeStatus::Ok;
    });
}

BridgeStatus followPoints(BridgeStorage& storage, bool predicted) {
    const bool first = !storage.hasPrevious;
    storage.hasPrevious = true;
    std::swap(storage.base, storage.incoming);
    if (first || storage.at.empty())
        return BridgeStatus::Ok;
    const std::vector<cv::Mat>& from = storage.incoming.pyramid;
    const std::vector<cv::Mat>& to = storage.base.pyramid;
    const BridgeStatus followed = guardOpenCv([&] {
        for (BridgeStorage::WorkPicture* picture : {&storage.incoming, &storage.base}) {
            // OpenCV's pyramid of a picture with no rows would never end.
            if (picture->grey.empty())
                return BridgeStatus::OpenCvFailed;
            if (!picture->pyramidBuilt)
                cv::buildOpticalFlowPyramid(picture->grey, picture->pyramid, WINDOW,
                                            storage.levels);
            picture->pyramidBuilt = true;
        }
        const cv::TermCriteria stop(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 20, 0.03);
        cv::calcOpticalFlowPyrLK(from, to, storage.at, storage.followed, storage.foundForward,
                                 storage.trackError, WINDOW, storage.levels, stop,
                                 predicted ? cv::OPTFLOW_USE_INITIAL_FLOW : 0);
        storage.back = storage.at;
        cv::calcOpticalFlowPyrLK(to, from, storage.followed, storage.back, storage.foundBack,
                                 storage.trackError, WINDOW, storage.levels, stop,
                                 cv::OPTFLOW_USE_INITIAL_FLOW);
        return BridgeStatus::Ok;
    });
    if (followed != BridgeStatus::Ok)
        return followed;
    // A point stays where both ways succeed, it lands inside the picture and
    // following it back returns it near where it was.
    for (size_t i = 0; i < storage.at.size(); i++) {
        const cv::Point2f landed = storage.followed[i];
        const bool inside = landed.x >= 0.0f && landed.y >= 0.0f &&
                            landed.x <= storage.workSize.width - 1.0f &&
                            landed.y <= storage.workSize.height - 1.0f;
        storage.foundForward[i] =
            storage.foundForward[i] && storage.foundBack[i] && inside &&
            cv::norm(storage.back[i] - storage.at[i]) <= FOLLOW_ROUND_TRIP_MAX;
    }
    std::swap(storage.at, storage.followed);
    keepMarkedPoints(storage, storage.foundForward);
    return BridgeStatus::Ok;
}

BridgeStatus findFreshCorners(BridgeStorage& storage) {
    storage.fresh.clear();
    const int room = BRIDGE_POINT_MAX - static_cast<int>(storage.at.size());
    if (room <= 0)
        return BridgeStatus::Ok;
    const BridgeStatus picked = guardOpenCv([&] {
        storage.freeMask.setTo(255);
        for (const cv::Point2f& followed : storage.at)
            cv::circle(storage.freeMask, followed, POINT_SPACING, cv::Scalar(0), cv::FILLED);
        cv::goodFeaturesToTrack(storage.base.grey, storage.fresh, room, 0.01, POINT_SPACING,
                                storage.freeMask, 5);
        return BridgeStatus::Ok;
    });
    if (picked != BridgeStatus::Ok) {
        storage.fresh.clear();
        return picked;
    }
    size_t kept = 0;
    for (const cv::Point2f& fresh : storage.fresh)
        if (cornerStrength(storage.base.grey, fresh) >= CORNER_STRENGTH_MIN)
            storage.fresh[kept++] = fresh;
    storage.fresh.resize(kept);
    return BridgeStatus::Ok;
}
