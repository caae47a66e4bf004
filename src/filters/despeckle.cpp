#include "filters/despeckle.h"

#include <algorithm>
#include <cstring>

#include "filters/kernel_set.h"
#include "filters/noise_internal.h"
#include "filters/noise_kernels.h"
#include "filters/noise_passes.h"

namespace tarvo {
namespace {

// One directional pass in place over the filtered range, scanning away from
// the neighbour so that every comparison sees the neighbour's value from
// before the pass.
template <typename T>
void ReferencePass(T* data, int width, int height, const noise::TPassDir& dir, int step) {
  const int off = dir.dy * width + dir.dx;
  const int first = width + 1;
  const int last = width * (height - 1) - 2;
  auto apply = [&](int i) {
    const int p = data[i];
    const int n = data[i + off];
    if (dir.raise) {
      if (p + step < n) data[i] = static_cast<T>(p + step);
    } else {
      if (n < p - step) data[i] = static_cast<T>(p - step);
    }
  };
  if (off < 0) {
    for (int i = last; i >= first; --i) apply(i);
  } else {
    for (int i = first; i <= last; ++i) apply(i);
  }
}

template <typename T>
void ReferenceFilter(const T* src, T* data, int width, int height, int strength) {
  if (src != data) std::memcpy(data, src, static_cast<size_t>(width) * height * sizeof(T));
  const int scale = static_cast<int>(sizeof(T));
  int steps[3];
  const int cycles = noise::DespeckleSteps(strength, steps);
  for (int c = 0; c < cycles; ++c)
    for (const noise::TPassDir& dir : noise::kPasses) ReferencePass(data, width, height, dir, steps[c] * scale);
}

}  // namespace

namespace noise {

void DespeckleScalar8(const uint8_t* src, uint8_t* dst, int w, int h, int strength) {
  ReferenceFilter(src, dst, w, h, strength);
}
void DespeckleScalar16(const int16_t* src, int16_t* dst, int w, int h, int strength) {
  ReferenceFilter(src, dst, w, h, strength);
}

}  // namespace noise

void Despeckle(const TChannel& source, TChannel& destination, int strength, const noise::Kernels& kernels) {
  if (!noise::CheckPlanes("Despeckle", source, destination)) return;
  if (strength < 1 || noise::TooSmall(source)) {
    if (source.Data() != destination.Data()) std::memcpy(destination.Data(), source.Data(), source.ByteSize());
    return;
  }
  strength = std::min(strength, 4);
  const int w = source.Width(), h = source.Height();
  if (source.Depth() == 1)
    kernels.despeckle8(source.Data(), destination.Data(), w, h, strength);
  else
    kernels.despeckle16(reinterpret_cast<const int16_t*>(source.Data()), destination.Data16(), w, h, strength);
}

void Despeckle(const TChannel& source, TChannel& destination, int strength) {
  Despeckle(source, destination, strength, *ActiveKernelSet().noise);
}

void DespeckleReference(const TChannel& source, TChannel& destination, int strength) {
  Despeckle(source, destination, strength, noise::ScalarKernels());
}

}  // namespace tarvo
