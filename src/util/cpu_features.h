// Run-time choice between the plain kernels and the vectorised ones.
#pragma once

namespace tarvo {

enum class KernelLevel { Scalar = 0, Sse2 = 1, Avx2 = 2 };

// The best level this CPU runs, capped by the environment variable
// TARVO_KERNELS ("scalar", "sse2" or "avx2") and by SetKernelLevelCap. Every
// level gives bit-identical results; the cap exists so tests and users can
// force the plain path.
KernelLevel ActiveKernelLevel();
void SetKernelLevelCap(KernelLevel cap);

// Whether kernels may use 512-bit instructions on top of the AVX2 level (the
// CPU must also have them; each such kernel checks). TARVO_KERNELS=avx2 or
// any lower setting switches them off.
bool WideVectorsAllowed();

}  // namespace tarvo
