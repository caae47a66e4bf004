#include "filters/despeckle.h"

#include <algorithm>
#include <cstring>

#include "filters/noise_internal.h"
#include "util/cpu_features.h"

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
void ReferenceFilter(T* data, int width, int height, int strength, int scale) {
  int steps[3];
  const int cycles = noise::DespeckleSteps(strength, steps);
  for (int c = 0; c < cycles; ++c)
    for (const noise::TPassDir& dir : noise::kPasses) ReferencePass(data, width, height, dir, steps[c] * scale);
}

// Common start of both versions: checks, the copy into the destination and
// the strength clamp. Returns the strength still to apply (0 = done).
int Prepare(const TChannel& source, TChannel& destination, int strength, bool copy) {
  if (!noise::CheckPlanes("Despeckle", source, destination)) return 0;
  if (strength < 1 || noise::TooSmall(source)) copy = true;
  if (copy && source.Data() != destination.Data()) std::memcpy(destination.Data(), source.Data(), source.ByteSize());
  if (strength < 1 || noise::TooSmall(source)) return 0;
  return std::min(strength, 4);
}

}  // namespace

void DespeckleReference(const TChannel& source, TChannel& destination, int strength) {
  strength = Prepare(source, destination, strength, true);
  if (strength == 0) return;
  if (destination.Depth() == 1)
    ReferenceFilter(destination.Data(), destination.Width(), destination.Height(), strength, 1);
  else
    ReferenceFilter(destination.Data16(), destination.Width(), destination.Height(), strength, 2);
}

void Despeckle(const TChannel& source, TChannel& destination, int strength) {
  // The vectorised versions read the source themselves, so the copy is left
  // to them unless the plane is not filtered at all.
  strength = Prepare(source, destination, strength, false);
  if (strength == 0) return;
  const KernelLevel level = ActiveKernelLevel();
  if (level >= KernelLevel::Avx2 && noise::DespeckleAvx2(source, destination, strength)) return;
  if (level >= KernelLevel::Sse2 && noise::DespeckleSse2(source, destination, strength)) return;
  DespeckleReference(source, destination, strength);
}

}  // namespace tarvo
