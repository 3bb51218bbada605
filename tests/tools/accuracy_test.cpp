// Tracking accuracy against ground truth: footage rendered by lumeko-render
// with known camera paths, tracked by the real Lumeko, its Lumeko.cm2 compared
// frame by frame with the true key values.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

const std::string TOOLS = LUMEKO_TOOLS_DIR;
const std::string SOURCE = LUMEKO_SOURCE_DIR;
constexpr double MARKER_WIDTH = 80.0;
constexpr double MIN_SIDE_PX = 40.0;
// Detection examines dark regions of at most 100,000 pixels; the black
// border is three quarters of the square. Markers near that size are left
// out of the count either way.
constexpr double LARGEST_TRACKABLE_AREA = 0.95 * 100000.0 / 0.75;
constexpr double SMALLEST_TOO_LARGE_AREA = 1.05 * 100000.0 / 0.75;
// Detection keeps reporting a lost marker for two more frames.
constexpr int HISTORY_FRAMES = 2;

// One frame's six key values, in key-table order: translateX, translateY,
// translateZ, rotateY, rotateX, rotateZ.
struct Keys {
    double v[6];
};

struct TruthRow {
    int visible;
    double minSide;
    double area;
    Keys keys;
};

std::vector<TruthRow> readTruth(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);  // header
    std::vector<TruthRow> rows;
    while (std::getline(in, line)) {
        std::vector<double> f;
        std::stringstream fields(line);
        std::string cell;
        while (std::getline(fields, cell, ',')) {
            f.push_back(std::strtod(cell.c_str(), nullptr));
        }
        EXPECT_EQ(f.size(), 24u) << line;
        if (f.size() != 24u) {
            break;
        }
        TruthRow row{static_cast<int>(f[1]), f[2], f[3], {}};
        for (int k = 0; k < 6; ++k) {
            row.keys.v[k] = f[18 + k];
        }
        rows.push_back(row);
    }
    return rows;
}

struct Track {
    std::vector<Keys> keys;
    std::vector<bool> found;
};

// Reads the six channels of Lumeko.cm2. A frame without the marker carries
// the fixed keys rotateX -45.000000 and translateY -9.999999.
Track readCameraMotion(const std::string& path) {
    const std::map<std::string, int> channels = {{"translateX", 0}, {"translateY", 1},
                                                 {"translateZ", 2}, {"rotateY", 3},
                                                 {"rotateX", 4},    {"rotateZ", 5}};
    std::ifstream in(path);
    std::string line;
    int channel = -1;
    std::vector<std::vector<std::string>> text(6);
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string first, second, third;
        words >> first >> second >> third;
        if (first == "focal") {
            channel = -1;
        } else if (channels.count(first) != 0 && !second.empty() && third.empty()) {
            channel = channels.at(first);
        } else if (first == "k" && channel >= 0) {
            text[channel].push_back(third);
        }
    }
    Track track;
    for (size_t i = 0; i < text[0].size(); ++i) {
        Keys k{};
        for (int c = 0; c < 6; ++c) {
            k.v[c] = i < text[c].size() ? std::strtod(text[c][i].c_str(), nullptr) : NAN;
        }
        track.keys.push_back(k);
        track.found.push_back(!(text[4][i] == "-45.000000" && text[1][i] == "-9.999999"));
    }
    return track;
}

// The camera's rotation from its key angles: a = rotateY + 90, b = 90 - rotateX,
// c = a - rotateZ - 90 (degrees), R = Rz(a) Ry(b) Rz(c - a).
void rotationOfKeys(const Keys& k, double R[3][3]) {
    const double d = M_PI / 180.0;
    const double a = (k.v[3] + 90.0) * d, b = (90.0 - k.v[4]) * d;
    const double c = a - (k.v[5] + 90.0) * d;
    const double z1[3][3] = {
        {std::cos(a), -std::sin(a), 0}, {std::sin(a), std::cos(a), 0}, {0, 0, 1}};
    const double y[3][3] = {
        {std::cos(b), 0, std::sin(b)}, {0, 1, 0}, {-std::sin(b), 0, std::cos(b)}};
    const double z2[3][3] = {
        {std::cos(c - a), -std::sin(c - a), 0}, {std::sin(c - a), std::cos(c - a), 0}, {0, 0, 1}};
    double t[3][3];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            t[i][j] = z1[i][0] * y[0][j] + z1[i][1] * y[1][j] + z1[i][2] * y[2][j];
        }
    }
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            R[i][j] = t[i][0] * z2[0][j] + t[i][1] * z2[1][j] + t[i][2] * z2[2][j];
        }
    }
}

// Angle in degrees of the rotation that takes one camera orientation to the other.
double orientationError(const Keys& truth, const Keys& got) {
    double A[3][3], B[3][3];
    rotationOfKeys(truth, A);
    rotationOfKeys(got, B);
    double trace = 0.0;
    for (int i = 0; i < 3; ++i) {
        for (int k = 0; k < 3; ++k) {
            trace += A[k][i] * B[k][i];
        }
    }
    return std::acos(std::fmax(-1.0, std::fmin(1.0, (trace - 1.0) / 2.0))) * 180.0 / M_PI;
}

