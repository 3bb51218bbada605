#pragma once

#include <new>
#include <opencv2/core.hpp>
#include <vector>

#include "bridge/scene_bridge.h"
#include "math/image_point.h"
#include "math/matrix.h"

// The bridge's working storage, sized at creation and reused every frame.
// Points are followed in a grey copy of the frame reduced by `scale` (a whole
// factor), where they are cheaper to follow and still accurate enough.
struct BridgeStorage {
    // A frame in grey at the working size and its pyramid for following,
    // built only when points are followed from or into it (`pyramidBuilt`).
    struct WorkPicture {
        cv::Mat grey;
        std::vector<cv::Mat> pyramid;
        bool pyramidBuilt = false;
    };

    int scale = 1;
    cv::Size workSize;
    int levels = 2;    // the following pyramid's levels above the working picture
    cv::Mat fullGrey;  // the frame in grey at its own size (when scale > 1)
    // The picture the points were last followed into (`at` lies in it), the
    // newest frame taken, and a sharp marker frame kept with its pose to
    // anchor on later (`holding`).
    WorkPicture base, incoming, held;
    bool hasPrevious = false;  // `base` holds a frame
    bool holding = false;
    Pose heldPose{};
    int framesSinceFill = 1 << 20;     // frames since new points were last picked
    int framesSinceRenewal = 1 << 20;  // marker frames since the points were last anchored
    int anchoringsInRow = 0;           // sharp marker frames anchored on since the last other frame

    // The followed points: where each is in the working picture, its place on
    // the marker's plane (marker units) and how many poses that place
    // averages (capped).
    std::vector<cv::Point2f> at;
    std::vector<cv::Point2d> plane;
    std::vector<int> weight;

    // Room for one frame's work.
    std::vector<cv::Point2f> followed, back, fresh;
    std::vector<unsigned char> foundForward, foundBack;
    std::vector<float> trackError;
    cv::Mat freeMask;  // where new points may go (not next to a followed one)
    std::vector<cv::Point2f> planePoints, idealPoints, inlierPoints;
    std::vector<cv::Point3f> objectPoints;
    std::vector<ImagePoint> fitImage;
    std::vector<unsigned char> inlier;
};

// Runs `step`, which calls OpenCV, and gives its status, or that of the
// exception leaving it: OutOfMemory when memory ran out (OpenCV's own
// "no memory" error or std::bad_alloc), OpenCvFailed for any other.
template <typename Step>
BridgeStatus guardOpenCv(Step&& step) noexcept {
    try {
        return step();
    } catch (const cv::Exception& error) {
        return error.code == cv::Error::StsNoMem ? BridgeStatus::OutOfMemory
                                                 : BridgeStatus::OpenCvFailed;
    } catch (const std::bad_alloc&) {
        return BridgeStatus::OutOfMemory;
    } catch (...) {
        return BridgeStatus::OpenCvFailed;
    }
}

// Keeps the followed points whose `marked` entry is set, in their order, and
// drops the others with their places and weights.
inline void keepMarkedPoints(BridgeStorage& storage, const std::vector<unsigned char>& marked) {
    size_t kept = 0;
    for (size_t i = 0; i < storage.at.size(); i++) {
        if (!marked[i])
            continue;
        storage.at[kept] = storage.at[i];
        storage.plane[kept] = storage.plane[i];
        storage.weight[kept] = storage.weight[i];
        kept++;
    }
    storage.at.resize(kept);
    storage.plane.resize(kept);
    storage.weight.resize(kept);
}

// Where a point of the working picture lies in the frame (observed pixels).
inline ImagePoint observedOfWork(const BridgeStorage& storage, cv::Point2f workPoint) {
    return {(workPoint.x + 0.5) * storage.scale - 0.5, (workPoint.y + 0.5) * storage.scale - 0.5};
}

// Where an observed pixel of the frame lies in the working picture.
inline cv::Point2f workOfObserved(const BridgeStorage& storage, ImagePoint observed) {
    return {static_cast<float>((observed.x + 0.5) / storage.scale - 0.5),
            static_cast<float>((observed.y + 0.5) / storage.scale - 0.5)};
}
