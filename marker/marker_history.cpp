#include "marker/marker_history.h"

#include <algorithm>

namespace {

// The current marker matching `remembered` best (smallest r, the first on
// ties), or -1.
int bestMatch(const MarkerInfo& remembered, const MarkerList& list) {
    int best = -1;
    double bestR = 0.0;
    for (int i = 0; i < list.count; i++) {
        if (!arMarkersMatch(remembered, list.markers[i])) {
            continue;
        }
        const double r = arCentreDistanceRatio(remembered, list.markers[i]);
        if (best < 0 || r < bestR) {
            best = i;
            bestR = r;
        }
    }
    return best;
}

double squaredDistance(const ImagePoint& p, const ImagePoint& q) {
    const double dx = p.x - q.x;
    const double dy = p.y - q.y;
    return dx * dx + dy * dy;
}

// How far the current corner list is turned against the remembered one: the
// k for which current corner (i + k) mod 4 lies nearest remembered corner i;
// -1 when no turn comes below CORNER_ORDER_SUM_START.
int cornerTurn(const MarkerInfo& remembered, const MarkerInfo& current) {
    double bestSum = CORNER_ORDER_SUM_START;
    int turn = -1;
    for (int k = 0; k < 4; k++) {
        double sum = 0.0;
        for (int i = 0; i < 4; i++) {
            sum += squaredDistance(remembered.vertices[i], current.vertices[(i + k) % 4]);
        }
        if (sum < bestSum) {
            bestSum = sum;
            turn = k;
        }
    }
    return turn;
}

bool matchesAny(const MarkerInfo& remembered, const MarkerList& list) {
    for (int i = 0; i < list.count; i++) {
        if (arMarkersMatch(remembered, list.markers[i])) {
            return true;
        }
    }
    return false;
}

// Gives a current marker the identity of the remembered marker it matches
// best when that one was matched more confidently, with the direction turned
// by how far the corner list turned.
// The strict history carries it only onto a marker of about the
// remembered size that matches fairly well itself.
void carryIdentities(const MarkerHistory& history, MarkerList& list, bool strict) {
    for (int e = 0; e < history.count; e++) {
        const MarkerInfo& remembered = history.entries[e].marker;
        const int i = bestMatch(remembered, list);
        if (i < 0 || list.markers[i].confidence >= remembered.confidence) {
            continue;
        }
        const double ratio = static_cast<double>(remembered.area) / list.markers[i].area;
        if (strict && (list.markers[i].confidence < STRICT_CARRY_CONFIDENCE_MIN ||
                       ratio < STRICT_AREA_RATIO_MIN || ratio > STRICT_AREA_RATIO_MAX)) {
            continue;
        }
        MarkerInfo& current = list.markers[i];
        current.confidence = remembered.confidence;
        current.id = remembered.id;
        const int turn = cornerTurn(remembered, current);
        current.direction = turn < 0 ? -1 : (remembered.direction - turn + 4) % 4;
    }
}

// Takes the id from markers matched less well than CONFIDENCE_MIN.
void dropUnconfidentIds(MarkerList& list) {
    for (int i = 0; i < list.count; i++) {
        if (list.markers[i].confidence < CONFIDENCE_MIN) {
            list.markers[i].id = -1;
        }
    }
}

// Ages every entry and forgets those reaching HISTORY_AGE_LIMIT.
void ageHistory(MarkerHistory& history) {
    int kept = 0;
    for (int e = 0; e < history.count; e++) {
        history.entries[e].age++;
        if (history.entries[e].age < HISTORY_AGE_LIMIT) {
            history.entries[kept++] = history.entries[e];
        }
    }
    history.count = kept;
}

// Stores or refreshes each identified marker, one entry per id.
void rememberMarkers(MarkerHistory& history, const MarkerList& list) {
    for (int i = 0; i < list.count; i++) {
        const MarkerInfo& marker = list.markers[i];
        if (marker.id < 0) {
            continue;
        }
        int e = 0;
        while (e < history.count && history.entries[e].marker.id != marker.id) {
            e++;
        }
        if (e == history.count) {
            if (history.count == MARKER_MAX) {
                continue;
            }
            history.count++;
        }
        history.entries[e].marker = marker;
        history.entries[e].age = 1;
    }
}

// Appends the remembered markers that no current marker matches.
void readdUnseenMarkers(const MarkerHistory& history, MarkerList& list) {
    for (int e = 0; e < history.count && list.count < MARKER_MAX; e++) {
        const MarkerInfo& remembered = history.entries[e].marker;
        if (!matchesAny(remembered, list)) {
            list.markers[list.count++] = remembered;
        }
    }
}

}  // namespace

double arCentreDistanceRatio(const MarkerInfo& remembered, const MarkerInfo& current) {
    const double dx = current.centre.x - remembered.centre.x;
    const double dy = current.centre.y - remembered.centre.y;
    return (dx * dx + dy * dy) / current.area;
}

bool arMarkersMatch(const MarkerInfo& remembered, const MarkerInfo& current) {
    const double ratio = static_cast<double>(remembered.area) / current.area;
    if (ratio < TRACK_AREA_RATIO_MIN || ratio > TRACK_AREA_RATIO_MAX) {
        return false;
    }
    return arCentreDistanceRatio(remembered, current) < TRACK_DISTANCE_MAX;
}

void arQuestionNestedMarkers(const LabelResult& labels, MarkerList& list) {
    for (int i = 0; i < list.count; i++) {
        MarkerInfo& marker = list.markers[i];
        if (marker.id < 0 || marker.confidence >= NESTED_CONFIDENCE_MIN) {
            continue;
        }
        for (int32_t l = 0; l < labels.labelCount; l++) {
            const RegionBox& box = labels.boxes[l];
            const bool inside = std::all_of(marker.vertices, marker.vertices + 4, [&](auto& v) {
                return v.x > box.minX && v.x < box.maxX && v.y > box.minY && v.y < box.maxY;
            });
            if (inside &&
                labels.areas[l] > NESTED_AREA_FACTOR * static_cast<int64_t>(marker.area)) {
                marker.id = -1;
                marker.confidence = 0.0;
                break;
            }
        }
    }
}

void arMarkersKeepingIdentity(const MarkerHistory& history, const MarkerList& list, bool* keeps) {
    for (int i = 0; i < list.count; i++)
        keeps[i] = list.markers[i].confidence >= CONFIDENCE_MIN;
    for (int e = 0; e < history.count; e++) {
        const int i = bestMatch(history.entries[e].marker, list);
        if (i >= 0)
            keeps[i] = true;
    }
}

void arSteadyMarkers(MarkerHistory& history, MarkerList& list, bool strict) {
    carryIdentities(history, list, strict);
    dropUnconfidentIds(list);
    ageHistory(history);
    rememberMarkers(history, list);
    readdUnseenMarkers(history, list);
}
