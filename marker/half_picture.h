#pragma once

#include "image/frame_image.h"

// `frame` at half its width and height (each rounded down) into `half`, whose
// pixels hold that many: each pixel the mean of the 2 x 2 pixels it covers,
// for a quick look at the frame at a quarter of the cost.
void arHalvePicture(const FrameImage& frame, FrameImage& half);
