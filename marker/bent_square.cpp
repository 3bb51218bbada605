#include "marker/bent_square.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "marker/outline_corners.h"

namespace {

// Twice the signed area of the triangle of contour points a, b, d.
int64_t turn(const MarkerCandidate& c, int a, int b, int d) {
    const int64_t abx = c.contourX[b] - c.contourX[a], aby = c.contourY[b] - c.contourY[a];
    const int64_t bdx = c.contourX[d] - c.contourX[b], bdy = c.contourY[d] - c.contourY[b];
    return abx * bdy - aby * bdx;
}

// The length of the polygon's side from vertex k to the next (contour
// indices `corners`, `count` of them).
double sideLength(const MarkerCandidate& c, const int* corners, int count, int k) {
    const int a = corners[k], b = corners[(k + 1) % count];
    return std::hypot(c.contourX[b] - c.contourX[a], c.contourY[b] - c.contourY[a]);
}

// How far vertex k of the polygon `corners` turns the outline, its sides'
// lengths in `sides`: the sine of the angle between its two sides, negative
// where it turns against the outline's sense `sense`.
double turnSine(const MarkerCandidate& c, const int* corners, const double* sides, int count, int k,
                int sense) {
    const int before = (k + count - 1) % count;
    const int a = corners[before], b = corners[k], d = corners[(k + 1) % count];
    const double la = sides[before], ld = sides[k];
    return la * ld > 0.0 ? sense * static_cast<double>(turn(c, a, b, d)) / (la * ld) : -1.0;
}

// Contour point i of the closed contour, counting on past its end: point
// n - 1 is point 0 again, so a side may run from its last corner round to
// its first.
int wrapped(const MarkerCandidate& c, int i) {
    return i < c.pointCount - 1 ? i : i - (c.pointCount - 1);
}

// The line through contour points p and q, unscaled: a point's distance
// from it is (a (x - xp) + b (y - yp)) / length.
struct Chord {
    double a, b, length;
    int32_t xp, yp;
};

Chord chordThrough(const MarkerCandidate& c, int p, int q) {
    p = wrapped(c, p);
    q = wrapped(c, q);
    const double a = c.contourY[q] - c.contourY[p], b = c.contourX[p] - c.contourX[q];
    return {a, b, std::hypot(a, b), c.contourX[p], c.contourY[p]};
}

// Contour point i's distance from the chord, times its length.
double scaledDistance(const MarkerCandidate& c, const Chord& chord, int i) {
    i = wrapped(c, i);
    return chord.a * (c.contourX[i] - chord.xp) + chord.b * (c.contourY[i] - chord.yp);
}

// How many of contour points s..e lie within `tolerance` of the line
// through points p and q.
int pointsNearChord(const MarkerCandidate& c, int s, int e, int p, int q, double tolerance) {
    const Chord chord = chordThrough(c, p, q);
    int on = 0;
    for (int i = s; i <= e; i++)
        on += std::fabs(scaledDistance(c, chord, i)) <= tolerance * chord.length;
    return on;
}

// A side's tolerance: ROBUST_SIDE_TOLERANCE of its chord's length, and at
// least 1.5 pixels.
double sideTolerance(const Chord& chord) {
    return std::max(1.5, ROBUST_SIDE_TOLERANCE * chord.length);
}

// Whether the side from contour point s to e lies mostly on a line: at
// least ROBUST_SIDE_ON_LINE of its points within its tolerance of the chord
// between its corners, or of one from a corner to the middle (an object
// over the other corner).
bool sideMostlyStraight(const MarkerCandidate& c, int s, int e) {
    const int m = (s + e) / 2;
    const double tolerance = sideTolerance(chordThrough(c, s, e));
    const int on = std::max({pointsNearChord(c, s, e, s, e, tolerance),
                             pointsNearChord(c, s, e, s, m, tolerance),
                             pointsNearChord(c, s, e, m, e, tolerance)});
    return on >= ROBUST_SIDE_ON_LINE * (e - s + 1);
}

// Whether the four sides between `corners` lie mostly on lines.
bool sidesMostlyStraight(const MarkerCandidate& c, const int* corners) {
    for (int k = 0; k < 4; k++) {
        const int s = corners[k], e = k == 3 ? corners[0] + c.pointCount - 1 : corners[k + 1];
        if (!sideMostlyStraight(c, s, e)) {
            return false;
        }
    }
    return true;
}

// Whether the side from contour point s to e runs along its chord from
// each end for at least ROBUST_RUN_MIN of the chord's span, for
// ROBUST_INTERRUPTED_ON_LINE of it in all, and strays from it in between to
// one side only: an object over the middle of the side, merged into the
// border or cutting into it, no deeper than ROBUST_DENT_DEPTH_MAX of the
// chord (deeper, the border is broken and the outline runs round the
// picture inside). The span is the points a straight trace of the chord
// has; the square lies on the chord's `inwards` side (1 where the points'
// distances are positive, -1 where negative). `on` gets the points along
// the chord, `gap` the first and last of those between.
bool sideInterrupted(const MarkerCandidate& c, const Chord& chord, int s, int e, int inwards,
                     int* on, int gap[2]) {
    const double tolerance = sideTolerance(chord) * chord.length;
    const double deepest = ROBUST_DENT_DEPTH_MAX * chord.length * chord.length;
    const double span = std::max(std::fabs(chord.a), std::fabs(chord.b)) + 1.0;
    int lead = s;
    while (lead <= e && std::fabs(scaledDistance(c, chord, lead)) <= tolerance)
        lead++;
    if (lead - s < ROBUST_RUN_MIN * span)
        return false;
    int trail = e;
    while (trail >= lead && std::fabs(scaledDistance(c, chord, trail)) <= tolerance)
        trail--;
    if (e - trail < ROBUST_RUN_MIN * span)
        return false;
    int strays = 0;  // the side of the chord the stretch between strays to
    for (int i = lead; i <= trail; i++) {
        const double d = scaledDistance(c, chord, i);
        if (std::fabs(d) > tolerance) {
            const int side = d > 0.0 ? 1 : -1;
            if (strays == -side || (side == inwards && std::fabs(d) > deepest)) {
                return false;
            }
            strays = side;
        }
    }
    *on = (lead - s) + (e - trail);
    gap[0] = lead;
    gap[1] = trail;
    return *on >= ROBUST_INTERRUPTED_ON_LINE * span;
}

// The outline's polygon: the corner search's vertices from contour point 0
// on, in contour order, at most ROBUST_VERTEX_MAX; how many (0 when the
// search gives up).
int outlinePolygon(const MarkerCandidate& c, double threshold, int* corners) {
    const int v = arFarthestFromStart(c);
    int count = 1;
    corners[0] = 0;
    if (v == 0 || arFindVertices(c.contourX, c.contourY, 0, v, threshold, corners, &count,
                                 ROBUST_VERTEX_MAX - 1) != MarkerStatus::Ok) {
        return 0;
    }
    corners[count++] = v;
    if (arFindVertices(c.contourX, c.contourY, v, c.pointCount - 1, threshold, corners, &count,
                       ROBUST_VERTEX_MAX) != MarkerStatus::Ok) {
        return 0;
    }
    return count;
}

// The outline's sense: 1 where the polygon's signed area is positive, else -1.
int outlineSense(const MarkerCandidate& c, const int* corners, int count) {
    int64_t twiceArea = 0;
    for (int k = 0; k < count; k++) {
        const int a = corners[k], b = corners[(k + 1) % count];
        twiceArea += static_cast<int64_t>(c.contourX[a]) * c.contourY[b] -
                     static_cast<int64_t>(c.contourX[b]) * c.contourY[a];
    }
    return twiceArea > 0 ? 1 : -1;
}

// Drops the polygon's vertex that turns least (or against the outline) until
// four are left that each turn by at least ROBUST_TURN_MIN; whether four are.
bool keepFourTurningCorners(const MarkerCandidate& c, int* corners, int count, int sense) {
    // The sides' lengths are measured once; dropping a vertex joins its two.
    double sides[ROBUST_VERTEX_MAX];
    for (int k = 0; k < count; k++)
        sides[k] = sideLength(c, corners, count, k);
    while (count >= 4) {
        int weakest = 0;
        double least = 2.0;
        for (int k = 0; k < count; k++) {
            const double t = turnSine(c, corners, sides, count, k, sense);
            if (t < least) {
                least = t;
                weakest = k;
            }
        }
        if (count == 4 && least >= ROBUST_TURN_MIN) {
            break;
        }
        std::copy(corners + weakest + 1, corners + count, corners + weakest);
        std::copy(sides + weakest + 1, sides + count, sides + weakest);
        count--;
        const int joined = (weakest + count - 1) % count;
        sides[joined] = sideLength(c, corners, count, joined);
    }
    return count == 4;
}

// What one side between two of the polygon's vertices is like: straight
// (ROBUST_SIDE_ON_LINE of its points along its chord, the chord from corner
// to corner only: an object over a corner would leave two sides of the
// square touched), or interrupted.
struct SideShape {
    bool straight;
    bool interrupted;
    int on;      // its points along its chord
    int gap[2];  // interrupted: the first and last point off its chord
};

// Whether at least `needed` of contour points s..e lie within the side's
// tolerance of their `chord`; `on` gets how many do when they are enough.
// The count stops once the points left cannot make it up.
bool enoughNearChord(const MarkerCandidate& c, const Chord& chord, int s, int e, double needed,
                     int* on) {
    const double limit = sideTolerance(chord) * chord.length;
    int near = 0;
    for (int i = s; i <= e; i++) {
        if (near + (e - i + 1) < needed)
            return false;
        near += std::fabs(scaledDistance(c, chord, i)) <= limit;
    }
    *on = near;
    return near >= needed;
}

SideShape sideShape(const MarkerCandidate& c, int s, int e, int inwards) {
    SideShape shape{};
    const Chord chord = chordThrough(c, s, e);
    shape.straight = enoughNearChord(c, chord, s, e, ROBUST_SIDE_ON_LINE * (e - s + 1), &shape.on);
    if (!shape.straight) {
        shape.interrupted = sideInterrupted(c, chord, s, e, inwards, &shape.on, shape.gap);
    }
    return shape;
}

// The sides between the polygon's vertices, each measured when first asked
// for (most never are: a corner that does not turn enough rules out every
// four with it).
class PolygonSides {
  public:
    PolygonSides(const MarkerCandidate& c, const int* polygon, int inwards, int sense)
        : c_(c), polygon_(polygon), inwards_(inwards), sense_(sense) {}

