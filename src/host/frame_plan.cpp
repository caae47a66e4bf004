#include "host/frame_plan.h"

#include "planes/inout.h"

namespace tarvo {

void ChromaSize(int32_t procMode, int32_t width, int32_t height, int32_t& cw, int32_t& ch) {
  cw = width;
  ch = height;
  switch (procMode) {
    case 1: cw = width / 2; break;
    case 2: cw = width / 2; ch = height / 2; break;
    case 3: cw = width / 4; break;
    default: break;
  }
}

FramePlan PlanFrame(const TSpecs& s, const TDerived& dv, const CallState& call, int32_t w, int32_t h) {
  FramePlan p;
  p.width = w;
  p.height = h;
  ChromaSize(EffectiveProcMode(s.ProcMode, w, h), w, h, p.cWidth, p.cHeight);

  const int32_t fieldMode = (call.FieldFlags() & 3) != 0 ? 2 : 1;
  p.yTempMode = (call.inSetup || s.TempYThreshold == 0) ? 0 : fieldMode;
  p.cTempMode = (call.inSetup || s.TempCThreshold == 0) ? 0 : fieldMode;

  const bool ySharp = dv.YSharpGain != 0, cSharp = dv.CSharpGain != 0;
  const bool noiseMaskActive = s.NoiseMask >= 1 && (s.YDespeckle >= 1 || s.CDespeckle >= 1);
  const bool sharpMaskActive = s.SharpMask >= 1 && (ySharp || cSharp);
  p.monitorOnly = call.inSetup || s.TestSignal == 1;
  const auto displayOf = [&](int page) { return p.monitorOnly && s.PageIndex == page && s.Bypass == 0; };
  p.showEdges = displayOf(3) && s.SharpShowEdges >= 1 && (ySharp || cSharp);
  if (displayOf(5) && s.NoiseShowMask >= 1 && noiseMaskActive)
    p.branch = FramePlan::kNoiseMaskView;
  else if (displayOf(3) && s.SharpShowMask >= 1 && sharpMaskActive)
    p.branch = FramePlan::kSharpMaskView;

  // History saved after the output conversion by chains without sharpening.
  if (!ySharp) p.yHistory = s.TempYThreshold < 1 ? 0 : p.yTempMode;
  if (!cSharp) p.cHistory = s.TempCThreshold < 1 ? 0 : p.cTempMode;

  const bool medians = dv.MedianMaxStep > 0 && (s.MedianWhen & 3) != 0;
  if (p.branch == FramePlan::kNormal) {
    p.lumaChain = !(p.monitorOnly && s.ChannelView == 2);
    p.colourChain = !((p.monitorOnly && s.ChannelView == 1) || (p.showEdges && !cSharp));
    if (p.lumaChain) {
      p.lumaMask = (s.YDespeckle > 0 && s.NoiseMask > 0) || (ySharp && s.SharpMask > 0);
      p.lumaEdge = p.lumaMask;
      p.lumaScratch = medians || (s.YDespeckle > 0 && s.NoiseMask >= 1);
      p.lumaBlur = ySharp;
      // A chain that sharpens saves its history just before sharpening.
      if (ySharp) p.yHistory = (p.yTempMode != 0 && s.TempYThreshold != 0) ? p.yTempMode : 0;
    }
    if (p.colourChain) {
      const bool maskedDespeckle = s.CDespeckle >= 1 && s.NoiseMask >= 1 && s.NoiseMaskYOnly == 0;
      p.chromaMask = maskedDespeckle || (cSharp && s.SharpMask > 0);
      p.chromaEdge = p.chromaMask;
      p.chromaScratch = medians || maskedDespeckle;
      p.chromaBlur = cSharp;
      if (cSharp) p.cHistory = (p.cTempMode != 0 && s.TempCThreshold != 0) ? p.cTempMode : 0;
    }
  } else {
    const bool noise = p.branch == FramePlan::kNoiseMaskView;
    p.viewY = s.ChannelView < 2 && (noise ? s.YDespeckle >= 1 : ySharp);
    p.viewC = !(s.ChannelView == 1 || (noise ? (s.CDespeckle < 1 || s.NoiseMaskYOnly == 1) : !cSharp));
    p.viewAmount = noise ? s.NoiseMask : s.SharpMask;
    p.viewOffset = noise ? s.NoiseSmooth : s.SharpSmooth;
    p.lumaEdge = p.viewY;
    p.chromaMask = p.chromaEdge = p.viewC;
  }
  return p;
}

}  // namespace tarvo
