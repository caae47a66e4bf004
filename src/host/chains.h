// The stages that work on the planes between the input and the output
// conversion: the luminance chain, the colour chain and the dialog's mask
// views. The chains run in turn; each stage cuts its plane into row bands and
// runs them on the engine's runner, so the result is the same for any number
// of threads.
#pragma once

#include "filters/kernel_set.h"
#include "filters/temporal.h"
#include "host/frame_plan.h"
#include "host/plane_reserve.h"
#include "host/run_history.h"
#include "types/specs.h"
#include "util/band_runner.h"

namespace tarvo {

// What a chain works with during one frame.
struct ChainContext {
  const TSpecs& specs;
  const TDerived& derived;
  const FramePlan& plan;
  WorkPlanes& planes;
  RunHistory& history;
  PlaneReserver& reserver;
  const KernelSet& kernels;  // the engine's kernel tables
  const BandRunner& runner;  // where the stages run their row bands
};

// Whether U and V are despeckled into scratch and blended back through their
// own masks (rather than despeckled in place).
inline bool ChromaDespeckleIsMasked(const TSpecs& s) { return s.NoiseMask >= 1 && s.NoiseMaskYOnly == 0; }

// The temporal smoothing settings of a record for one chain's threshold.
TemporalSettings TemporalSettingsOf(const TSpecs& s, int32_t threshold);

// Median before, temporal smoothing, mask, despeckle, sharpening (with the
// history save before it) and median after, on Y; or Y filled with 128 when
// the plan leaves the chain out. Returns the HistoryValid it handed to
// temporal smoothing, or -1 when it ran none.
int RunLuminanceChain(const ChainContext& c);
// The same on U and V; or both filled with 0. Same result as above.
int RunColourChain(const ChainContext& c);
// Plane fills and copies in row bands on the runner.
void FillPlane(const BandRunner& runner, TChannel& plane, uint8_t value);
// plane = source (same size).
void CopyPlane(const BandRunner& runner, TChannel& plane, const TChannel& source);

// The noise-mask or sharpen-mask view of the dialog (mask_views.cpp): each
// plane shows its own mask, or is filled with its neutral value.
void RunMaskView(const ChainContext& c);

}  // namespace tarvo
