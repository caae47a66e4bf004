// The clean-up settings the demo uses and the speed figures are quoted for:
// level correction, 4:4:4, despeckle 2 with a noise mask, temporal smoothing
// of luminance and colour with motion detection, sharpening 30 with a mask.
#pragma once

#include <array>
#include <string_view>

namespace tarvo::cli {

inline constexpr std::array<std::string_view, 17> kTypicalCleanup = {
    "ProcMode=444",     "Lift=3",           "Gain=104",         "Gamma=-8",        "Sat=110",
    "YDespeckle=2",     "CDespeckle=2",     "NoiseMask=2",      "TempYThreshold=20", "TempCThreshold=20",
    "TempRecursion=60", "TempOnset=10",     "TempLimit=50",     "TempResponse=50", "TempFlags=3",
    "YSharpness=30",    "SharpMask=2",
};

}  // namespace tarvo::cli
