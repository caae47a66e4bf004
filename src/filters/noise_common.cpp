#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "filters/noise_internal.h"
#include "filters/noise_kernels.h"

namespace tarvo::noise {

bool CheckPlanes(const char* what, const TChannel& source, const TChannel& destination) {
  if (source.Width() != destination.Width() || source.Height() != destination.Height() ||
      source.Depth() != destination.Depth())
    throw std::invalid_argument(std::string(what) + ": source and destination planes differ in size");
  if (source.Width() <= 0 || source.Height() <= 0 || source.Depth() == 0) return false;
  if (source.Depth() != 1 && source.Depth() != 2)
    throw std::invalid_argument(std::string(what) + ": sample depth must be 1 or 2 bytes");
  if (!source.HasBuffer() || !destination.HasBuffer())
    throw std::invalid_argument(std::string(what) + ": plane has no buffer");
  return true;
}

void NormaliseMedianLimits(int depth, int& maxStep, int& threshold) {
  // Differences reach 255 on Depth 1 and 65535 on Depth 2 (twice 32767.5 in
  // 8-bit units); larger limits behave exactly like these.
  const int top = depth == 1 ? 255 : 32768;
  maxStep = std::clamp(maxStep, 0, top);
  threshold = std::clamp(threshold, 0, top);
}

namespace {

template <bool kWeighted>
void Median8(const uint8_t* src, uint8_t* dst, int w, int h, int maxStep, int threshold) {
  MedianScalar8(src, dst, w, h, maxStep, threshold, kWeighted);
}
template <bool kWeighted>
void Median16(const int16_t* src, int16_t* dst, int w, int h, int maxStep, int threshold) {
  MedianScalar16(src, dst, w, h, maxStep, threshold, kWeighted);
}

constexpr Kernels kScalar = {DespeckleScalar8,
                             DespeckleScalar16,
                             DespeckleBandScalar8,
                             DespeckleBandScalar16,
                             {Median8<false>, Median8<true>},
                             {Median16<false>, Median16<true>}};

}  // namespace

const Kernels& ScalarKernels() { return kScalar; }

uint8_t* Scratch(size_t bytes) {
  thread_local std::vector<uint8_t> buffer;
  if (buffer.size() < bytes) buffer.resize(bytes);
  return buffer.data();
}

}  // namespace tarvo::noise
