#include "layout/layout_links.h"

#include <algorithm>
#include <cmath>

namespace {

// One frame's estimate of where marker `b` lies in marker `a`'s coordinates.
struct LinkCandidate {
    int frame;
    Pose bToA;
    double error;  // the two poses' errors summed
};

// The best-agreed estimate of a pair and how many frames agree with it.
struct PairLink {
    int a = -1, b = -1;
    int votes = 0;
    Pose bToA{};
};

// The trace of Ra^T Rb of two rotations at most LINK_AGREE_DEGREES apart is
// at least this: votes compare traces, without the arc cosine.
const double AGREE_TRACE_LEAST = 1.0 + 2.0 * std::cos(LINK_AGREE_DEGREES * M_PI / 180.0);

// How far, squared, an estimate's offset may lie from `a`'s and agree:
// the share of the distance between the markers plus the share of the width.
double agreeOffsetSquared(const Pose& a, double width) {
    const double bound =
        LINK_AGREE_SHARE * std::hypot(a.m[0][3], a.m[1][3], a.m[2][3]) + LINK_AGREE_WIDTHS * width;
    return bound * bound;
}

// Whether `b` agrees with `a`: their turn apart at most LINK_AGREE_DEGREES,
// their offsets at most the square root of `offsetSquared` apart.
bool agree(const Pose& a, const Pose& b, double offsetSquared) {
    double trace = 0.0;
    for (int i = 0; i < 3; i++)
        for (int k = 0; k < 3; k++)
            trace += a.m[k][i] * b.m[k][i];
    if (trace < AGREE_TRACE_LEAST)
        return false;
    double apart = 0.0;
    for (int i = 0; i < 3; i++)
        apart += (a.m[i][3] - b.m[i][3]) * (a.m[i][3] - b.m[i][3]);
    return apart <= offsetSquared;
}

// Every frame's candidates for each pair (a, b), a < b, at a * n + b;
// `sightings` in order of frames.
std::vector<std::vector<LinkCandidate>> pairCandidates(const std::vector<MarkerSighting>& sightings,
                                                       int n) {
    std::vector<std::vector<LinkCandidate>> candidates(static_cast<size_t>(n) * n);
    for (size_t first = 0; first < sightings.size();) {
        size_t end = first;
        while (end < sightings.size() && sightings[end].frame == sightings[first].frame)
            ++end;
        for (size_t i = first; i < end; i++)
            for (size_t j = first; j < end; j++) {
                const MarkerSighting& sa = sightings[i];
                const MarkerSighting& sb = sightings[j];
                if (sa.marker >= sb.marker)
                    continue;
                for (int p = 0; p < sa.poseCount; p++)
                    for (int q = 0; q < sb.poseCount; q++)
                        candidates[sa.marker * n + sb.marker].push_back(
                            {sa.frame, arPoseCompose(arPoseInvert(sa.poses[p]), sb.poses[q]),
                             sa.errors[p] + sb.errors[q]});
            }
        first = end;
    }
    return candidates;
}

// The candidate the most other frames agree with (one vote a frame). The
// candidates of at most LINK_HYPOTHESIS_FRAMES frames, spread evenly over the
// pair's, stand for election; every frame votes.
PairLink bestLink(const std::vector<LinkCandidate>& candidates, int a, int b, double width) {
    PairLink link{a, b, 0, {}};
    double bestError = 0.0;
    int frames = 0;
    for (size_t i = 0; i < candidates.size(); i++)
        frames += i == 0 || candidates[i].frame != candidates[i - 1].frame;
    const int stride = (frames + LINK_HYPOTHESIS_FRAMES - 1) / LINK_HYPOTHESIS_FRAMES;
    int frame = -1;
    for (size_t i = 0; i < candidates.size(); i++) {
        const LinkCandidate& c = candidates[i];
        frame += i == 0 || c.frame != candidates[i - 1].frame;
        if (frame % stride != 0)
            continue;
        const double offsetSquared = agreeOffsetSquared(c.bToA, width);
        int votes = 0, lastFrame = -1;
        for (const LinkCandidate& d : candidates) {
            if (d.frame != lastFrame && agree(c.bToA, d.bToA, offsetSquared)) {
                ++votes;
                lastFrame = d.frame;
            }
        }
        if (votes > link.votes || (votes == link.votes && c.error < bestError)) {
            link.votes = votes;
            link.bToA = c.bToA;
            bestError = c.error;
        }
    }
    return link;
}

}  // namespace

double turnBetweenDegrees(const Pose& a, const Pose& b) {
    return arPoseTurnBetween(a, b) * 180.0 / M_PI;
}

LayoutResult linkMarkers(const std::vector<MarkerSighting>& sightings,
                         const std::vector<double>& widths, MarkerLayout& layout) {
    const int n = static_cast<int>(widths.size());
    layout.markers.assign(n, PlacedMarker{});
    for (int m = 0; m < n; m++)
        layout.markers[m].width = widths[m];
    const std::vector<std::vector<LinkCandidate>> candidates = pairCandidates(sightings, n);
    std::vector<PairLink> links;
    for (int a = 0; a < n; a++)
        for (int b = a + 1; b < n; b++) {
            const PairLink link =
                bestLink(candidates[a * n + b], a, b, std::max(widths[a], widths[b]));
            if (link.votes > 0)
                links.push_back(link);
        }
    // The strongest link from a placed marker to an unplaced one, until none is left.
    layout.markers[0].linked = true;
    for (int i = 0; i < 3; i++)
        layout.markers[0].toWorld.m[i][i] = 1.0;
    for (;;) {
        const PairLink* best = nullptr;
        for (const PairLink& link : links) {
            const bool fromA = layout.markers[link.a].linked && !layout.markers[link.b].linked;
            const bool fromB = layout.markers[link.b].linked && !layout.markers[link.a].linked;
            if ((fromA || fromB) && (best == nullptr || link.votes > best->votes))
                best = &link;
        }
        if (best == nullptr)
            break;
        PlacedMarker& a = layout.markers[best->a];
        PlacedMarker& b = layout.markers[best->b];
        if (a.linked)
            b.toWorld = arPoseCompose(a.toWorld, best->bToA);
        else
            a.toWorld = arPoseCompose(b.toWorld, arPoseInvert(best->bToA));
        a.linked = b.linked = true;
    }
    const bool any = std::any_of(layout.markers.begin() + 1, layout.markers.end(),
                                 [](const PlacedMarker& m) { return m.linked; });
    return {any ? LayoutStatus::Ok : LayoutStatus::NoLink};
}