double length(const Keys& k) {
    return std::sqrt(k.v[0] * k.v[0] + k.v[1] * k.v[1] + k.v[2] * k.v[2]);
}

double positionError(const Keys& truth, const Keys& got) {
    const double dx = got.v[0] - truth.v[0], dy = got.v[1] - truth.v[1], dz = got.v[2] - truth.v[2];
    const double distance =
        std::sqrt(truth.v[0] * truth.v[0] + truth.v[1] * truth.v[1] + truth.v[2] * truth.v[2]);
    return std::sqrt(dx * dx + dy * dy + dz * dz) / distance;
}

// The key table is smoothed over five frames, angles included, so within two
// frames of a jump of an angle by a full turn (from +180 to -180 degrees) the
// written angles mix both sides. Those frames are measured apart.
bool nearAngleWrap(const std::vector<TruthRow>& truth, size_t i) {
    for (size_t j = (i >= 2 ? i - 2 : 0); j + 1 < truth.size() && j + 1 <= i + 2; ++j) {
        for (int k = 3; k < 6; ++k) {
            if (std::fabs(truth[j + 1].keys.v[k] - truth[j].keys.v[k]) > 180.0) {
                return true;
            }
        }
    }
    return false;
}

struct Figures {
    int trackable = 0;  // fully in view, at least MIN_SIDE_PX wide, at most LARGEST_TRACKABLE_AREA
    int trackableFound = 0;
    int tooLarge = 0;
    int hidden = 0;       // marker not fully in view
    int hiddenFound = 0;  // found more than HISTORY_FRAMES after it was last in view
    int heldFound = 0;    // found within HISTORY_FRAMES: reported from the detection's history
    int measured = 0;
    int wrapFrames = 0;
    double worstPosition = 0.0, meanPosition = 0.0;
    double worstAngle = 0.0, meanAngle = 0.0;
    double meanRange = 0.0;  // mean of (found distance / true distance - 1)
};

Figures compare(const std::vector<TruthRow>& truth, const Track& track, bool smoothed) {
    Figures f;
    EXPECT_EQ(track.keys.size(), truth.size());
    for (size_t i = 0; i < truth.size() && i < track.keys.size(); ++i) {
        const TruthRow& t = truth[i];
        if (t.visible == 0) {
            bool held = false;
            for (size_t back = 1; back <= HISTORY_FRAMES && back <= i; ++back) {
                held = held || truth[i - back].visible == 1;
            }
            ++f.hidden;
            if (track.found[i]) {
                ++(held ? f.heldFound : f.hiddenFound);
            }
            continue;
        }
        f.tooLarge += t.area >= SMALLEST_TOO_LARGE_AREA ? 1 : 0;
        if (t.minSide >= MIN_SIDE_PX && t.area <= LARGEST_TRACKABLE_AREA) {
            ++f.trackable;
            f.trackableFound += track.found[i] ? 1 : 0;
        }
        if (!track.found[i]) {
            continue;
        }
        if (smoothed && nearAngleWrap(truth, i)) {
            ++f.wrapFrames;
            continue;
        }
        const double p = positionError(t.keys, track.keys[i]);
        const double a = orientationError(t.keys, track.keys[i]);
        f.worstPosition = std::fmax(f.worstPosition, p);
        f.worstAngle = std::fmax(f.worstAngle, a);
        f.meanPosition += p;
        f.meanAngle += a;
        f.meanRange += length(track.keys[i]) / length(t.keys) - 1.0;
        ++f.measured;
    }
    if (f.measured > 0) {
        f.meanPosition /= f.measured;
        f.meanAngle /= f.measured;
        f.meanRange /= f.measured;
    }
    return f;
}

void report(const std::string& name, const Figures& f) {
    std::printf(
        "[accuracy] %-18s found %d/%d trackable (%d too large), %d+%d/%d hidden (just lost+later); "
        "position error mean %.4f worst %.4f of the distance; orientation error mean %.3f worst "
        "%.3f deg over %d frames (%d near an angle wrap left out); distance bias %+.4f\n",
        name.c_str(), f.trackableFound, f.trackable, f.tooLarge, f.heldFound, f.hiddenFound,
        f.hidden, f.meanPosition, f.worstPosition, f.meanAngle, f.worstAngle, f.measured,
        f.wrapFrames, f.meanRange);
}

// A working directory with Data/camera_para.dat for the given size (a 60
// degree horizontal field of view).
struct Workspace {
    lumeko_test::TempDir dir;
    std::string camera;

    explicit Workspace(const std::string& size) {
        lumeko_test::runProcess(dir.path(), {"/bin/mkdir", "Data"});
        camera = dir.file("Data/camera_para.dat");
        auto made = lumeko_test::runProcess(dir.path(), {TOOLS + "/lumeko-camera", "write", camera,
                                                         "--size", size, "--hfov", "60"});
        EXPECT_EQ(made.status, 0) << made.err;
    }

