#include "follow/direct_align.h"

#include <algorithm>
#include <cmath>

#include "camera/distortion.h"
#include "follow/shutter_drawing.h"

namespace {

// One pass of the alignment: how soft the drawing is (pixels), how many
// samples it takes at most and how many steps it may make.
struct AlignPass {
    double softness;
    int sampleMax;
    int stepMax;
};
constexpr AlignPass PASSES[] = {{2.5, 700, 12}, {0.8, FOLLOW_SAMPLE_MAX, 15}};

// Tukey's constant, in robust standard deviations.
constexpr double TUKEY = 4.685;
// The robust scale never falls below this share of the contrast: the
// drawing differs from a right frame by about that at edges (its softness,
// the picture known only as cells), and those samples must count.
constexpr double SCALE_SHARE_MIN = 0.06;
// How strongly the motion is held near the expected one, against what the
// frame says of it.
constexpr double MOTION_PULL = 0.05;
// Steps smaller than this (radians; share of the distance) have settled.
constexpr double SETTLED_TURN = 1e-5;
constexpr double SETTLED_SHIFT = 1e-5;
// A pass that runs out of steps has still converged when its last step was
// smaller than this: it creeps along a flat valley of the differences (the
// pose against the motion, on a noisy frame) by far less than it can tell.
constexpr double CREEPING_TURN = 1e-4;
constexpr double CREEPING_SHIFT = 1e-4;
// A pixel sees an edge of the drawing when the reflectance along its way
// over the shutter changes by this much, or changes by it over a pixel.
constexpr double INFORMATIVE_CHANGE = 0.02;
// Pixels looked at for each sample taken, and the share of the samples
// that see no edge.
constexpr double CANDIDATES_PER_SAMPLE = 6.0;
constexpr double FLAT_SHARE = 0.15;
// The share of the picture's half width (the square's central half) whose
// samples tell whether the picture matches: clear of the border's edge.
constexpr double PICTURE_SHARE = 0.9;
// Tries of a damped step before the pass gives up improving.
constexpr int TRY_MAX = 6;

struct Light {
    double dark = 0.0;
    double contrast = 0.0;
    double beyond = 0.0;
    // With a sloped light, how each of the three changes across the
    // samples, per `reach` (ideal pixels, their spread) from `centre` (their
    // mean), along x and y.
    bool sloped = false;
    double slopes[3][2] = {};
    double centre[2] = {};
    double reach = 1.0;
};

// Where a sample lies from the light's centre, in units of its reach.
void lightPlace(const FollowSample& p, const Light& light, double* u, double* v) {
    *u = (p.ideal[0] - light.centre[0]) / light.reach;
    *v = (p.ideal[1] - light.centre[1]) / light.reach;
}

bool observedOf(const CameraParam& camera, const Pose& pose, double x, double y, double* ox,
                double* oy) {
    double X[3];
    for (int r = 0; r < 3; r++)
        X[r] = pose.m[r][0] * x + pose.m[r][1] * y + pose.m[r][3];
    double h[3];
    for (int r = 0; r < 3; r++)
        h[r] = camera.mat[r][0] * X[0] + camera.mat[r][1] * X[1] + camera.mat[r][2] * X[2] +
               camera.mat[r][3];
    if (!(h[2] > 1e-9))
        return false;
    arIdealToObserved(camera.distFactor, h[0] / h[2], h[1] / h[2], ox, oy);
    return std::isfinite(*ox) && std::isfinite(*oy);
}

// Pixels a marker unit spans at the marker, from the square's sides.
double pixelsPerUnit(const CameraParam& camera, const Pose& pose, double width) {
    const double h = 0.5 * width;
    const double c[4][2] = {{-h, h}, {h, h}, {h, -h}, {-h, -h}};
    double p[4][2];
    for (int k = 0; k < 4; k++)
        if (!observedOf(camera, pose, c[k][0], c[k][1], &p[k][0], &p[k][1]))
            return 0.0;
    double sides = 0.0;
    for (int k = 0; k < 4; k++)
        sides += std::hypot(p[(k + 1) % 4][0] - p[k][0], p[(k + 1) % 4][1] - p[k][1]);
    return sides / (4.0 * width);
}

int levelFor(const MarkerPicture& picture, double pixelsPerUnit, double softness) {
    const double texelPixels = picture.levels[0].texel * pixelsPerUnit;
    const int level = static_cast<int>(std::floor(std::log2(softness / texelPixels) + 0.5));
    return std::clamp(level, 0, PICTURE_LEVELS - 1);
}

}  // namespace

