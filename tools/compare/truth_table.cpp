#include "tools/compare/truth_table.h"

#include <algorithm>
#include <cmath>
#include <fstream>

#include "cli/option_table.h"
#include "pose/rotation_angles.h"

namespace {

std::vector<std::string> cells(const std::string& line) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t comma; (comma = line.find(',', start)) != std::string::npos; start = comma + 1) {
        out.push_back(line.substr(start, comma - start));
    }
    out.push_back(line.substr(start));
    return out;
}

const char* const POSE_COLUMNS[12] = {"r00", "r01", "r02", "t0",  "r10", "r11",
                                      "r12", "t1",  "r20", "r21", "r22", "t2"};
const char* const KEY_COLUMNS[6] = {"translateX", "translateY", "translateZ",
                                    "rotateY",    "rotateX",    "rotateZ"};

}  // namespace

int readTruthTable(const std::string& path, std::vector<TruthRow>& rows, std::string& error) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) {
        error = path + ": cannot be read, or is empty";
        return -1;
    }
    const std::vector<std::string> header = cells(line);
    const auto column = [&](const char* name) {
        const auto at = std::find(header.begin(), header.end(), name);
        return at == header.end() ? -1 : static_cast<int>(at - header.begin());
    };
    // Where each value comes from: visible, min_side_px, area_px, the pose, the keys.
    std::vector<int> from = {column("visible"), column("min_side_px"), column("area_px")};
    for (const char* name : POSE_COLUMNS) {
        from.push_back(column(name));
    }
    for (const char* name : KEY_COLUMNS) {
        from.push_back(column(name));
    }
    if (*std::min_element(from.begin(), from.end()) < 0) {
        error = path + ": not a truth table of lumeko-render (a column is missing)";
        return -1;
    }
    from.push_back(column("border_covered"));
    from.push_back(column("blur_px"));
    rows.clear();
    for (int number = 2; std::getline(in, line); ++number) {
        const std::vector<std::string> c = cells(line);
        double v[23] = {};
        bool good = c.size() == header.size();
        for (size_t k = 0; good && k < from.size(); ++k) {
            good = from[k] < 0 || parseDouble(c[from[k]], v[k]);
        }
        if (!good) {
            error = path + ": line " + std::to_string(number) + " is not a row of the table";
            return -1;
        }
        TruthRow& row = rows.emplace_back();
        row.visible = v[0] != 0.0;
        row.minSide = v[1];
        row.area = v[2];
        for (int k = 0; k < 12; ++k) {
            row.pose[k / 4][k % 4] = v[3 + k];
        }
        std::copy(v + 15, v + 21, row.keys.begin());
        row.borderCovered = v[21];
        row.blurPx = v[22];
    }
    return 0;
}

Keys keysOf(const KeyRow& r) {
    return {r.translateX, r.translateY, r.translateZ, r.rotateY, r.rotateX, r.rotateZ};
}

double positionError(const Keys& truth, const Keys& got) {
    return std::hypot(got[0] - truth[0], got[1] - truth[1], got[2] - truth[2]) /
           std::hypot(truth[0], truth[1], truth[2]);
}

double orientationError(const Keys& x, const Keys& y) {
    double R[2][3][3], trace = 0.0;
    for (int n = 0; n < 2; ++n) {
        const Keys& k = n == 0 ? x : y;
        const double d = M_PI / 180.0, a = (k[3] + 90.0) * d;
        arAnglesToRotation(a, (90.0 - k[4]) * d, a - (k[5] + 90.0) * d, R[n]);
    }
    for (int i = 0; i < 9; ++i) {
        trace += R[0][i / 3][i % 3] * R[1][i / 3][i % 3];
    }
    return std::acos(std::clamp((trace - 1.0) / 2.0, -1.0, 1.0)) * 180.0 / M_PI;
}

bool heldAfterLoss(const std::vector<TruthRow>& rows, size_t i) {
    return (i >= 1 && rows[i - 1].visible) || (i >= 2 && rows[i - 2].visible);
}
