#pragma once

// How a picture's levels encode light: cameras and renderers store the light
// they gather through a transfer curve, so that a level halfway up is not half
// the light. Blur (a moving camera, a lens out of focus) mixes light, so it
// is symmetric in linear light and bent in the levels.
enum class TransferCurve {
    Srgb,    // 12.92 L up to 0.0031308, else 1.055 L^(1/2.4) - 0.055
    Rec709,  // 4.5 L below 0.018, else 1.099 L^0.45 - 0.099
    Linear,  // the level is the light
};

// The encoded value (0..1) of linear light L (clipped to 0..1).
double transferEncode(TransferCurve curve, double light);
// The linear light (0..1) of an encoded value (clipped to 0..1).
double transferDecode(TransferCurve curve, double value);

// The linear light of each 8-bit level, level / 255 decoded.
struct LinearLevels {
    float light[256];
};
void fillLinearLevels(TransferCurve curve, LinearLevels& levels);

// The curve named "srgb", "rec709" or "linear"; false for another name.
bool transferCurveNamed(const char* name, TransferCurve* curve);
