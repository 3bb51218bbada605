#pragma once

#include "bridge/bridge_storage.h"
#include "camera/camera_param.h"

// What a bridged camera must have to be taken.
struct BridgeLimits {
    int pointsMin = 20;           // points that agree with it
    double shareMin = 0.3;        // of those followed
    double inlierDistance = 3.0;  // ideal pixels a point may lie from its place, per working scale
    double errorMax = 2.0;        // their root mean square distance, per working scale
    double spreadMin = 0.3;       // of the picture's width and height their box must span
};

// The camera fitted to the followed points (their ideal coordinates through
// our camera model): random samples of four points (OpenCV's RANSAC) find
// the plane's homography most of them agree with, a planar pose is fitted to
// those, then all six values are refined through our projection on the
// points that agree with it (twice, the second time on the points that agree
// with the first refinement). storage.inlier marks the points used. Taken
// only within `limits`, checked in this order: at least pointsMin points
// followed, found on a plane and agreeing (else TooFewPoints, NoPlane,
// PoseBrokeDown), at least shareMin of them agreeing (TooFewAgree), within
// errorMax (TooFar), spread over the picture (TooClustered). A failed fit
// says how many points there were.
BridgeFit fitBridgePose(BridgeStorage& storage, const CameraParam& camera,
                        const BridgeLimits& limits);
