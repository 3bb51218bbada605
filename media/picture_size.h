#pragma once

#include <optional>

#include "media/frame_source.h"

// The size of a picture file read from its header alone, without decoding
// it: PNG, JPEG, TIFF (the first picture), OpenEXR (the display window, as
// FFmpeg delivers it) and DPX (the first image element). None for other
// formats and for a header that is cut short or makes no sense.
std::optional<FrameSize> readPictureSize(const char* path);
