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

double offsetBetween(const Pose& a, const Pose& b) {
    return std::hypot(a.m[0][3] - b.m[0][3], a.m[1][3] - b.m[1][3], a.m[2][3] - b.m[2][3]);
}

bool agree(const Pose& a, const Pose& b, double width) {
    const double distance = std::hypot(a.m[0][3], a.m[1][3], a.m[2][3]);
    return turnBetweenDegrees(a, b) <= LINK_AGREE_DEGREES &&
           offsetBetween(a, b) <= LINK_AGREE_SHARE * distance + LINK_AGREE_WIDTHS * width;
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

// The candidate the most other frames agree with (one vote a frame).
PairLink bestLink(const std::vector<LinkCandidate>& candidates, int a, int b, double width) {
    PairLink link{a, b, 0, {}};
    double bestError = 0.0;
    for (const LinkCandidate& c : candidates) {
        int votes = 0, lastFrame = -1;
        for (const LinkCandidate& d : candidates) {
            if (d.frame != lastFrame && agree(c.bToA, d.bToA, width)) {
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
    double trace = 0.0;  // trace of Ra^T Rb
    for (int i = 0; i < 3; i++)
        for (int k = 0; k < 3; k++)
            trace += a.m[k][i] * b.m[k][i];
    return std::acos(std::clamp((trace - 1.0) / 2.0, -1.0, 1.0)) * 180.0 / M_PI;
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
