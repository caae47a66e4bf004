#include "monitor/readout.h"

#include <cstddef>

#include "monitor/monitor.h"

namespace tarvo::monitor {

ReadoutValues PixelReadout(uint8_t red, uint8_t green, uint8_t blue, int32_t balanceLabels) {
  if (balanceLabels == 0) return {red, green, blue};
  const int32_t y = (77 * red + 150 * green + 29 * blue + 128) / 256;
  return {y, blue - y, red - y};
}

std::array<std::string_view, 3> ReadoutNames(int32_t balanceLabels) {
  if (balanceLabels == 0) return {"R", "G", "B"};
  return {"Y", "Cb", "Cr"};
}

std::optional<ReadoutValues> ReadoutAt(const uint8_t* frame, int32_t x, int32_t y, int32_t balanceLabels) {
  if (!frame || x < 0 || y < 0 || x >= kFrameWidth || y >= kFrameHeight) return std::nullopt;
  const uint8_t* p =
      frame + (static_cast<size_t>(x) + static_cast<size_t>(kFrameHeight - 1 - y) * kFrameWidth) * 4;
  return PixelReadout(p[2], p[1], p[0], balanceLabels);
}

}  // namespace tarvo::monitor
