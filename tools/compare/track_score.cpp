#include "tools/compare/track_score.h"

#include <algorithm>
#include <cmath>

namespace {

// The median (the upper one of an even count) and the largest; NaN when empty.
void medianAndWorst(std::vector<double> values, double& median, double& worst) {
    if (values.empty()) {
        median = worst = NAN;
        return;
    }
    std::sort(values.begin(), values.end());
    median = values[values.size() / 2];
    worst = values.back();
}

}  // namespace

const char* verdictName(Verdict verdict) {
    switch (verdict) {
        case Verdict::Right:
            return "right";
        case Verdict::Held:
            return "held";
        case Verdict::False:
            return "false";
        case Verdict::Missed:
            return "missed";
        case Verdict::None:
            break;
    }
    return "none";
}

int scoreTrack(const std::vector<TruthRow>& truth, const std::vector<KeyRow>& track, int from,
               std::vector<FrameScore>& frames, ClipScore& clip, std::string& error) {
    if (from < 0 || static_cast<size_t>(from) + track.size() > truth.size()) {
        error = "the track has " + std::to_string(track.size()) + " rows, the truth " +
                std::to_string(truth.size()) + " frames, from frame " + std::to_string(from) +
                " on only " + std::to_string(std::max<long>(0, truth.size() - from));
        return -1;
    }
    frames.clear();
    clip = ClipScore{};
    std::vector<double> rotations, positions;
    for (size_t i = 0; i < track.size(); ++i) {
        const size_t n = from + i;
        const TruthRow& t = truth[n];
        FrameScore f{static_cast<int>(n), t.visible ? Verdict::Missed : Verdict::None, NAN, NAN};
        clip.visible += t.visible;
        if (track[i].found) {
            f.rotation = orientationError(t.keys, keysOf(track[i]));
            f.position = positionError(t.keys, keysOf(track[i]));
            rotations.push_back(f.rotation);
            positions.push_back(f.position);
            const bool near =
                f.rotation <= FALSE_ANGLE_DEGREES && f.position <= FALSE_DISTANCE_FRACTION;
            const bool held = !t.visible && heldAfterLoss(truth, n);
            f.verdict = near && (t.visible || held) ? (t.visible ? Verdict::Right : Verdict::Held)
                                                    : Verdict::False;
            clip.found++;
            clip.right += f.verdict == Verdict::Right;
            clip.held += f.verdict == Verdict::Held;
            clip.falseFinds += f.verdict == Verdict::False;
            clip.outOfViewRight += near && !t.visible && !held;
        }
        frames.push_back(f);
    }
    clip.frames = static_cast<int>(track.size());
    medianAndWorst(rotations, clip.rotationMedian, clip.rotationWorst);
    medianAndWorst(positions, clip.positionMedian, clip.positionWorst);
    return 0;
}
