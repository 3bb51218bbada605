#pragma once

#include "marker/frame_image.h"
#include "marker/marker_records.h"

// Sizes the label image for frames of up to width x height pixels. Called
// once at set-up; 0, or -1 for a size that is not positive.
int arInitLabeling(int width, int height);

// Binarises `frame` (dark: B + G + R <= 3 * threshold) and labels its
// 8-connected dark regions, leaving the outer border of the frame unlabelled.
// Returns the label image and fills `result`; returns null (and leaves
// `result` alone) when more than LABEL_MAX provisional labels are needed or
// the frame is larger than the storage sized by arInitLabeling.
const LabelValue* arLabelImage(const FrameImage& frame, int threshold, LabelResult* result);
