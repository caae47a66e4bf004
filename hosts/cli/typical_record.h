// The clean-up settings the demo uses and the speed figures are quoted for
// (the same as the pipeline benchmark's typical record): a grade (gamma about
// 0.9, saturation 120 %), 4:4:4, despeckle 2 with a noise mask, temporal
// smoothing of luminance and colour with motion detection, sharpening 30
// with a mask.
#pragma once

#include <array>
#include <string_view>

namespace tarvo::cli {

inline constexpr std::array<std::string_view, 12> kTypicalCleanup = {
    "Gamma=-5",          "Sat=120",           "ProcMode=444",     "YDespeckle=2",
    "CDespeckle=2",      "NoiseMask=2",       "TempYThreshold=20", "TempCThreshold=20",
    "TempRecursion=50",  "TempFlags=1",       "YSharpness=30",    "SharpMask=2",
};

}  // namespace tarvo::cli
