// The optimised kernels an engine runs with: one table per kernel family,
// chosen together for one instruction-set level.
#pragma once

#include <cstdint>

#include "util/cpu_features.h"

namespace tarvo {
namespace noise {
struct Kernels;
}
namespace temporal_detail {
struct Kernels;
}
namespace masksharp {
struct Kernels;
}
namespace inout_kernels {
struct Kernels;
}

struct KernelSet {
  KernelLevel level = KernelLevel::Scalar;
  bool wide = false;                                   // every family runs its 512-bit kernels
  const noise::Kernels* noise = nullptr;               // despeckle, medians
  const temporal_detail::Kernels* temporal = nullptr;  // temporal smoothing
  const masksharp::Kernels* masksharp = nullptr;       // masks, sharpening
  const inout_kernels::Kernels* colour = nullptr;      // colour input and output
};

// The tables of one level. wide asks for the 512-bit kernels on top of
// the AVX2 level; it is honoured only at that level and where the CPU runs
// them. The caller makes sure the CPU runs the level (ActiveKernelLevel()
// never exceeds it).
KernelSet KernelSetFor(KernelLevel level, bool wide);

// The tables for ActiveKernelLevel() and the current 512-bit setting. An
// engine takes this once and again only when KernelChoiceGeneration() moves.
KernelSet ActiveKernelSet();

}  // namespace tarvo
