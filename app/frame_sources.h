#pragma once

// Each source opens its input, sets the tracker up for the frame size and
// tracks every frame, frame 0 first. 0 when every frame was read and tracked;
// 1 after a failure that the source has reported itself (and paused for).

int trackMovie(const char* patternName, double patternWidth, const char* movieName);
int trackImage(const char* patternName, double patternWidth, const char* imageName);
