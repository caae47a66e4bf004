// Scoped changes of the process-wide kernel choice for tests and fuzz
// targets: the cap on the kernel level and the 512-bit colour kernels go back
// to their defaults (no cap below AVX2, 512-bit kernels allowed) when the
// guard ends, however the scope is left. Header only; needs nothing but the
// processing core.
#pragma once

#include "util/cpu_features.h"

namespace tarvo::test {

class KernelLevelGuard {
 public:
  KernelLevelGuard() = default;
  KernelLevelGuard(const KernelLevelGuard&) = delete;
  KernelLevelGuard& operator=(const KernelLevelGuard&) = delete;
  ~KernelLevelGuard() {
    SetKernelLevelCap(KernelLevel::Avx2);
    AllowWideVectors(true);
  }

  // Caps the level; true when this CPU (and TARVO_KERNELS) then runs exactly
  // that level.
  bool Cap(KernelLevel level) {
    SetKernelLevelCap(level);
    return ActiveKernelLevel() == level;
  }
  void AllowWide(bool allowed) { AllowWideVectors(allowed); }
};

}  // namespace tarvo::test
