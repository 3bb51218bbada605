#include "tools/render/camera_path.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr double DEG = M_PI / 180.0;

Point3 sub(const Point3& a, const Point3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Point3 cross(const Point3& a, const Point3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double dot(const Point3& a, const Point3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Point3 normalised(const Point3& a) {
    double n = std::sqrt(dot(a, a));
    return {a.x / n, a.y / n, a.z / n};
}

// A point at `distance` from the origin, `azimuth` degrees round from the
// marker's south (negative y) towards east (positive x), `elevation` degrees up.
Point3 onSphere(double distance, double azimuth, double elevation) {
    const double ground = distance * std::cos(elevation * DEG);
    return {ground * std::sin(azimuth * DEG), -ground * std::cos(azimuth * DEG),
            distance * std::sin(elevation * DEG)};
}

// Fraction of the way through the path: 0 at the first frame, 1 at the last.
double progress(double frame, int frameCount) {
    return frameCount > 1 ? frame / (frameCount - 1) : 0.0;
}

// Smooth hand tremor: a sum of sines at unrelated frequencies, in [-1, 1].
double tremor(double time, double phase) {
    return 0.5 * std::sin(2.3 * time + phase) + 0.3 * std::sin(5.9 * time + 2.1 * phase) +
           0.2 * std::sin(13.7 * time + 0.7 * phase);
}

}  // namespace

CameraPose lookAt(const Point3& position, const Point3& target, double rollDegrees) {
    const Point3 forward = normalised(sub(target, position));
    Point3 up{0.0, 0.0, 1.0};
    if (std::fabs(dot(forward, up)) > 0.999) {
        up = {0.0, 1.0, 0.0};
    }
    Point3 right = normalised(cross(forward, up));
    Point3 down = cross(forward, right);
    const double c = std::cos(rollDegrees * DEG), s = std::sin(rollDegrees * DEG);
    const Point3 rolledRight{c * right.x + s * down.x, c * right.y + s * down.y,
                             c * right.z + s * down.z};
    const Point3 rolledDown{c * down.x - s * right.x, c * down.y - s * right.y,
                            c * down.z - s * right.z};
    const Point3 rows[3] = {rolledRight, rolledDown, forward};
    double R[3][3], t[3];
    for (int j = 0; j < 3; ++j) {
        R[j][0] = rows[j].x;
        R[j][1] = rows[j].y;
        R[j][2] = rows[j].z;
        t[j] = -dot(rows[j], position);
    }
    return arPoseOf(R, t);
}

bool pathFromName(const char* name, PathKind& kind) {
    struct Entry {
        const char* name;
        PathKind kind;
    };
    static const Entry entries[] = {{"orbit", PathKind::Orbit}, {"approach", PathKind::Approach},
                                    {"shake", PathKind::Shake}, {"exit", PathKind::Exit},
                                    {"pan", PathKind::Pan},     {"sway", PathKind::Sway}};
    for (const Entry& entry : entries) {
        if (std::strcmp(name, entry.name) == 0) {
            kind = entry.kind;
            return true;
        }
    }
    return false;
}

CameraPose pathPose(PathKind kind, double frame, int frameCount, double markerWidth,
                    double distance) {
    const double p = progress(frame, frameCount);
    const Point3 origin{0.0, 0.0, 0.0};
    switch (kind) {
        case PathKind::Orbit: {
            const double elevation = 52.5 - 17.5 * std::cos(2.0 * M_PI * 2.0 * p);
            return lookAt(onSphere(distance, 360.0 * p, elevation), origin, 0.0);
        }
        case PathKind::Approach: {
            const double d = distance * 2.4 * std::pow(0.5 / 2.4, p);
            const Point3 target{0.15 * markerWidth * (1.0 - p), 0.0, 0.0};
            return lookAt(onSphere(d, 20.0 - 30.0 * p, 55.0), target, 0.0);
        }
        case PathKind::Shake: {
            const double time = frame / 30.0 * 2.0 * M_PI;
            Point3 position = onSphere(distance, -15.0, 60.0);
            position.x += 0.08 * markerWidth * tremor(time, 0.0);
            position.y += 0.08 * markerWidth * tremor(time, 1.3);
            position.z += 0.05 * markerWidth * tremor(time, 2.9);
            const Point3 target{0.05 * markerWidth * tremor(time, 4.1),
                                0.05 * markerWidth * tremor(time, 5.3), 0.0};
            return lookAt(position, target, 3.0 * tremor(time, 6.7));
        }
        case PathKind::Exit: {
            const double sweep = std::sin(2.0 * M_PI * p);
            const Point3 target{0.75 * distance * sweep, 0.0, 0.0};
            return lookAt(onSphere(distance, 0.0, 60.0), target, 0.0);
        }
        case PathKind::Pan: {
            const double out = std::sin(M_PI * p), sway = std::sin(2.0 * M_PI * p);
            Point3 position = onSphere(distance, 0.0, 55.0);
            position.x += 0.6 * distance * out;
            const Point3 target{0.7 * distance * out, 0.1 * distance * sway, 0.0};
            return lookAt(position, target, 4.0 * sway);
        }
        case PathKind::Sway: {
            const Point3 position = onSphere(distance, 12.0 * std::sin(2.0 * M_PI * p), 58.0);
            const Point3 target{0.28 * distance * std::sin(4.0 * M_PI * p),
                                0.14 * distance * std::sin(2.0 * M_PI * p + 0.7), 0.0};
            return lookAt(position, target, 6.0 * std::sin(4.0 * M_PI * p + 1.0));
        }
    }
    return lookAt(onSphere(distance, 0.0, 60.0), origin, 0.0);
}

namespace {

Point3 catmullRom(const Point3& a, const Point3& b, const Point3& c, const Point3& d, double u) {
    const auto one = [u](double p0, double p1, double p2, double p3) {
        return 0.5 * (2.0 * p1 + (p2 - p0) * u + (2.0 * p0 - 5.0 * p1 + 4.0 * p2 - p3) * u * u +
                      (3.0 * p1 - p0 - 3.0 * p2 + p3) * u * u * u);
    };
    return {one(a.x, b.x, c.x, d.x), one(a.y, b.y, c.y, d.y), one(a.z, b.z, c.z, d.z)};
}

}  // namespace

CameraPose viewsPose(const std::vector<PathView>& views, double frame, int frameCount) {
    const int last = static_cast<int>(views.size()) - 1;
    const double along =
        frameCount > 1 ? std::clamp(frame / (frameCount - 1), 0.0, 1.0) * last : 0.0;
    const int k = std::min(static_cast<int>(along), last - 1);
    const double u = along - k;
    const auto at = [&](int i) { return views[std::clamp(i, 0, last)]; };
    const Point3 position =
        catmullRom(at(k - 1).position, at(k).position, at(k + 1).position, at(k + 2).position, u);
    const Point3 target =
        catmullRom(at(k - 1).target, at(k).target, at(k + 1).target, at(k + 2).target, u);
    return lookAt(position, target, 0.0);
}
