// Dim and flat footage: clips rendered by lumeko-render with the brightness scaled
// (--gain) and the blacks lifted (--black), tracked by the real Lumeko with and without
// --auto-threshold, its Lumeko.cm2 compared frame by frame with the true key values.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "tests/support/test_support.h"
#include "tests/tools/truth_table.h"
#include "track/camera_motion_reader.h"

namespace {

using namespace lumeko_test;

// How one track of a clip went against the truth.
struct Outcome {
    std::string cm2;
    int trackable = 0, trackableFound = 0, hiddenFound = 0, found = 0;
    double meanPosition = 0.0, meanAngle = 0.0;  // over the visible frames found
};

struct Exposure {
    const char* name;
    const char* gain;
    const char* black;
};

constexpr Exposure NORMAL{"normal", "1", "0"};
constexpr Exposure DIM{"dim_0.3", "0.3", "0"};
constexpr Exposure HALF_DIM{"dim_0.45", "0.45", "0"};  // paper near 100: partly found at 100
constexpr Exposure FLAT{"flat_120", "1", "120"};
constexpr Exposure DIM_FLAT{"dim_flat_0.4_120", "0.4", "120"};

class Clips {
  public:
    Clips() {
        std::filesystem::create_directory(dir.file("Data"));
        mustRun(dir.path(), cameraCommand("Data/camera_para.dat", "640x480"));
    }
    // Renders `path` once per exposure and tracks it with `options` once.
    const Outcome& track(const std::string& path, const Exposure& exposure, bool autoThreshold) {
        const std::string clip = path + "_" + exposure.name;
        const std::string key = clip + (autoThreshold ? "_auto" : "");
        if (outcomes.count(key))
            return outcomes[key];
        if (!std::filesystem::exists(dir.file(clip + ".avi")))
            mustRun(dir.path(), renderCommand("Data/camera_para.dat",
                                              {"--path", path, "--frames", "24", "--noise", "2",
                                               "--gain", exposure.gain, "--black", exposure.black,
                                               "--output", clip + ".avi"}));
        std::vector<std::string> lumeko{LUMEKO_BINARY};
        if (autoThreshold)
            lumeko.push_back("--auto-threshold");
        lumeko.insert(lumeko.end(), {LUMEKO_SOURCE_DIR "/Data/sample_marker.pattern", "80", "0",
                                     "M", clip + ".avi"});
        mustRun(dir.path(), lumeko);
        const std::vector<TruthRow> truth = readTruthTable(dir.file(clip + ".csv"));
        Outcome& outcome = outcomes[key];
        outcome.cm2 = readFile(dir.file("Lumeko.cm2"));
        CameraMotion motion;
        std::string error;
        if (parseCameraMotion(outcome.cm2, motion, error) != 0 ||
            motion.rows.size() != truth.size())
            throw std::runtime_error(clip + ": " + error);
        int measured = 0;
        for (size_t i = 0; i < truth.size(); ++i) {
            const TruthRow& t = truth[i];
            const bool found = motion.rows[i].found == 1;
            outcome.found += found;
            outcome.hiddenFound += !t.visible && found && !heldAfterLoss(truth, i);
            if (t.visible && t.minSide >= 40.0) {
                outcome.trackable++;
                outcome.trackableFound += found;
            }
            if (t.visible && found) {
                outcome.meanPosition += positionError(t.keys, keysOf(motion.rows[i]));
                outcome.meanAngle += orientationError(t.keys, keysOf(motion.rows[i]));
                measured++;
            }
        }
        if (measured > 0) {
            outcome.meanPosition /= measured;
            outcome.meanAngle /= measured;
        }
        std::printf(
            "[exposure] %s%s: found %d (%d of %d trackable, %d out of view); position "
            "%.4f, angle %.3f (means)\n",
            clip.c_str(), autoThreshold ? " --auto-threshold" : "", outcome.found,
            outcome.trackableFound, outcome.trackable, outcome.hiddenFound, outcome.meanPosition,
            outcome.meanAngle);
        return outcome;
    }

  private:
    TempDir dir;
    std::map<std::string, Outcome> outcomes;
};

Clips& clips() {
    static Clips shared;
    return shared;
}

struct Clip {
    const char* path;
    std::vector<Exposure> exposures;
};

void PrintTo(const Clip& clip, std::ostream* out) {
    *out << clip.path;
}

class AutoThreshold : public testing::TestWithParam<Clip> {};

// Without the option the fixed threshold loses dim and flat clips; with it every
// trackable frame is found, nothing out of view, and the pose is as good as at
// normal exposure. At normal exposure the option changes not a byte.
TEST_P(AutoThreshold, FindsTheMarkerInDimAndFlatClips) {
    const std::string path = GetParam().path;
    const Outcome& normal = clips().track(path, NORMAL, false);
    ASSERT_GE(normal.trackable, 8);
    EXPECT_EQ(normal.trackableFound, normal.trackable);
    EXPECT_EQ(clips().track(path, NORMAL, true).cm2, normal.cm2);
    for (const Exposure& exposure : GetParam().exposures) {
        SCOPED_TRACE(exposure.name);
        const Outcome& plain = clips().track(path, exposure, false);
        const Outcome& automatic = clips().track(path, exposure, true);
        EXPECT_EQ(automatic.trackableFound, automatic.trackable);
        EXPECT_EQ(automatic.hiddenFound, 0);
        EXPECT_GE(automatic.found, plain.found);
        EXPECT_LE(automatic.meanPosition, normal.meanPosition * 1.2 + 0.001);
        EXPECT_LE(automatic.meanAngle, normal.meanAngle * 1.2 + 0.05);
        if (exposure.name != std::string(HALF_DIM.name)) {
            EXPECT_EQ(plain.found, 0) << "found at the fixed threshold: the clip tests nothing";
        }
    }
}

// The exit path takes the marker out of the picture: no false find there.
INSTANTIATE_TEST_SUITE_P(Paths, AutoThreshold,
                         testing::Values(Clip{"exit", {DIM, FLAT}},
                                         Clip{"approach", {DIM, HALF_DIM, DIM_FLAT}}),
                         [](const testing::TestParamInfo<Clip>& info) {
                             return std::string(info.param.path);
                         });

}  // namespace