// On a grid of points over the square.
double shareInView(const CameraParam& camera, const Pose& pose, double width) {
    constexpr int GRID = 8;
    int inside = 0;
    for (int i = 0; i < GRID; i++) {
        for (int j = 0; j < GRID; j++) {
            const double x = ((j + 0.5) / GRID - 0.5) * width;
            const double y = ((i + 0.5) / GRID - 0.5) * width;
            double ox, oy;
            if (observedOf(camera, pose, x, y, &ox, &oy) && ox >= 0.0 && oy >= 0.0 &&
                ox <= camera.xsize - 1 && oy <= camera.ysize - 1)
                inside++;
        }
    }
    return static_cast<double>(inside) / (GRID * GRID);
}

namespace {

// The plane-to-picture map of a pose, P [r1 r2 t].
void planeMapOf(const CameraParam& camera, const Pose& pose, double H[3][3]) {
    for (int row = 0; row < 3; row++)
        for (int c = 0; c < 3; c++) {
            const int column = c == 2 ? 3 : c;
            double sum = c == 2 ? camera.mat[row][3] : 0.0;
            for (int k = 0; k < 3; k++)
                sum += camera.mat[row][k] * pose.m[k][column];
            H[row][c] = sum;
        }
}

// The plane point the ray through ideal point (u, v) meets under the map H;
// false when it meets it behind the camera.
bool rayOnPlane(const double H[3][3], double u, double v, double* x, double* y) {
    const double a00 = H[0][0] - u * H[2][0], a01 = H[0][1] - u * H[2][1];
    const double a10 = H[1][0] - v * H[2][0], a11 = H[1][1] - v * H[2][1];
    const double b0 = u * H[2][2] - H[0][2], b1 = v * H[2][2] - H[1][2];
    const double det = a00 * a11 - a01 * a10;
    if (!(std::fabs(det) > 1e-300))
        return false;
    *x = (b0 * a11 - a01 * b1) / det;
    *y = (a00 * b1 - b0 * a10) / det;
    return H[2][0] * *x + H[2][1] * *y + H[2][2] > 0.0;
}

// Whether a pixel looking at plane points `at` (opening, middle, closing)
// sees the drawing change: an edge crosses its way over the shutter, or
// lies under it.
bool informative(const MarkerPicture& picture, int level, const double at[3][2],
                 double pixelUnits) {
    float t[3][3];
    for (int k = 0; k < 3; k++)
        if (!pictureAt(picture.levels[level], picture.reach, at[k][0], at[k][1], t[k]))
            return true;  // the way leaves the drawing
    const float low = std::fmin(t[0][0], std::fmin(t[1][0], t[2][0]));
    const float high = std::fmax(t[0][0], std::fmax(t[1][0], t[2][0]));
    const double slope = std::hypot(t[1][1], t[1][2]) * pixelUnits;
    return high - low > INFORMATIVE_CHANGE || slope > INFORMATIVE_CHANGE;
}

// Picks the frame's pixels that look at the drawn marker at the middle of
// the shutter, on a grid over where it lies while the shutter is open: those
// that see an edge of the drawing (they place it) densely, the others (they
// give its light) sparsely, at most `sampleMax` in all.
int pickSamples(FollowStorage& s, const CameraParam& camera, const FrameImage& frame,
                const ShutterPose& pose, int level, double pixelUnits, int sampleMax) {
    const double r = s.picture.reach;
    const double corners[4][2] = {{-r, r}, {r, r}, {r, -r}, {-r, -r}};
    double x0 = frame.width, y0 = frame.height, x1 = -1.0, y1 = -1.0;
    double H[3][3][3];
    for (int m = 0; m < 3; m++) {
        const Pose moment = poseInShutter(pose, 0.5 * (m - 1));
        planeMapOf(camera, moment, H[m]);
        for (const auto& c : corners) {
            double ox, oy;
            if (!observedOf(camera, moment, c[0], c[1], &ox, &oy))
                return 0;
            x0 = std::fmin(x0, ox);
            y0 = std::fmin(y0, oy);
            x1 = std::fmax(x1, ox);
            y1 = std::fmax(y1, oy);
        }
    }
    x0 = std::ceil(std::fmax(x0, 0.0));
    y0 = std::ceil(std::fmax(y0, 0.0));
    x1 = std::fmin(x1, frame.width - 1.0);
    y1 = std::fmin(y1, frame.height - 1.0);
    if (!(x1 > x0 && y1 > y0))
        return 0;
    const double area = (x1 - x0 + 1.0) * (y1 - y0 + 1.0);
    const int stride = std::max(
        1, static_cast<int>(std::ceil(std::sqrt(area / (CANDIDATES_PER_SAMPLE * sampleMax)))));
    // Twice over the grid: counting, then keeping every so many of each kind.
    int edges = 0, flats = 0, keepEdge = 1, keepFlat = 1, count = 0;
    for (int round = 0; round < 2; round++) {
        int seenEdge = 0, seenFlat = 0;
        for (int y = static_cast<int>(y0); y <= static_cast<int>(y1); y += stride) {
            for (int x = static_cast<int>(x0); x <= static_cast<int>(x1); x += stride) {
                double u, v, at[3][2];
                arObservedToIdeal(camera.distFactor, x, y, &u, &v);
                bool seen = true;
                for (int m = 0; m < 3 && seen; m++)
                    seen = rayOnPlane(H[m], u, v, &at[m][0], &at[m][1]);
                if (!seen || !(std::fabs(at[1][0]) < r && std::fabs(at[1][1]) < r))
                    continue;
                const bool edge = informative(s.picture, level, at, pixelUnits);
                if (round == 0) {
                    edges += edge ? 1 : 0;
                    flats += edge ? 0 : 1;
                    continue;
                }
                const bool keep = edge ? seenEdge++ % keepEdge == 0 : seenFlat++ % keepFlat == 0;
                if (!keep || count >= sampleMax)
                    continue;
                FollowSample& sample = s.samples[count++];
                sample.ideal[0] = u;
                sample.ideal[1] = v;
                const unsigned char* p =
                    frame.pixels + 4 * (static_cast<long>(y) * frame.width + x);
                sample.light =
                    (s.light.light[p[0]] + s.light.light[p[1]] + s.light.light[p[2]]) / 3.0f;
            }
        }
        const int flatRoom = std::max(1, std::min(flats, static_cast<int>(FLAT_SHARE * sampleMax)));
        keepFlat = std::max(1, (flats + flatRoom - 1) / flatRoom);
        const int edgeRoom = std::max(1, sampleMax - (flats + keepFlat - 1) / keepFlat);
        keepEdge = std::max(1, (edges + edgeRoom - 1) / edgeRoom);
    }
    return count;
}

// Solves the n x n symmetric positive definite system A x = b (row stride
// ALIGN_VALUES) by Cholesky; false when A is not.
bool solveSystem(const double* A, const double* b, int n, double* x) {
    double L[ALIGN_VALUES][ALIGN_VALUES] = {};
    for (int i = 0; i < n; i++) {
        for (int j = 0; j <= i; j++) {
            double s = A[i * ALIGN_VALUES + j];
            for (int k = 0; k < j; k++)
                s -= L[i][k] * L[j][k];
            if (i == j) {
                if (!(s > 0.0))
                    return false;
                L[i][i] = std::sqrt(s);
            } else {
                L[i][j] = s / L[j][j];
            }
        }
    }
    double y[ALIGN_VALUES];
    for (int i = 0; i < n; i++) {
        double s = b[i];
        for (int k = 0; k < i; k++)
            s -= L[i][k] * y[k];
        y[i] = s / L[i][i];
    }
    for (int i = n - 1; i >= 0; i--) {
        double s = y[i];
        for (int k = i + 1; k < n; k++)
            s -= L[k][i] * x[k];
        x[i] = s / L[i][i];
    }
    return true;
}

// The ink's, the paper's and the surroundings' light that fit the drawing
// best with the weights: the sample's light is dark x inside + contrast x
// value + beyond x (1 - inside).
Light fitFlatLight(const FollowStorage& s, int count) {
    double A[3][3] = {};
    double b[3] = {};
    for (int k = 0; k < count; k++) {
        const double w = s.weights[k];
        const double f[3] = {s.drawn[k].inside, s.drawn[k].value, 1.0 - s.drawn[k].inside};
        for (int i = 0; i < 3; i++) {
            b[i] += w * f[i] * s.samples[k].light;
            for (int j = 0; j < 3; j++)
                A[i][j] += w * f[i] * f[j];
        }
    }
    // A little pull of the surroundings towards the paper's light keeps the
    // fit whole when hardly any sample sees beyond the paper.
    const double total = A[0][0] + A[2][2] + 1e-12;
    const double pull = 1e-3 * total;
    A[2][2] += pull;
    A[2][0] -= pull;
    A[0][2] -= pull;
    A[0][0] += pull;
    A[2][1] -= pull;
    A[1][2] -= pull;
    A[1][1] += pull;
    A[0][1] += pull;
    A[1][0] += pull;
    double M[ALIGN_VALUES * ALIGN_VALUES] = {};
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            M[i * ALIGN_VALUES + j] = A[i][j];
    double x[3] = {0.0, 0.0, 0.0};
    Light light;
    if (solveSystem(M, b, 3, x)) {
        light.dark = x[0];
        light.contrast = x[1];
        light.beyond = x[2];
    }
    return light;
}

// The same with each of the three light values sloping linearly across the
// samples: light that falls unevenly over the marker (a lamp to one side).
Light fitSlopedLight(const FollowStorage& s, int count) {
    constexpr int N = 9;
    Light light;
    light.sloped = true;
    double sx = 0.0, sy = 0.0;
    for (int k = 0; k < count; k++) {
        sx += s.samples[k].ideal[0];
        sy += s.samples[k].ideal[1];
    }
    light.centre[0] = sx / count;
    light.centre[1] = sy / count;
    double spread = 0.0;
    for (int k = 0; k < count; k++) {
        const double dx = s.samples[k].ideal[0] - light.centre[0];
        const double dy = s.samples[k].ideal[1] - light.centre[1];
        spread += dx * dx + dy * dy;
    }
    light.reach = std::sqrt(spread / count) + 1e-12;
    double A[N][N] = {};
    double b[N] = {};
    for (int k = 0; k < count; k++) {
        const double w = s.weights[k];
        double u, v;
        lightPlace(s.samples[k], light, &u, &v);
        const double base[3] = {s.drawn[k].inside, s.drawn[k].value, 1.0 - s.drawn[k].inside};
        const double f[N] = {base[0],     base[1],     base[2],     base[0] * u, base[1] * u,
                             base[2] * u, base[0] * v, base[1] * v, base[2] * v};
        for (int i = 0; i < N; i++) {
            b[i] += w * f[i] * s.samples[k].light;
            for (int j = 0; j < N; j++)
                A[i][j] += w * f[i] * f[j];
        }
    }
    // A little pull of every value towards none keeps the fit whole when
    // hardly any sample sees beyond the paper.
    const double total = A[0][0] + A[2][2] + 1e-12;
    const double pull = 1e-3 * total;
    for (int i = 0; i < N; i++)
        A[i][i] += pull;
    double M[ALIGN_VALUES * ALIGN_VALUES] = {};
    for (int i = 0; i < N; i++)
        for (int j = 0; j < N; j++)
            M[i * ALIGN_VALUES + j] = A[i][j];
    double x[N] = {};
    if (solveSystem(M, b, N, x)) {
        light.dark = x[0];
        light.contrast = x[1];
        light.beyond = x[2];
        for (int c = 0; c < 3; c++) {
            light.slopes[c][0] = x[3 + c];
            light.slopes[c][1] = x[6 + c];
        }
    }
    return light;
}

Light fitLight(const FollowStorage& s, int count, LightModel model) {
    return model == LightModel::Sloped ? fitSlopedLight(s, count) : fitFlatLight(s, count);
}

// The paper's contrast over its ink where sample `p` looks.
double contrastAt(const FollowSample& p, const Light& light) {
    if (!light.sloped)
        return light.contrast;
    double u, v;
    lightPlace(p, light, &u, &v);
    return light.contrast + light.slopes[1][0] * u + light.slopes[1][1] * v;
}

double modelOf(const FollowSample& p, const DrawnSample& d, const Light& light) {
    if (!light.sloped)
        return light.dark * d.inside + light.contrast * d.value + light.beyond * (1.0 - d.inside);
    double u, v;
    lightPlace(p, light, &u, &v);
    const double dark = light.dark + light.slopes[0][0] * u + light.slopes[0][1] * v;
    const double beyond = light.beyond + light.slopes[2][0] * u + light.slopes[2][1] * v;
    return dark * d.inside + contrastAt(p, light) * d.value + beyond * (1.0 - d.inside);
}

// The robust scale of the differences: their median size as a standard
// deviation, at least SCALE_SHARE_MIN of the contrast.
double robustScale(FollowStorage& s, int count, const Light& light) {
    for (int k = 0; k < count; k++)
        s.scratch[k] = std::fabs(s.samples[k].light - modelOf(s.samples[k], s.drawn[k], light));
    std::nth_element(s.scratch.begin(), s.scratch.begin() + count / 2, s.scratch.begin() + count);
    return std::fmax(1.4826 * s.scratch[count / 2], SCALE_SHARE_MIN * std::fabs(light.contrast));
}

// Tukey's cost of the differences at scale `scale` (each at most a sixth of
// the cut squared), and their weights for the next step.
double robustCost(FollowStorage& s, int count, const Light& light, double scale, bool weigh) {
    const double cut = TUKEY * scale;
    double sum = 0.0;
    for (int k = 0; k < count; k++) {
        const double r = s.samples[k].light - modelOf(s.samples[k], s.drawn[k], light);
        const double q = r / cut;
        const double inside = std::fabs(q) < 1.0 ? 1.0 - q * q : 0.0;
        sum += cut * cut / 6.0 * (1.0 - inside * inside * inside);
        if (weigh)
            s.weights[k] = inside * inside;
    }
    return sum;
}

int stepsFor(double streak, double softness) {
    return std::clamp(static_cast<int>(std::ceil(streak / softness)) + 1, 2, SHUTTER_STEPS_MAX);
}

ShutterPose movedBy(const ShutterPose& pose, const double d[ALIGN_VALUES]) {
    ShutterPose out;
    out.middle = movePose(pose.middle, d);
    for (int k = 0; k < 3; k++) {
        out.motion.turn[k] = pose.motion.turn[k] + d[6 + k];
        out.motion.shift[k] = pose.motion.shift[k] + d[9 + k];
    }
    return out;
}

// The motion's six values in the order of the fitted ones.
void motionValues(const ShutterMotion& m, double v[6]) {
    for (int k = 0; k < 3; k++) {
        v[k] = m.turn[k];
        v[3 + k] = m.shift[k];
    }
}

// One pass from `pose`: returns whether its steps settled; `pose` and
// `light` hold where it ended.
bool alignPass(FollowStorage& s, const CameraParam& camera, const AlignPass& pass, int level,
               int steps, int count, const ShutterMotion& expected, LightModel model,
               ShutterPose& pose, Light& light) {
    drawAlongShutter(s.picture, level, camera.mat, pose, steps, s.samples.data(), count, true,
                     s.drawn.data());
    std::fill(s.weights.begin(), s.weights.begin() + count, 1.0);
    light = fitLight(s, count, model);
    // One scale for the pass, so that every step lowers one cost.
    const double scale = robustScale(s, count, light);
    double cost = robustCost(s, count, light, scale, true);
    light = fitLight(s, count, model);
    cost = robustCost(s, count, light, scale, true);
    double damping = 1e-3;
    const double distance = std::sqrt(pose.middle.m[0][3] * pose.middle.m[0][3] +
                                      pose.middle.m[1][3] * pose.middle.m[1][3] +
                                      pose.middle.m[2][3] * pose.middle.m[2][3]);
    double lastTurn = 1.0, lastShift = distance;
    for (int step = 0; step < pass.stepMax; step++) {
        double A[ALIGN_VALUES * ALIGN_VALUES] = {};
        double g[ALIGN_VALUES] = {};
        for (int k = 0; k < count; k++) {
            const double w = s.weights[k];
            if (w == 0.0)
                continue;
            const DrawnSample& d = s.drawn[k];
            const double r = s.samples[k].light - modelOf(s.samples[k], d, light);
            const double contrast = contrastAt(s.samples[k], light);
            double J[ALIGN_VALUES];
            for (int i = 0; i < ALIGN_VALUES; i++)
                J[i] = contrast * d.slope[i];
            for (int i = 0; i < ALIGN_VALUES; i++) {
                g[i] += w * J[i] * r;
                for (int j = 0; j <= i; j++)
                    A[i * ALIGN_VALUES + j] += w * J[i] * J[j];
            }
        }
        for (int i = 0; i < ALIGN_VALUES; i++)
            for (int j = 0; j < i; j++)
                A[j * ALIGN_VALUES + i] = A[i * ALIGN_VALUES + j];
        double now[6], want[6];
        motionValues(pose.motion, now);
        motionValues(expected, want);
        for (int i = 0; i < 6; i++) {
            const int m = 6 + i;
            const double pull =
                MOTION_PULL * (A[m * ALIGN_VALUES + m] + 0.05 * A[i * ALIGN_VALUES + i]) + 1e-12;
            A[m * ALIGN_VALUES + m] += pull;
            g[m] += pull * (want[i] - now[i]);
        }
        bool improved = false;
        double d[ALIGN_VALUES] = {};
        for (int attempt = 0; attempt < TRY_MAX && !improved; attempt++) {
            double D[ALIGN_VALUES * ALIGN_VALUES];
            std::copy(A, A + ALIGN_VALUES * ALIGN_VALUES, D);
            for (int i = 0; i < ALIGN_VALUES; i++)
                D[i * ALIGN_VALUES + i] += damping * A[i * ALIGN_VALUES + i] + 1e-15;
            if (!solveSystem(D, g, ALIGN_VALUES, d)) {
                damping *= 4.0;
                continue;
            }
            const ShutterPose trial = movedBy(pose, d);
            drawAlongShutter(s.picture, level, camera.mat, trial, steps, s.samples.data(), count,
                             false, s.drawn.data());
            const Light trialLight = fitLight(s, count, model);
            const double trialCost = robustCost(s, count, trialLight, scale, false);
            if (trialCost < cost) {
                pose = trial;
                improved = true;
                damping = std::fmax(damping / 3.0, 1e-7);
            } else {
                damping *= 4.0;
            }
        }
        drawAlongShutter(s.picture, level, camera.mat, pose, steps, s.samples.data(), count, true,
                         s.drawn.data());
        light = fitLight(s, count, model);
        cost = robustCost(s, count, light, scale, true);
        if (!improved)
            return true;  // no step lowers the differences: a minimum
        const double turn = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        const double shift = std::sqrt(d[3] * d[3] + d[4] * d[4] + d[5] * d[5]);
        if (turn < SETTLED_TURN && shift < SETTLED_SHIFT * distance)
            return true;
        lastTurn = turn;
        lastShift = shift;
    }
    return lastTurn < CREEPING_TURN && lastShift < CREEPING_SHIFT * distance;
}

// The correlation, weights aside, between the frame and the drawing on the
// samples that look at the marker's picture (the square's central half) at
// the middle of the shutter: whether this is the marker, the right way round.
double pictureMatch(const FollowStorage& s, const CameraParam& camera, int count,
                    const Light& light, const Pose& middle) {
    double H[3][3];
    planeMapOf(camera, middle, H);
    const double inner = PICTURE_SHARE * 0.25 * s.picture.width;
    double n = 0.0, sa = 0.0, sb = 0.0, saa = 0.0, sbb = 0.0, sab = 0.0;
    for (int k = 0; k < count; k++) {
        double x, y;
        if (!rayOnPlane(H, s.samples[k].ideal[0], s.samples[k].ideal[1], &x, &y) ||
            !(std::fabs(x) < inner && std::fabs(y) < inner))
            continue;
        const double a = s.samples[k].light, b = modelOf(s.samples[k], s.drawn[k], light);
        n += 1.0;
        sa += a;
        sb += b;
        saa += a * a;
        sbb += b * b;
        sab += a * b;
    }
    const double va = saa - sa * sa / std::fmax(n, 1.0);
    const double vb = sbb - sb * sb / std::fmax(n, 1.0);
    return n >= 16.0 && va > 0.0 && vb > 0.0 ? (sab - sa * sb / n) / std::sqrt(va * vb) : 0.0;
}

// The outcome's measures of how well the drawing matches, on the samples
// that see the marker.
void measureMatch(const FollowStorage& s, int count, const Light& light, AlignOutcome& out) {
    double weighted = 0.0, weights = 0.0;
    int onMarker = 0, inliers = 0;
    double sw = 0.0, sa = 0.0, sb = 0.0, saa = 0.0, sbb = 0.0, sab = 0.0;
    for (int k = 0; k < count; k++) {
        const DrawnSample& d = s.drawn[k];
        const double w = s.weights[k];
        const double model = modelOf(s.samples[k], d, light);
        const double r = s.samples[k].light - model;
        weighted += w * r * r;
        weights += w;
        if (d.inside >= 0.5) {
            onMarker++;
            inliers += w >= 0.5 ? 1 : 0;
        }
        if (d.inside >= 0.99) {
            const double a = s.samples[k].light;
            sw += w;
            sa += w * a;
            sb += w * model;
            saa += w * a * a;
            sbb += w * model * model;
            sab += w * a * model;
        }
    }
    out.residual = weights > 0.0 && light.contrast > 0.0
                       ? std::sqrt(weighted / weights) / light.contrast
                       : 1.0;
    out.inlierShare = onMarker > 0 ? static_cast<double>(inliers) / onMarker : 0.0;
    const double va = saa - sa * sa / std::fmax(sw, 1e-300);
    const double vb = sbb - sb * sb / std::fmax(sw, 1e-300);
    const double cab = sab - sa * sb / std::fmax(sw, 1e-300);
    out.correlation = va > 0.0 && vb > 0.0 ? cab / std::sqrt(va * vb) : 0.0;
}

// The sum of the `count` samples' squared differences in light from their mean.
double lightVariance(const FollowStorage& storage, int count) {
    double mean = 0.0;
    for (int k = 0; k < count; k++)
        mean += storage.samples[k].light;
    mean /= count;
    double sum = 0.0;
    for (int k = 0; k < count; k++)
        sum += (storage.samples[k].light - mean) * (storage.samples[k].light - mean);
    return sum;
}

}  // namespace

