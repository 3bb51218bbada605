#pragma once

// A tool's progress line on the error stream ("frame N of M"), drawn only
// when that stream is a terminal, redrawn at most four times a second and
// removed by end().
class ToolProgress {
  public:
    explicit ToolProgress(long long total);
    // `done` frames of the total are done (the total 0: unknown).
    void show(long long done);
    void end();

  private:
    long long total;
    bool enabled;
    bool drawn = false;
    double lastDrawTime = 0.0;
};
