#include "layout/layout_file.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <utility>

#include "files/replace_file.h"

namespace {

const char* const HEADER =
    "marker,pattern,width,frames,sigma_deg,sigma_pos,"
    "r00,r01,r02,t0,r10,r11,r12,t1,r20,r21,r22,t2";

// The line's fields split at commas; the pattern (second) may hold none.
std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::stringstream in(line);
    std::string field;
    while (std::getline(in, field, ','))
        out.push_back(field);
    return out;
}

bool number(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end == text.c_str() + text.size() && std::isfinite(value);
}

}  // namespace

std::string formatLayout(const MarkerLayout& layout, const std::vector<std::string>& patterns) {
    std::string text = std::string(HEADER) + "\n";
    char buffer[64];
    for (size_t m = 0; m < layout.markers.size(); m++) {
        const PlacedMarker& placed = layout.markers[m];
        if (!placed.linked)
            continue;
        text += std::to_string(m) + "," + (m < patterns.size() ? patterns[m] : "");
        std::snprintf(buffer, sizeof buffer, ",%.9g,%d,%.3g,%.3g", placed.width, placed.frames,
                      placed.sigmaDegrees, placed.sigmaPosition);
        text += buffer;
        for (int i = 0; i < 3; i++)
            for (int j = 0; j < 4; j++) {
                std::snprintf(buffer, sizeof buffer, ",%.9g", placed.toWorld.m[i][j]);
                text += buffer;
            }
        text += "\n";
    }
    return text;
}

LayoutResult writeLayout(const std::string& path, const MarkerLayout& layout,
                         const std::vector<std::string>& patterns) {
    const std::string text = formatLayout(layout, patterns);
    const FileResult written = replaceFile(path, [&](std::FILE* file) {
        return std::fwrite(text.data(), 1, text.size(), file) == text.size();
    });
    if (!written.ok())
        return {LayoutStatus::CannotWrite, written.error};
    return {};
}

LayoutResult readLayout(const std::string& path, const std::vector<double>& widths,
                        MarkerLayout& layout, std::vector<std::string>* patterns) {
    std::ifstream in(path);
    if (!in)
        return {LayoutStatus::CannotRead, errno};
    const bool anyWidth = widths.empty();
    layout.markers.assign(anyWidth ? SET_MARKER_MAX : widths.size(), PlacedMarker{});
    std::vector<std::string> names(layout.markers.size());
    std::string line;
    int number_ = 0;
    if (!std::getline(in, line) || line.rfind("marker,", 0) != 0)
        return {LayoutStatus::BadFile, 0, 1};
    for (number_ = 2; std::getline(in, line); number_++) {
        if (line.empty())
            continue;
        const std::vector<std::string> f = fields(line);
        double v[16];
        bool good = f.size() == 18;
        for (size_t i = 2; good && i < 18; i++)
            good = number(f[i], v[i - 2]);
        const double index = good ? std::strtod(f[0].c_str(), nullptr) : -1.0;
        if (!good || index != std::floor(index))
            return {LayoutStatus::BadFile, 0, number_};
        if (index < 0 || index >= static_cast<double>(layout.markers.size()) || !(v[0] > 0.0) ||
            (!anyWidth && std::fabs(v[0] - widths[static_cast<size_t>(index)]) >
                              1e-6 * widths[static_cast<size_t>(index)]))
            return {LayoutStatus::WrongMarkers, 0, number_};
        PlacedMarker& placed = layout.markers[static_cast<size_t>(index)];
        placed.linked = true;
        names[static_cast<size_t>(index)] = f[1];
        placed.width = v[0];
        placed.frames = static_cast<int>(v[1]);
        placed.sigmaDegrees = v[2];
        placed.sigmaPosition = v[3];
        for (int i = 0; i < 3; i++)
            for (int j = 0; j < 4; j++)
                placed.toWorld.m[i][j] = v[4 + i * 4 + j];
    }
    for (size_t m = 0; m < widths.size(); m++)
        layout.markers[m].width = widths[m];
    while (anyWidth && !layout.markers.empty() && !layout.markers.back().linked)
        layout.markers.pop_back();
    if (layout.markers.empty() || !layout.markers[0].linked)
        return {LayoutStatus::WrongMarkers, 0, 0};
    if (patterns != nullptr) {
        names.resize(layout.markers.size());
        *patterns = std::move(names);
    }
    return {};
}
