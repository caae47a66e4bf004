#include "host/chains.h"

#include <algorithm>
#include <cstring>

#include "filters/despeckle.h"
#include "filters/mask.h"
#include "filters/median.h"
#include "filters/noise_kernels.h"
#include "filters/sharpen.h"
#include "filters/temporal.h"

namespace tarvo {

namespace {

// The limited median from `plane` into `scratch`, whose buffers are then
// exchanged.
void Median(const ChainContext& c, TChannel& plane, TChannel& scratch) {
  const TSpecs& s = c.specs;
  const TDerived& dv = c.derived;
  c.reserver.Reserve(scratch, plane.Width(), plane.Height(), plane.Depth());
  const int32_t bands = std::min(c.runner.Parallelism(), plane.Height());
  if (bands > 1) {
    // One size for every plane of the frame (the luminance width, 16-bit
    // samples), so that the planes of both chains share one buffer.
    const int32_t w = c.planes.y.Width();
    const size_t bytes = noise::MedianRingBytes(w, 2) * static_cast<size_t>(bands);
    c.reserver.Reserve(c.planes.medianRows, w, static_cast<int32_t>((bytes + w - 1) / w), 1);
  }
  const int threshold = MedianStepThreshold(s, dv);
  if (s.MedianWeighted < 1)
    PlainMedian(plane, scratch, dv.MedianMaxStep, threshold, *c.kernels.noise, c.runner, c.planes.medianRows);
  else
    WeightedMedian(plane, scratch, dv.MedianMaxStep, threshold, *c.kernels.noise, c.runner, c.planes.medianRows);
  plane.Exchange(scratch);
}



// Saves the chain's history with the plan's mode, puts the saved picture back
// when the save took it, then sharpens.
void SaveAndSharpen(const ChainContext& c, int chain, TChannel& plane, int historyMode, const TChannel* mask,
                    int32_t gain, TChannel& blur) {
  const TSpecs& s = c.specs;
  c.history.Save(chain, plane, historyMode);
  if (historyMode >= 1) CopyPlane(c.runner, plane, c.history.Previous(chain));
  if (c.plan.showEdges)
    SharpenShowEdges(plane, mask, s.SharpRadius, s.SharpSmooth, s.SharpMask, c.derived.LevelDependLevel, gain,
                     blur, *c.kernels.masksharp, c.runner);
  else
    Sharpen(plane, mask, s.SharpRadius, s.SharpSmooth, s.SharpMask, c.derived.LevelDependLevel, gain, blur,
            *c.kernels.masksharp, c.runner);
}

}  // namespace

void FillPlane(const BandRunner& runner, TChannel& plane, uint8_t value) {
  if (!plane.HasBuffer()) return;
  const size_t row = static_cast<size_t>(plane.Width()) * static_cast<size_t>(plane.Depth());
  ForEachBand(runner, plane.Height(), runner.Parallelism(), [&](RowRange band) {
    std::memset(plane.Data() + row * band.begin, value, row * static_cast<size_t>(band.end - band.begin));
  });
}

void CopyPlane(const BandRunner& runner, TChannel& plane, const TChannel& source) {
  if (!plane.HasBuffer() || !source.HasBuffer()) return;
  const size_t row = static_cast<size_t>(plane.Width()) * static_cast<size_t>(plane.Depth());
  ForEachBand(runner, plane.Height(), runner.Parallelism(), [&](RowRange band) {
    std::memcpy(plane.Data() + row * band.begin, source.Data() + row * band.begin,
                row * static_cast<size_t>(band.end - band.begin));
  });
}

TemporalSettings TemporalSettingsOf(const TSpecs& s, int32_t threshold) {
  TemporalSettings t;
  t.threshold = threshold;
  t.recursion = s.TempRecursion;
  t.onset = s.TempOnset;
  t.limit = s.TempLimit;
  t.response = s.TempResponse;
  t.flags = s.TempFlags;
  return t;
}

int RunLuminanceChain(const ChainContext& c) {
  const TSpecs& s = c.specs;
  const TDerived& dv = c.derived;
  const FramePlan& plan = c.plan;
  WorkPlanes& wp = c.planes;
  TChannel& y = wp.y;
  int valid = -1;
  if (!plan.lumaChain) {
    FillPlane(c.runner, y, 128);
    return valid;
  }
  const int32_t w = y.Width(), h = y.Height();

  if (dv.MedianMaxStep > 0 && (s.MedianWhen & 1)) Median(c, y, wp.scratch);

  if (s.TempYThreshold > 0 && (plan.yTempMode == 1 || plan.yTempMode == 2)) {
    const int mode = plan.yTempMode;
    valid = c.history.RunCovers(mode) && c.history.Usable(kChainY, mode);
    if (valid)
      TemporalSmooth(y, c.history.Reference(kChainY, mode), TemporalSettingsOf(s, s.TempYThreshold), true,
                     *c.kernels.temporal, c.runner);
  }

  if (plan.lumaMask) {
    c.reserver.Reserve(wp.mask, w, h, 1);
    CreateMask(y, wp.mask, s.MaskRadius, wp.lumaEdge, *c.kernels.masksharp, c.runner);
  }

  if (s.YDespeckle > 0) {
    if (s.NoiseMask < 1) {
      Despeckle(y, y, s.YDespeckle, *c.kernels.noise, c.runner, wp.lumaSpare);
    } else {
      c.reserver.Reserve(wp.scratch, w, h, 1);
      Despeckle(y, wp.scratch, s.YDespeckle, *c.kernels.noise, c.runner, wp.lumaSpare);
      ApplyMask(wp.scratch, y, wp.mask, s.NoiseSmooth, s.NoiseMask, *c.kernels.masksharp, c.runner);
    }
  }

  // The history takes the picture before sharpening.
  if (dv.YSharpGain != 0)
    SaveAndSharpen(c, kChainY, y, plan.yHistory, s.SharpMask > 0 ? &wp.mask : nullptr, dv.YSharpGain, wp.lumaBlur);

  if (dv.MedianMaxStep > 0 && (s.MedianWhen & 2)) Median(c, y, wp.scratch);
  return valid;
}

int RunColourChain(const ChainContext& c) {
  const TSpecs& s = c.specs;
  const TDerived& dv = c.derived;
  const FramePlan& plan = c.plan;
  WorkPlanes& wp = c.planes;
  TChannel& u = wp.u;
  TChannel& v = wp.v;
  int valid = -1;
  if (!plan.colourChain) {
    FillPlane(c.runner, u, 0);
    FillPlane(c.runner, v, 0);
    return valid;
  }
  const int32_t cw = u.Width(), ch = u.Height();
  const bool cSharp = dv.CSharpGain != 0;
  const TChannel* sharpMask = s.SharpMask > 0 ? &wp.chromaMask : nullptr;
  const struct {
    HistoryChain chain;
    TChannel& plane;
  } planes[] = {{kChainU, u}, {kChainV, v}};

  if (dv.MedianMaxStep > 0 && (s.MedianWhen & 1)) {
    Median(c, u, wp.chromaScratch);
    Median(c, v, wp.chromaScratch);
  }

  if (s.TempCThreshold > 0 && (plan.cTempMode == 1 || plan.cTempMode == 2)) {
    const int mode = plan.cTempMode;
    const bool run = c.history.RunCovers(mode);
    const bool uUsable = c.history.Usable(kChainU, mode), vUsable = c.history.Usable(kChainV, mode);
    valid = run && uUsable && vUsable;
    const TemporalSettings settings = TemporalSettingsOf(s, s.TempCThreshold);
    if (run && uUsable)
      TemporalSmooth(u, c.history.Reference(kChainU, mode), settings, true, *c.kernels.temporal, c.runner);
    if (run && vUsable)
      TemporalSmooth(v, c.history.Reference(kChainV, mode), settings, true, *c.kernels.temporal, c.runner);
  }

  if (plan.chromaMask) c.reserver.Reserve(wp.chromaMask, cw, ch, 1);

  if (s.CDespeckle >= 1 && ChromaDespeckleIsMasked(s)) {
    c.reserver.Reserve(wp.chromaScratch, cw, ch, 2);
    for (const auto& p : planes) {
      CreateMask(p.plane, wp.chromaMask, s.MaskRadius, wp.chromaEdge, *c.kernels.masksharp, c.runner);
      Despeckle(p.plane, wp.chromaScratch, s.CDespeckle, *c.kernels.noise, c.runner, wp.chromaSpare);
      ApplyMask(wp.chromaScratch, p.plane, wp.chromaMask, s.NoiseSmooth, s.NoiseMask, *c.kernels.masksharp,
                c.runner);
      if (cSharp) SaveAndSharpen(c, p.chain, p.plane, plan.cHistory, sharpMask, dv.CSharpGain, wp.chromaBlur);
    }
  } else {
    if (s.CDespeckle >= 1) {
      Despeckle(u, u, s.CDespeckle, *c.kernels.noise, c.runner, wp.chromaSpare);
      Despeckle(v, v, s.CDespeckle, *c.kernels.noise, c.runner, wp.chromaSpare);
    }
    if (cSharp) {
      for (const auto& p : planes) {
        if (s.SharpMask > 0) CreateMask(p.plane, wp.chromaMask, s.MaskRadius, wp.chromaEdge, *c.kernels.masksharp, c.runner);
        SaveAndSharpen(c, p.chain, p.plane, plan.cHistory, sharpMask, dv.CSharpGain, wp.chromaBlur);
      }
    }
  }

  if (dv.MedianMaxStep > 0 && (s.MedianWhen & 2)) {
    Median(c, u, wp.chromaScratch);
    Median(c, v, wp.chromaScratch);
  }
  return valid;
}

}  // namespace tarvo
