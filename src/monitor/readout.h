// The pixel readout beside the monitors: the numbers shown for the picture
// pixel under the mouse, as red, green and blue code values or as luminance
// and two colour differences.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tarvo::monitor {

// The three values, top to bottom.
struct ReadoutValues {
  int32_t top = 0;
  int32_t mid = 0;
  int32_t bot = 0;
};

// BalanceLabels 0: red, green, blue (0..255). BalanceLabels 1 (any value
// other than 0): Yr = (77 red + 150 green + 29 blue + 128) div 256, then Yr,
// blue - Yr, red - Yr.
ReadoutValues PixelReadout(uint8_t red, uint8_t green, uint8_t blue, int32_t balanceLabels);

// The name labels for a readout mode: "R", "G", "B" or "Y", "Cb", "Cr".
std::array<std::string_view, 3> ReadoutNames(int32_t balanceLabels);

// The readout of the processed 240 x 180 monitor frame (4-byte pixels blue,
// green, red, fourth byte; rows 240 x 4 bytes apart, stored bottom row first)
// at panel position (x, y), y counted from the panel's top. Nothing when the
// position is outside the picture or there is no frame.
std::optional<ReadoutValues> ReadoutAt(const uint8_t* frame, int32_t x, int32_t y, int32_t balanceLabels);

}  // namespace tarvo::monitor
