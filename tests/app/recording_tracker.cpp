#include "tests/app/recording_tracker.h"

#include "app/console.h"
#include "app/tracker.h"

namespace recording {

Record& record() {
    static Record theRecord;
    return theRecord;
}

void reset() {
    record() = Record{};
}

}  // namespace recording

void setupTracker(const char* patternName, double patternWidth, int width, int height) {
    recording::record().setups.push_back({patternName, patternWidth, width, height});
}

void trackFrame(const FrameImage& frame) {
    const unsigned char* begin = frame.pixels;
    const unsigned char* end = frame.pixels + static_cast<size_t>(frame.width) * frame.height * 4;
    recording::record().frames.emplace_back(begin, end);
}

void waitForSpaceKey() {
    recording::record().pauses++;
}
