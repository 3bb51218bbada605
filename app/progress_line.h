#pragma once

// A progress line on the error stream ("frame N of M, F fps"), drawn only
// when that stream is a terminal and redrawn at most four times a second.
class ProgressLine {
  public:
    ProgressLine();
    void show(long long framesDone, unsigned length);
    // Removes the line, so that a message can follow on a clean line.
    void erase();

  private:
    bool enabled;
    bool drawn = false;
    double startTime;
    double lastDrawTime = 0.0;
};
