#include "filters/kernel_set.h"

#include "filters/masksharp_kernels.h"
#include "filters/noise_kernels.h"
#include "filters/temporal_kernels.h"
#include "planes/inout_kernels.h"

namespace tarvo {

KernelSet KernelSetFor(KernelLevel level, bool wide) {
  KernelSet k;
  k.level = level;
  switch (level) {
    case KernelLevel::Avx2:
      k.wide = wide && inout_kernels::Avx512Supported();
      k.noise = k.wide ? &noise::Avx512Kernels() : &noise::Avx2Kernels();
      k.temporal = k.wide ? &temporal_detail::Avx512Kernels() : &temporal_detail::Avx2Kernels();
      k.masksharp = k.wide ? &masksharp::Avx512Kernels() : &masksharp::Avx2Kernels();
      k.colour = k.wide ? &inout_kernels::Avx512Kernels() : &inout_kernels::Avx2Kernels();
      break;
    case KernelLevel::Sse2:
      k.noise = &noise::Sse2Kernels();
      k.temporal = &temporal_detail::Sse2Kernels();
      k.masksharp = &masksharp::Sse2Kernels();
      k.colour = &inout_kernels::ScalarKernels();  // no SSE2 colour kernels
      break;
    case KernelLevel::Scalar:
      k.noise = &noise::ScalarKernels();
      k.temporal = &temporal_detail::ScalarKernels();
      k.masksharp = &masksharp::ScalarKernels();
      k.colour = &inout_kernels::ScalarKernels();
      break;
  }
  return k;
}

KernelSet ActiveKernelSet() { return KernelSetFor(ActiveKernelLevel(), WideVectorsAllowed()); }

}  // namespace tarvo
