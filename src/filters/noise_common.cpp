#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "filters/noise_internal.h"
#include "filters/noise_kernels.h"
#include "util/thread_scratch.h"

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
void Median8(const uint8_t* src, uint8_t* dst, int w, int h, int y0, int y1, int maxStep, int threshold, uint8_t*) {
  MedianScalar8(src, dst, w, h, y0, y1, maxStep, threshold, kWeighted);
}
template <bool kWeighted>
void Median16(const int16_t* src, int16_t* dst, int w, int h, int y0, int y1, int maxStep, int threshold, uint8_t*) {
  MedianScalar16(src, dst, w, h, y0, y1, maxStep, threshold, kWeighted);
}

constexpr Kernels kScalar = {DespeckleScalar8,
                             DespeckleScalar16,
                             DespeckleBandScalar8,
                             DespeckleBandScalar16,
                             {Median8<false>, Median8<true>},
                             {Median16<false>, Median16<true>}};

}  // namespace

const Kernels& ScalarKernels() { return kScalar; }

uint8_t* Scratch(size_t bytes) { return ThreadScratch(ScratchUse::kNoise, bytes); }

}  // namespace tarvo::noise
