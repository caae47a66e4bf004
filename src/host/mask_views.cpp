// The dialog's noise-mask and sharpen-mask views: in place of the chains, each
// plane shows the mask its stages would use.
#include "filters/mask.h"
#include "host/chains.h"

namespace tarvo {

void RunMaskView(const ChainContext& c) {
  const TSpecs& s = c.specs;
  const FramePlan& plan = c.plan;
  WorkPlanes& wp = c.planes;
  if (plan.viewY) {
    CreateMask(wp.y, wp.y, s.MaskRadius, wp.lumaEdge, *c.kernels.masksharp, c.runner);
    ShowMask(wp.y, wp.y, plan.viewAmount, plan.viewOffset, *c.kernels.masksharp, c.runner);
  } else {
    FillPlane(c.runner, wp.y, 128);
  }
  if (!plan.viewC) {
    FillPlane(c.runner, wp.u, 0);
    FillPlane(c.runner, wp.v, 0);
    return;
  }
  c.reserver.Reserve(wp.chromaMask, wp.u.Width(), wp.u.Height(), 1);
  for (TChannel* p : {&wp.u, &wp.v}) {
    CreateMask(*p, wp.chromaMask, s.MaskRadius, wp.chromaEdge, *c.kernels.masksharp, c.runner);
    ShowMask(wp.chromaMask, *p, plan.viewAmount, plan.viewOffset, *c.kernels.masksharp, c.runner);
  }
}

}  // namespace tarvo
