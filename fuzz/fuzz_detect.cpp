// Detection and pose on small frames: a few frames in a row through one
// Detector (the history carries across calls) and the tracking step. Every
// pass succeeds or fails as a status; every marker's fields are in range; any
// marker's pose is finite or a failure; a found row's camera values are finite.

#include <cmath>
#include <memory>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "marker/detector.h"
#include "pose/marker_pose.h"
#include "track/tracker.h"

namespace {}  // namespace

// Input: width and height (16..143), threshold, frame count (1..4), a lens
// factor, then grey pixels row by row, frame after frame; white where the
// input has run out.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Bytes in(data, size);
    const int width = 16 + in.byte() % 128, height = 16 + in.byte() % 128;
    const int threshold = in.byte();
    const int frames = 1 + in.byte() % 4;
    const double lens = in.byte() % 32;
    CameraParam camera{
        width,
        height,
        {{0.9 * width, 0, width / 2.0, 0}, {0, 0.9 * width, height / 2.0, 0}, {0, 0, 1, 0}},
        {width / 2.0, height / 2.0, lens * 640.0 * 640.0 / (width * width), 1.0}};
    if (!arCheckCameraParam(camera).ok())
        camera.distFactor[2] = 0.0;
    DetectorSettings settings;
    settings.threshold = threshold;
    std::unique_ptr<Detector> detector = Detector::create(camera, settings);
    fuzz::require(detector != nullptr, "a detector for a small frame");
    const PatternLoad load = detector->loadPattern(LUMEKO_SOURCE_DIR "/Data/sample_marker.pattern");
    fuzz::require(load.ok() && load.id == 0, "the sample pattern loads");
    const int id = load.id;

    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 4);
    FrameImage frame{pixels.data(), width, height};
    TrackerState state;
    state.patternId = id;
    state.patternWidth = 80.0;
    for (int f = 0; f < frames; f++) {
        for (size_t p = 0; p < pixels.size(); p += 4) {
            const unsigned char grey = in.left() > 0 ? in.byte() : 255;
            pixels[p] = pixels[p + 1] = pixels[p + 2] = grey;
            pixels[p + 3] = 255;
        }
        const MarkerInfo* markers = nullptr;
        int count = -1;
        if (detector->detect(frame, &markers, &count) != MarkerStatus::Ok) {
            fuzz::require(count == 0, "a failed pass reports no marker");
            continue;
        }
        fuzz::require(count >= 0 && (count == 0 || markers != nullptr), "a list of markers");
        for (int m = 0; m < count; m++) {
            const MarkerInfo& marker = markers[m];
            fuzz::require(marker.id == -1 || marker.id == id, "ids are loaded patterns");
            fuzz::require(marker.direction >= -1 && marker.direction <= 3, "directions in range");
            fuzz::require(std::isfinite(marker.confidence), "confidence is finite");
            MarkerSquare square{};
            square.direction = marker.direction;
            for (int k = 0; k < 4; k++) {
                square.vertices[k] = marker.vertices[k];
                square.edgeLines[k] = marker.edgeLines[k];
            }
            const PoseFit fit = arMarkerPose(camera, square, {0.0, 0.0}, 80.0);
            fuzz::require(!fit.ok() || (std::isfinite(fit.error) && fuzz::finitePose(fit.pose)),
                          "a marker's pose is finite or a failure");
        }
        const KeyRow key = trackMarkers(state, camera, markers, count);
        if (key.found == 1) {
            fuzz::require(std::isfinite(key.translateX) && std::isfinite(key.translateY) &&
                              std::isfinite(key.translateZ) && std::isfinite(key.rotateX) &&
                              std::isfinite(key.rotateY) && std::isfinite(key.rotateZ),
                          "a found row's camera values are finite");
        }
    }
    return 0;
}