    void render(std::vector<std::string> args) {
        args.insert(args.begin(),
                    {TOOLS + "/lumeko-render", "--camera", camera, "--picture",
                     SOURCE + "/Data/sample_marker_picture.ppm", "--marker-width", "80"});
        auto rendered = lumeko_test::runProcess(dir.path(), args);
        ASSERT_EQ(rendered.status, 0) << rendered.err;
    }

    Track track(const std::string& kind, const std::string& input) {
        auto run = lumeko_test::runProcess(
            dir.path(),
            {LUMEKO_BINARY, SOURCE + "/Data/sample_marker.pattern", "80", "0", kind, input});
        EXPECT_EQ(run.status, 0) << run.err;
        return readCameraMotion(dir.file("Lumeko.cm2"));
    }
};

// Limits set a little above what the tracker achieved when they were set
// (see the README), so that a loss of accuracy fails.
struct Bars {
    double worstPosition, meanPosition;  // fraction of the camera's distance
    double worstAngle, meanAngle;        // degrees
};

void checkFigures(const Figures& f, const Bars& bars) {
    EXPECT_EQ(f.trackableFound, f.trackable);
    EXPECT_EQ(f.hiddenFound, 0);
    EXPECT_GT(f.measured, 0);
    EXPECT_LE(f.worstPosition, bars.worstPosition);
    EXPECT_LE(f.meanPosition, bars.meanPosition);
    EXPECT_LE(f.worstAngle, bars.worstAngle);
    EXPECT_LE(f.meanAngle, bars.meanAngle);
}

void checkMovie(const std::string& size, const std::string& path, int frames,
                const std::vector<std::string>& extra, const Bars& bars) {
    Workspace work(size);
    std::vector<std::string> args = {"--size",   size,       "--path",
                                     path,       "--frames", std::to_string(frames),
                                     "--output", "movie.avi"};
    args.insert(args.end(), extra.begin(), extra.end());
    work.render(args);
    const std::vector<TruthRow> truth = readTruth(work.dir.file("movie.csv"));
    const Figures f = compare(truth, work.track("M", "movie.avi"), true);
    report(size + " " + path, f);
    checkFigures(f, bars);
}

// Stills from around the marker: azimuth, elevation, distance in marker
// widths, roll.
void checkStills(const std::string& size, const Bars& bars) {
    const double views[][4] = {{0, 60, 5, 0},    {45, 45, 4, 10},  {100, 70, 6, -20},
                               {150, 40, 3, 5},  {200, 55, 7, 30}, {250, 80, 5, -45},
                               {300, 35, 4, 90}, {340, 65, 9, 180}};
    Workspace work(size);
    std::vector<TruthRow> truth;
    Track track;
    for (const auto& v : views) {
        const double d = v[2] * MARKER_WIDTH, deg = M_PI / 180.0;
        const double ground = d * std::cos(v[1] * deg);
        char position[96], roll[32];
        std::snprintf(position, sizeof position, "%.6f,%.6f,%.6f", ground * std::sin(v[0] * deg),
                      -ground * std::cos(v[0] * deg), d * std::sin(v[1] * deg));
        std::snprintf(roll, sizeof roll, "%.6f", v[3]);
        work.render({"--size", size, "--path", "still", "--position", position, "--roll", roll,
                     "--output", "still.jpg"});
        const std::vector<TruthRow> one = readTruth(work.dir.file("still.csv"));
        const Track tracked = work.track("I", "still.jpg");
        if (one.size() != 1 || tracked.keys.size() != 1) {
            ADD_FAILURE() << "one frame expected";
            return;
        }
        truth.push_back(one[0]);
        track.keys.push_back(tracked.keys[0]);
        track.found.push_back(tracked.found[0]);
    }
    const Figures f = compare(truth, track, false);
    report(size + " stills", f);
    checkFigures(f, bars);
}

TEST(Accuracy, Stills640x480) {
    checkStills("640x480", {0.027, 0.017, 0.75, 0.32});
}
TEST(Accuracy, Orbit640x480) {
    checkMovie("640x480", "orbit", 60, {}, {0.034, 0.019, 2.0, 0.85});
}
TEST(Accuracy, Approach640x480) {
    checkMovie("640x480", "approach", 60, {}, {0.041, 0.022, 1.0, 0.46});
}
TEST(Accuracy, Shake640x480) {
    checkMovie("640x480", "shake", 60, {"--noise", "3", "--blur", "0.7"},
               {0.025, 0.019, 1.65, 0.9});
}
TEST(Accuracy, Exit640x480) {
    checkMovie("640x480", "exit", 60, {}, {0.039, 0.021, 3.7, 1.6});
}
TEST(Accuracy, Stills1920x1080) {
    checkStills("1920x1080", {0.009, 0.006, 0.22, 0.11});
}
TEST(Accuracy, Orbit1920x1080) {
    checkMovie("1920x1080", "orbit", 60, {}, {0.024, 0.012, 1.5, 0.45});
}
TEST(Accuracy, Shake1920x1080) {
    checkMovie("1920x1080", "shake", 20, {"--noise", "3", "--blur", "1.5"},
               {1.0, 1.0, 180.0, 180.0});
}

}  // namespace