    // The side from vertex i forwards to vertex j.
    const SideShape& shape(int i, int j) {
        if (!known_[i][j]) {
            const int end = polygon_[j] + (j < i ? c_.pointCount - 1 : 0);
            shapes_[i][j] = sideShape(c_, polygon_[i], end, inwards_);
            known_[i][j] = true;
        }
        return shapes_[i][j];
    }

    // Whether vertex b turns enough between a and some vertex after it.
    bool turnsOnwards(int a, int b, int count) const {
        for (int d = b + 1; d < count; d++) {
            if (turnsEnough(a, b, d))
                return true;
        }
        return false;
    }

    // Whether vertex a turns enough between some last vertex (two or more
    // after b) and b.
    bool turnsAfterLast(int a, int b, int count) const {
        for (int f = b + 2; f < count; f++) {
            if (turnsEnough(f, a, b))
                return true;
        }
        return false;
    }

    // Whether the side from vertex i to j is straight or interrupted.
    bool usable(int i, int j) {
        const SideShape& side = shape(i, j);
        return side.straight || side.interrupted;
    }

    // Whether vertex b turns the outline by at least ROBUST_TURN_MIN between
    // vertices a and d: the sine of the angle, its sides' lengths squared
    // away.
    bool turnsEnough(int a, int b, int d) const {
        const double t = static_cast<double>(turn(c_, polygon_[a], polygon_[b], polygon_[d]));
        const double product = squaredLength(a, b) * squaredLength(b, d);
        return product > 0.0 && sense_ * t > 0.0 &&
               t * t >= ROBUST_TURN_MIN * ROBUST_TURN_MIN * product;
    }

