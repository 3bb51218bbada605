#pragma once

// A frame: width x height pixels, 4 bytes each in the order blue, green, red,
// alpha (always 255), rows top to bottom with no padding; pixel (x, y) starts
// at byte 4 * (y * width + x). Owned by the frame source, which reuses it for
// every frame; detection reads it only during a call.
struct FrameImage {
    unsigned char* pixels;
    int width;
    int height;
};
