#pragma once

// The progress line of Lumeko and the tools on the error stream ("frame N of
// M, F fps"), drawn only when that stream is a terminal, redrawn at most four
// times a second (and at the last frame), and removed by erase() so that a
// message can follow on a clean line.
class ProgressLine {
  public:
    ProgressLine();
    // `done` frames of `total` are done (0: the total is unknown).
    void show(long long done, long long total);
    void erase();

  private:
    bool enabled;
    bool drawn = false;
    double startTime;
    double lastDrawTime = 0.0;
};
