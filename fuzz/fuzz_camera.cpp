// The camera file: load (with its checks), resize to a frame size taken from
// the input, both distortion maps over the picture, and a pose through the
// camera. An accepted record keeps every promise of arCheckCameraParam; the
// maps stay finite over the picture; a pose is finite or a failure.

#include <cmath>
#include <string>

#include "camera/camera_param.h"
#include "camera/distortion.h"
#include "fuzz/fuzz_support.h"
#include "pose/marker_pose.h"

namespace {

EdgeLine lineThrough(ImagePoint p, ImagePoint q) {
    const double len = std::hypot(q.x - p.x, q.y - p.y);
    if (!(len > 0.0))
        return {1.0, 0.0, -p.x};
    EdgeLine line{(q.y - p.y) / len, (p.x - q.x) / len, 0.0};
    line.c = -(line.a * p.x + line.b * p.y);
    return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = fuzz::scratchPath("camera");
    const size_t recordBytes = size < CAMERA_PARAM_RECORD_SIZE ? size : CAMERA_PARAM_RECORD_SIZE;
    fuzz::writeScratch(path, data, recordBytes);
    fuzz::Bytes rest(data + recordBytes, size - recordBytes);

    CameraParam loaded;
    const CameraResult load = arLoadCameraParam(path.c_str(), 1, &loaded);
    if (!load.ok()) {
        fuzz::require(!load.reason.empty() && load.reason.find('\n') == std::string::npos,
                      "a refused record gives one line of reason");
        return 0;
    }
    fuzz::require(arCheckCameraParam(loaded).ok(), "a loaded record passes the check");

    // The lens map undoes itself over the picture, as the check promised.
    for (int i = 0; i < 8; i++) {
        const double ox = rest.between(0.0, loaded.xsize), oy = rest.between(0.0, loaded.ysize);
        double ix, iy, bx, by;
        arObservedToIdeal(loaded.distFactor, ox, oy, &ix, &iy);
        arIdealToObserved(loaded.distFactor, ix, iy, &bx, &by);
        fuzz::require(std::isfinite(ix) && std::isfinite(iy), "undistorted points are finite");
        fuzz::require(std::hypot(bx - ox, by - oy) <= 2.0 * CAMERA_LENS_ROUND_TRIP_MAX,
                      "the lens map undoes itself over the picture");
    }

    const int width = 1 + static_cast<int>(rest.u32() % 4096);
    const int height = 1 + static_cast<int>(rest.u32() % 4096);
    CameraParam camera;
    if (arResizeCameraParam(loaded, width, height, camera) != CameraStatus::Ok)
        return 0;
    for (const double* v = &camera.mat[0][0]; v != &camera.mat[0][0] + 12; v++)
        fuzz::require(std::isfinite(*v), "a resized matrix is finite");
    for (double f : camera.distFactor)
        fuzz::require(std::isfinite(f), "resized distortion factors are finite");

    // A marker: four observed corners in the frame, undistorted as detection does.
    MarkerSquare square{};
    square.direction = rest.byte() % 4;
    for (ImagePoint& vertex : square.vertices) {
        const double ox = rest.between(0.0, width), oy = rest.between(0.0, height);
        arObservedToIdeal(camera.distFactor, ox, oy, &vertex.x, &vertex.y);
        double bx, by;
        arIdealToObserved(camera.distFactor, vertex.x, vertex.y, &bx, &by);
        fuzz::require(std::isfinite(vertex.x) && std::isfinite(vertex.y) && std::isfinite(bx) &&
                          std::isfinite(by),
                      "both maps stay finite over the frame");
    }
    for (int k = 0; k < 4; k++)
        square.edgeLines[k] = lineThrough(square.vertices[k], square.vertices[(k + 1) % 4]);
    const double markerWidth = rest.between(1.0, 500.0);
    const PoseFit fit = arMarkerPose(camera, square, {0.0, 0.0}, markerWidth);
    if (!fit.ok())
        return 0;
    fuzz::require(std::isfinite(fit.error) && fuzz::finitePose(fit.pose), "a pose is finite");
    const PoseFit cont = arMarkerPoseCont(camera, square, fit.pose, {0.0, 0.0}, markerWidth);
    fuzz::require(!cont.ok() || (std::isfinite(cont.error) && fuzz::finitePose(cont.pose)),
                  "a continued pose is finite or a failure");
    return 0;
}
