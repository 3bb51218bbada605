#pragma once

// Conversions of decoded pixels into frame pixels (blue, green, red, 255).

// One scan line of `pixelCount` pixels (red, green, blue) into the frame at
// `write`, which then points past them.
void rgbRowToFrame(unsigned char*& write, const unsigned char* line, int pixelCount);

// `height` rows of `width` 3-byte pixels (blue, green, red), top row first
// and `stride` bytes apart, into the frame: the same three bytes, then 255,
// rows unpadded.
void dibToFrame(const unsigned char* rows, int stride, unsigned char* frame, int width, int height);
