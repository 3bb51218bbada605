#include "image/transfer_curve.h"

#include <cmath>
#include <cstring>

namespace {

double clip01(double v) {
    return v > 0.0 ? (v < 1.0 ? v : 1.0) : 0.0;
}

}  // namespace

double transferEncode(TransferCurve curve, double light) {
    const double l = clip01(light);
    switch (curve) {
        case TransferCurve::Srgb:
            return l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1.0 / 2.4) - 0.055;
        case TransferCurve::Rec709:
            return l < 0.018 ? 4.5 * l : 1.099 * std::pow(l, 0.45) - 0.099;
        case TransferCurve::Linear:
            break;
    }
    return l;
}

double transferDecode(TransferCurve curve, double value) {
    const double v = clip01(value);
    switch (curve) {
        case TransferCurve::Srgb:
            return v <= 12.92 * 0.0031308 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        case TransferCurve::Rec709:
            return v < 4.5 * 0.018 ? v / 4.5 : std::pow((v + 0.099) / 1.099, 1.0 / 0.45);
        case TransferCurve::Linear:
            break;
    }
    return v;
}

void fillLinearLevels(TransferCurve curve, LinearLevels& levels) {
    for (int level = 0; level < 256; level++)
        levels.light[level] = static_cast<float>(transferDecode(curve, level / 255.0));
}

bool transferCurveNamed(const char* name, TransferCurve* curve) {
    const struct {
        const char* name;
        TransferCurve curve;
    } NAMES[] = {{"srgb", TransferCurve::Srgb},
                 {"rec709", TransferCurve::Rec709},
                 {"linear", TransferCurve::Linear}};
    for (const auto& entry : NAMES) {
        if (std::strcmp(entry.name, name) == 0) {
            *curve = entry.curve;
            return true;
        }
    }
    return false;
}