void prepareFollowStorage(FollowStorage& storage) {
    storage.samples.assign(FOLLOW_SAMPLE_MAX, FollowSample{});
    storage.drawn.assign(FOLLOW_SAMPLE_MAX, DrawnSample{});
    storage.residuals.assign(FOLLOW_SAMPLE_MAX, 0.0);
    storage.weights.assign(FOLLOW_SAMPLE_MAX, 0.0);
    storage.scratch.assign(FOLLOW_SAMPLE_MAX, 0.0);
}

AlignOutcome alignMarker(FollowStorage& storage, const CameraParam& camera, const FrameImage& frame,
                         const ShutterPose& start, const ShutterMotion& expected, double coarseMin,
                         LightModel model) {
    AlignOutcome out;
    ShutterPose pose = start;
    Light light;
    int count = 0;
    bool settled = false;
    for (const AlignPass& pass : PASSES) {
        const double scale = pixelsPerUnit(camera, pose.middle, storage.picture.width);
        if (!(scale > 0.0))
            return out;
        const int level = levelFor(storage.picture, scale, pass.softness);
        count = pickSamples(storage, camera, frame, pose, level, 1.0 / scale, pass.sampleMax);
        if (count < 16)
            return out;
        const int steps =
            stepsFor(shutterStreak(pose, camera.mat, storage.picture.width), pass.softness);
        settled =
            alignPass(storage, camera, pass, level, steps, count, expected, model, pose, light);
        if (&pass == &PASSES[0] && coarseMin > -1.0) {
            measureMatch(storage, count, light, out);
            if (out.correlation < coarseMin) {
                settled = false;
                break;
            }
        }
    }
    out.converged = settled;
    out.light = model;
    out.lightSlope = light.contrast > 0.0
                         ? std::hypot(light.slopes[1][0], light.slopes[1][1]) / light.contrast
                         : 0.0;
    out.pose = pose;
    out.dark = light.dark;
    out.contrast = light.contrast;
    out.beyond = light.beyond;
    out.samples = count;
    out.inView = shareInView(camera, pose.middle, storage.picture.width);
    out.streak = shutterStreak(pose, camera.mat, storage.picture.width);
    out.side = pixelsPerUnit(camera, pose.middle, storage.picture.width) * storage.picture.width;
    measureMatch(storage, count, light, out);
    out.pictureMatch = pictureMatch(storage, camera, count, light, pose.middle);
    return out;
}

