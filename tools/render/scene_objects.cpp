#include "tools/render/scene_objects.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// A value in [0, 1) that looks random but depends only on its arguments.
double hashUnit(int64_t a, int64_t b, int64_t c) {
    uint64_t h = static_cast<uint64_t>(a) * 0x9E3779B97F4A7C15ull ^
                 static_cast<uint64_t>(b) * 0xC2B2AE3D27D4EB4Full ^
                 static_cast<uint64_t>(c) * 0x165667B19E3779F9ull;
    h ^= h >> 31;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 29;
    return static_cast<double>(h >> 11) * (1.0 / 9007199254740992.0);
}

// How much light each face takes: -x, +x, -y, +y, bottom, top.
constexpr double FACE_LIGHT[6] = {0.62, 0.8, 0.9, 0.7, 0.5, 1.0};

// The colour of box face `face` at (a, b), its two coordinates along the face
// from the box's lowest corner: squares a quarter of the box's smallest side,
// each in a shade and tint of its own.
void boxFaceColour(const Box& box, int face, double a, double b, double colour[3]) {
    const double cell = 0.25 * std::min({box.width, box.depth, box.height});
    const int64_t i = static_cast<int64_t>(std::floor(a / cell));
    const int64_t j = static_cast<int64_t>(std::floor(b / cell));
    const double grey = 45.0 + 190.0 * hashUnit(face, i, j);
    for (int k = 0; k < 3; ++k) {
        const double tint = 0.8 + 0.4 * hashUnit(face * 3 + k + 7, j, i);
        colour[k] = std::min(255.0, grey * tint) * FACE_LIGHT[face];
    }
}

bool hitDisc(const Disc& disc, const Ray& ray, double& s) {
    const double dz = ray.direction[2];
    if (dz == 0.0) {
        return false;
    }
    s = (disc.height - ray.origin[2]) / dz;
    double x = ray.origin[0] + s * ray.direction[0] - disc.x;
    double y = ray.origin[1] + s * ray.direction[1] - disc.y;
    // From the nearest point of the swept centre's segment.
    const double reach = disc.reachX * disc.reachX + disc.reachY * disc.reachY;
    if (reach > 0.0) {
        const double along = std::clamp((x * disc.reachX + y * disc.reachY) / reach, 0.0, 1.0);
        x -= along * disc.reachX;
        y -= along * disc.reachY;
    }
    return s > 0.0 && x * x + y * y <= disc.radius * disc.radius;
}

// Where the ray enters the box (slab by slab), and through which face.
bool hitBox(const Box& box, const Ray& ray, double& s, int& face) {
    const double low[3] = {box.x - 0.5 * box.width, box.y - 0.5 * box.depth, 0.0};
    const double high[3] = {box.x + 0.5 * box.width, box.y + 0.5 * box.depth, box.height};
    double enter = -INFINITY, leave = INFINITY;
    for (int axis = 0; axis < 3; ++axis) {
        const double o = ray.origin[axis], d = ray.direction[axis];
        if (d == 0.0) {
            if (o < low[axis] || o > high[axis]) {
                return false;
            }
            continue;
        }
        double near = (low[axis] - o) / d, far = (high[axis] - o) / d;
        int nearFace = 2 * axis;
        if (near > far) {
            std::swap(near, far);
            nearFace = 2 * axis + 1;
        }
        if (near > enter) {
            enter = near;
            face = nearFace;
        }
        leave = std::min(leave, far);
    }
    s = enter;
    return enter <= leave && enter > 0.0;
}

}  // namespace

void discsAt(const std::vector<Occluder>& occluders, double time, int frameCount,
             std::vector<Disc>& discs) {
    discs.clear();
    for (const Occluder& o : occluders) {
        const int last = o.last < 0 ? frameCount - 1 : o.last;
        if (time < o.first - 0.5 || time >= last + 0.5) {
            continue;
        }
        Disc disc = o.disc;
        if (o.moves && last > o.first) {
            const double f = std::clamp((time - o.first) / (last - o.first), 0.0, 1.0);
            disc.x += f * (o.toX - o.disc.x);
            disc.y += f * (o.toY - o.disc.y);
        }
        discs.push_back(disc);
    }
}

bool nearestObject(const std::vector<Disc>& discs, const std::vector<Box>& boxes, const Ray& ray,
                   double limit, double& s, double colour[3]) {
    s = limit;
    bool hit = false;
    for (const Disc& disc : discs) {
        double t = 0.0;
        if (hitDisc(disc, ray, t) && t < s) {
            s = t;
            std::copy(disc.colour, disc.colour + 3, colour);
            hit = true;
        }
    }
    for (const Box& box : boxes) {
        double t = 0.0;
        int face = 0;
        if (!hitBox(box, ray, t, face) || t >= s) {
            continue;
        }
        s = t;
        hit = true;
        const double p[3] = {ray.origin[0] + t * ray.direction[0] - (box.x - 0.5 * box.width),
                             ray.origin[1] + t * ray.direction[1] - (box.y - 0.5 * box.depth),
                             ray.origin[2] + t * ray.direction[2]};
        // The face's own two coordinates: the axes other than its normal.
        const int normal = face / 2;
        boxFaceColour(box, face, p[normal == 0 ? 1 : 0], p[normal == 2 ? 1 : 2], colour);
    }
    return hit;
}
