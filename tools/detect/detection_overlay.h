#pragma once

#include "camera/camera_param.h"
#include "image/frame_image.h"
#include "marker/detection_trace.h"
#include "marker/marker_info.h"
#include "tools/common/image_io.h"

// Draws what the last detection pass saw over a faded copy of the frame:
// the dark regions (each in its own tint), the square candidates' contours
// (yellow) with their corner pixels (orange), the fitted corners (red, the
// first marker-ordered corner in green) and each marker's id, direction and
// confidence next to it. `camera` is the one detection worked for (its lens
// model turns the ideal corners back into frame pixels).
RgbImage drawDetection(const FrameImage& frame, const CameraParam& camera,
                       const DetectionTrace& trace, const MarkerInfo* markers, int count);

// Draws the sides of `refined` markers (edge refinement's, ideal coordinates)
// in cyan over `image`, bent through the lens as the frame shows them, with
// a cyan cross at each refined corner, beside the plain corners drawDetection
// put there.
void drawRefinedEdges(RgbImage& image, const CameraParam& camera, const MarkerInfo* refined,
                      int count);
