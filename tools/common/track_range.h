#pragma once

#include <string>

#include "track/camera_motion_reader.h"

// The tools that draw a track (lumeko-plot, lumeko-overlay) turn its keys into
// camera positions (key / TRANSLATION_SCALE), ranges and picture coordinates.
// A key so large that this arithmetic would overflow gives no picture but a
// wrong one, so such a track is refused first.

// The first row with the marker whose keys or camera position are too large
// to draw (four times the value must still be finite), as "row N, channel C:
// the value V is too large to draw"; empty when every row can be drawn. Rows
// are numbered from 0, as the file's keys are.
std::string rowBeyondDrawing(const CameraMotion& motion);
