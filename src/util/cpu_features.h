// Run-time choice between the plain kernels and the vectorised ones.
#pragma once

#include <cstdint>

namespace tarvo {

enum class KernelLevel { Scalar = 0, Sse2 = 1, Avx2 = 2 };

// The best level this CPU runs, capped by the environment variable
// TARVO_KERNELS ("scalar", "sse2" or "avx2") and by SetKernelLevelCap. Every
// level gives bit-identical results; the cap exists so tests and users can
// force the plain path.
KernelLevel ActiveKernelLevel();
void SetKernelLevelCap(KernelLevel cap);

// Whether kernels may use 512-bit instructions on top of the AVX2 level (the
// CPU must also have them). TARVO_KERNELS=avx2 or any lower setting switches
// them off, and so does AllowWideVectors(false) (tests and benchmarks use it to
// reach the AVX2 kernels).
bool WideVectorsAllowed();
void AllowWideVectors(bool allowed);

// Moves whenever SetKernelLevelCap or AllowWideVectors is called: an engine
// that holds the kernels of one level chooses again when this changed.
uint32_t KernelChoiceGeneration();

}  // namespace tarvo
