#include "util/scaler.h"

#include <cstdint>
#include <cstring>

#include "types/rounding.h"

namespace tarvo {
namespace {

constexpr int32_t kMaxScaledWidth = 4096;

// Source index for destination index i of n: (size - 1) * i / (n - 1) taken
// to the nearest integer, so that the first and last entries meet exactly.
int64_t NearestSource(int64_t size, int64_t i, int64_t n) {
  return Rnd(static_cast<long double>((size - 1) * i) / static_cast<long double>(n - 1));
}

bool Refuse(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

}  // namespace

bool ScaleFrame(const TPixBuffer& source, TPixBuffer& destination, std::string* error) {
  const int32_t sw = FrameWidth(source), sh = FrameHeight(source);
  const int32_t dw = FrameWidth(destination), dh = FrameHeight(destination);
  if (dw < 2 || dh < 2 || dw > kMaxScaledWidth)
    return Refuse(error, "Cannot scale a frame to " + std::to_string(dw) + " x " + std::to_string(dh) +
                             ": the picture must be at least 2 x 2 and at most 4096 wide.");
  if (destination.Pixels == nullptr) return Refuse(error, "Cannot scale a frame: the destination has no pixels.");
  if (source.Pixels == nullptr || sw <= 0 || sh <= 0)
    return Refuse(error, "Cannot scale a frame: the source has no pixels.");

  // Byte offsets of the source column of every destination column, computed
  // once so that the inner loop is a look-up and a 4-byte copy.
  size_t columns[kMaxScaledWidth];
  for (int32_t i = 0; i < dw; ++i) columns[i] = 4 * static_cast<size_t>(NearestSource(sw, i, dw));

  const size_t sourceRow = 4 * static_cast<size_t>(sw);
  uint8_t* d = destination.Pixels;
  for (int32_t j = 0; j < dh; ++j) {
    const uint8_t* s = source.Pixels + static_cast<size_t>(NearestSource(sh, j, dh)) * sourceRow;
    for (int32_t i = 0; i < dw; ++i, d += 4) std::memcpy(d, s + columns[i], 4);
  }
  return true;
}

}  // namespace tarvo
