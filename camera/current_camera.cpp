// The default camera instance behind the documented single-camera interface:
// arSetCameraParam makes a copy of a camera current, and the wrappers that keep
// the old signatures (arMarkerPose without a camera, the working size) read it.
// Code that holds its own CameraParam never touches this state.

#include "camera/camera_param.h"

namespace {

// The current camera; all zero until the first arSetCameraParam. The working
// size is its xsize and ysize.
CameraParam currentCamera;

}  // namespace

int arSetCameraParam(const CameraParam& param) {
    currentCamera = param;
    return 0;
}

const CameraParam& arCurrentCameraParam() {
    return currentCamera;
}

int arWorkingWidth() {
    return currentCamera.xsize;
}

int arWorkingHeight() {
    return currentCamera.ysize;
}