  private:
    double squaredLength(int i, int j) const {
        const double dx = c_.contourX[polygon_[j]] - c_.contourX[polygon_[i]];
        const double dy = c_.contourY[polygon_[j]] - c_.contourY[polygon_[i]];
        return dx * dx + dy * dy;
    }

    const MarkerCandidate& c_;
    const int* polygon_;
    int inwards_;
    int sense_;
    SideShape shapes_[ROBUST_VERTEX_MAX][ROBUST_VERTEX_MAX];
    bool known_[ROBUST_VERTEX_MAX][ROBUST_VERTEX_MAX] = {};
};

// For a square with an object over the middle of one side, whose outline's
// corner search also makes corners of the object: of the polygon's vertices,
// the four that each turn by at least ROBUST_TURN_MIN, with three sides
// mostly straight between them and one interrupted, the most points lying
// along the sides (the first such four on ties). Whether there are such;
// `corners` gets them in contour order, `gap` the interrupted side's points
// off its chord (contour indices, counting on past the contour's end). The
// search leaves a choice as soon as a side or a corner of it fails.
bool fourCornersAroundAnInterruption(const MarkerCandidate& c, const int* polygon, int count,
                                     int sense, int* corners, int gap[2]) {
    // Inside an outline whose polygon's area is positive, a point's distance
    // from a side's chord is negative.
    PolygonSides sides(c, polygon, -sense, sense);
    int best = -1;
    for (int a = 0; a < count; a++) {
        for (int b = a + 1; b < count; b++) {
            if (!sides.turnsOnwards(a, b, count) || !sides.turnsAfterLast(a, b, count) ||
                !sides.usable(a, b))
                continue;
            for (int d = b + 1; d < count; d++) {
                if (!sides.turnsEnough(a, b, d) || !sides.usable(b, d) ||
                    sides.shape(a, b).interrupted + sides.shape(b, d).interrupted > 1)
                    continue;
                for (int f = d + 1; f < count; f++) {
                    const int v[4] = {a, b, d, f};
                    if (!sides.turnsEnough(b, d, f) || !sides.turnsEnough(d, f, a) ||
                        !sides.turnsEnough(f, a, b))
                        continue;
                    int on = 0;
                    int interrupted = 0;
                    bool usable = true;
                    for (int k = 0; k < 4 && usable; k++) {
                        usable = sides.usable(v[k], v[(k + 1) % 4]);
                        const SideShape& side = sides.shape(v[k], v[(k + 1) % 4]);
                        on += side.on;
                        interrupted += side.interrupted;
                    }
                    if (usable && interrupted == 1 && on > best) {
                        best = on;
                        for (int k = 0; k < 4; k++) {
                            const SideShape& side = sides.shape(v[k], v[(k + 1) % 4]);
                            corners[k] = polygon[v[k]];
                            if (side.interrupted)
                                std::copy(side.gap, side.gap + 2, gap);
                        }
                    }
                }
            }
        }
    }
    return best >= 0;
}

// Turns the contour to start at the first of `corners` and sets them, and
// the side's points an object takes off it, `gap` (none when first > last).
void startAtFirstCorner(MarkerCandidate* candidate, const int* corners, const int gap[2]) {
    MarkerCandidate& c = *candidate;
    const int n = c.pointCount;
    const int start = corners[0];
    std::rotate(c.contourX, c.contourX + start, c.contourX + n - 1);
    std::rotate(c.contourY, c.contourY + start, c.contourY + n - 1);
    c.contourX[n - 1] = c.contourX[0];
    c.contourY[n - 1] = c.contourY[0];
    arSetCorners(candidate, corners[1] - start, corners[2] - start, corners[3] - start);
    if (gap[0] <= gap[1]) {
        c.interruption[0] = gap[0] - start;
        c.interruption[1] = gap[1] - start;
    }
}

}  // namespace

MarkerStatus arCheckBentSquare(int area, MarkerCandidate* candidate, double factor) {
    const MarkerCandidate& c = *candidate;
    int polygon[ROBUST_VERTEX_MAX];
    const int count = outlinePolygon(c, arCornerThreshold(area, factor), polygon);
    if (count < 4) {
        return MarkerStatus::NotASquare;
    }
    const int sense = outlineSense(c, polygon, count);
    int corners[ROBUST_VERTEX_MAX];
    int gap[2] = {0, -1};
    if (!fourCornersAroundAnInterruption(c, polygon, count, sense, corners, gap)) {
        std::copy(polygon, polygon + count, corners);
        if (!keepFourTurningCorners(c, corners, count, sense) || !sidesMostlyStraight(c, corners))
            return MarkerStatus::NotASquare;
    }
    startAtFirstCorner(candidate, corners, gap);
    return MarkerStatus::Ok;
}