int bestCandidate(FollowStorage& storage, const CameraParam& camera, const FrameImage& frame,
                  const ShutterPose* candidates, int count, double* explained) {
    if (explained != nullptr)
        *explained = 0.0;
    const AlignPass& pass = PASSES[0];
    const double scale = pixelsPerUnit(camera, candidates[0].middle, storage.picture.width);
    if (!(scale > 0.0))
        return 0;
    const int level = levelFor(storage.picture, scale, pass.softness);
    const int samples =
        pickSamples(storage, camera, frame, candidates[0], level, 1.0 / scale, pass.sampleMax);
    if (samples < 16)
        return 0;
    std::fill(storage.weights.begin(), storage.weights.begin() + samples, 1.0);
    int best = 0;
    double bestCost = -1.0;
    for (int c = 0; c < count; c++) {
        const int steps = stepsFor(shutterStreak(candidates[c], camera.mat, storage.picture.width),
                                   pass.softness);
        drawAlongShutter(storage.picture, level, camera.mat, candidates[c], steps,
                         storage.samples.data(), samples, false, storage.drawn.data());
        const Light light = fitLight(storage, samples, LightModel::Even);
        double cost = 0.0;
        for (int k = 0; k < samples; k++) {
            const double r =
                storage.samples[k].light - modelOf(storage.samples[k], storage.drawn[k], light);
            cost += r * r;
        }
        // Ink darker than paper, or the drawing is no marker.
        if (light.contrast > 0.0 && (bestCost < 0.0 || cost < bestCost)) {
            bestCost = cost;
            best = c;
        }
    }
    if (explained != nullptr && bestCost >= 0.0)
        *explained = 1.0 - bestCost / lightVariance(storage, samples);
    return best;
}
