#pragma once

// Each source opens its input, sets the tracker up for the frame size and
// tracks every frame, frame 0 first. 0 when every frame was read and tracked;
// 1 after a failure that the source has reported itself (and paused for).

int trackMovie(const char* patternName, double patternWidth, const char* movieName);
int trackImage(const char* patternName, double patternWidth, const char* imageName);

// Converts one decoded scan line of `pixelCount` pixels (red, green, blue)
// into frame pixels (blue, green, red, 255) at `write`, and moves `write`
// past them.
void rgbRowToFrame(unsigned char*& write, const unsigned char* line, int pixelCount);

// Converts `height` rows of `width` 3-byte pixels (blue, green, red), top row
// first and `stride` bytes apart, into the frame: the same three bytes, then
// 255, rows unpadded.
void dibToFrame(const unsigned char* rows, int stride, unsigned char* frame, int width, int height);
