#include "host/pipeline.h"

#include <cstring>
#include <new>

#include "filters/despeckle.h"
#include "host/colour_settings.h"
#include "siggen/siggen.h"

namespace tarvo {

namespace {

const char kBadFrameText[] = "The frame cannot be processed: its size or row stride does not fit the buffers";
const char kOutOfMemoryText[] = "Not enough memory to process the frame; it was left unchanged";

// Bytes from the first pixel to the end of the last row's pixels when `rows`
// rows of `width` pixels are `stride` bytes apart.
int64_t Extent(int32_t rows, int32_t width, int32_t stride) {
  return static_cast<int64_t>(stride) * (rows - 1) + static_cast<int64_t>(width) * 4;
}

}  // namespace

Pipeline::Pipeline(Notifier& notifier) : notifier_(notifier) { converter_.SetRunner(&runner_); }

Pipeline::~Pipeline() = default;

void Pipeline::SetThreads(int threads) { runner_.SetThreads(threads); }

const TChannel& Pipeline::Plane(int index) const {
  switch (index) {
    case kY: return planes_.y;
    case kU: return planes_.u;
    case kV: return planes_.v;
    case kYPrev: case kUPrev: case kVPrev: return history_.Previous(index - kYPrev);
    case kYPrev2: case kUPrev2: case kVPrev2: return history_.SecondPrevious(index - kYPrev2);
    case kMask: return planes_.mask;
    default: return planes_.scratch;
  }
}

void Pipeline::OnOutOfMemory() {
  history_.Drop();
  historyValid_ = false;
  notifier_.Show(Notice::OutOfMemory, kOutOfMemoryText);
}

bool Pipeline::FramesAreSafe(const FrameView& s, const FrameView& d, bool bypassCopy) {
  bool ok = FrameIsUsable(s) && FrameIsUsable(d) && FrameWidth(s) >= FrameWidth(d) &&
            FrameHeight(s) >= FrameHeight(d);
  if (ok) {
    if (bypassCopy) {
      // The copy writes the source's rows at the source's stride.
      const int64_t written = Extent(FrameHeight(s), FrameWidth(s), FrameStride(s));
      ok = written <= Extent(FrameHeight(d), FrameWidth(d), FrameStride(d));
    } else {
      // The conversion reads the source at the destination's stride.
      ok = FrameStride(s) >= FrameStride(d);
    }
  }
  if (!ok) notifier_.Show(Notice::BadFrame, kBadFrameText);
  return ok;
}

void Pipeline::CopyFrame(const FrameView& s, const FrameView& d) {
  const size_t stride = static_cast<size_t>(FrameStride(s));
  const size_t rowBytes = static_cast<size_t>(FrameWidth(s)) * 4;
  ForEachBand(runner_, FrameHeight(s), runner_.Parallelism(), [&](RowRange band) {
    for (int32_t row = band.begin; row < band.end; ++row)
      std::memcpy(d.Pixels + stride * row, s.Pixels + stride * row, rowBytes);
  });
}

void Pipeline::Render(PixBufferHandle source, PixBufferHandle destination, Handle specsHandle, bool dialog,
                      CallState& call) {
  const ScopedScratch useScratch(scratch_);
  if (!source || !*source || !destination || !*destination || !specsHandle || !*specsHandle) {
    notifier_.Show(Notice::ProcessingError, kProcessingErrorText);
    return;
  }
  ChooseKernels();
  // Our own hosts' frames may be wider than a video host's row field can
  // describe; past this point every frame is a view with its full stride.
  const FrameView s = ViewOf(**source, call.frames);
  const FrameView d = ViewOf(**destination, call.frames);
  TSpecs specs;
  std::memcpy(&specs, *specsHandle, sizeof specs);

  if (!call.inSetup && opMode_ == kOpBypass) {
    if (FramesAreSafe(s, d, true)) CopyFrame(s, d);
    return;
  }
  if (!FramesAreSafe(s, d, false)) return;

  const TDerived derived = ComputeDerived(specs);
  if ((call.inSetup && specs.Bypass == 1) || (!call.inSetup && opMode_ == kOpDraft)) {
    ConvertOnly(s, d, specs, dialog, call);
    return;
  }
  Process(s, d, specs, derived, dialog, call);
}

void Pipeline::ChooseKernels() {
  const uint32_t generation = KernelChoiceGeneration();
  if (kernelsChosen_ && generation == kernelGeneration_) return;
  kernels_ = ActiveKernelSet();
  converter_.SetKernels(kernels_.colour);
  kernelGeneration_ = generation;
  kernelsChosen_ = true;
}

void Pipeline::ConvertOnly(const FrameView& s, const FrameView& d, const TSpecs& specs, bool dialog,
                           CallState& call) {
  TChannel& y = planes_.y;
  TChannel& u = planes_.u;
  TChannel& v = planes_.v;
  const int32_t w = FrameWidth(d), h = FrameHeight(d);
  int32_t cw, ch;
  ChromaSize(EffectiveProcMode(specs.ProcMode, w, h), w, h, cw, ch);
  try {
    reserver_.Reserve(y, w, h, 1);
    reserver_.Reserve(u, cw, ch, 2);
    reserver_.Reserve(v, cw, ch, 2);
  } catch (const std::bad_alloc&) {
    OnOutOfMemory();
    return;
  }
  const ColourSettings colour = ColourSettingsOf(specs, call.inSetup);
  if (!converter_.Input(s, d, colour, call.changed, y, u, v)) {
    notifier_.Show(Notice::BadFrame, kBadFrameText);
    return;
  }
  if (call.inSetup) {
    if (specs.ChannelView == 1) {
      FillPlane(runner_, u, 0);
      FillPlane(runner_, v, 0);
    } else if (specs.ChannelView == 2) {
      FillPlane(runner_, y, 128);
    }
  }
  if (!converter_.Output(y, u, v, d, colour, dialog ? monitor_ : nullptr, &s))
    notifier_.Show(Notice::BadFrame, kBadFrameText);
}

void Pipeline::Process(const FrameView& s, const FrameView& d, const TSpecs& specs, const TDerived& dv, bool dialog,
                       CallState& call) {
  // The dialog's test pictures never continue a run.
  if (call.inSetup && specs.TestSignal > 1) call.part = -1;
  const FramePlan plan = PlanFrame(specs, dv, call, FrameWidth(d), FrameHeight(d));
  history_.NoteUsable(plan.width, plan.height, plan.cWidth, plan.cHeight);
  historyValid_ = false;

  if (!PrepareFrame(plan, s, specs, call)) return;
  history_.Detect(call.part, call.total, plan.yTempMode, plan.cTempMode, call.privateBlock);
  try {
    const ColourSettings colour = ColourSettingsOf(specs, call.inSetup);
    if (!ConvertIn(s, d, colour, call)) return;
    RunPlaneStages(ChainContext{specs, dv, plan, planes_, history_, reserver_, kernels_, runner_});
    if (!ConvertOut(s, d, colour, dialog)) return;
    SaveHistoryAfterOutput(plan, dv);
  } catch (const std::bad_alloc&) {
    // Only a stage's own scratch can fail here, before the output conversion,
    // which writes the whole destination last and does not allocate.
    OnOutOfMemory();
  }
}

bool Pipeline::PrepareFrame(const FramePlan& plan, const FrameView& s, const TSpecs& specs, const CallState& call) {
  try {
    // Every plane this frame needs gets its buffer before anything is written:
    // when memory runs out, the destination is still untouched.
    ReservePlanes(plan, specs);
    if (specs.TestSignal > 1) DrawTestSignal(s, {specs.TestSignal, specs.Vblack, specs.Vwhite, specs.Vmin}, !call.inSetup);
  } catch (const std::bad_alloc&) {
    OnOutOfMemory();
    return false;
  }
  return true;
}

void Pipeline::ReservePlanes(const FramePlan& p, const TSpecs& specs) {
  const int32_t w = p.width, h = p.height, cw = p.cWidth, ch = p.cHeight;
  WorkPlanes& wp = planes_;
  reserver_.Reserve(wp.y, w, h, 1);
  reserver_.Reserve(wp.u, cw, ch, 2);
  reserver_.Reserve(wp.v, cw, ch, 2);
  if (p.lumaScratch) reserver_.Reserve(wp.scratch, w, h, 1);
  if (p.lumaMask) reserver_.Reserve(wp.mask, w, h, 1);
  if (p.lumaEdge) reserver_.Reserve(wp.lumaEdge, w, h, 1);
  if (p.lumaBlur) reserver_.Reserve(wp.lumaBlur, w, h, 1);
  if (p.chromaScratch) reserver_.Reserve(wp.chromaScratch, cw, ch, 2);
  if (p.chromaMask) reserver_.Reserve(wp.chromaMask, cw, ch, 1);
  if (p.chromaEdge) reserver_.Reserve(wp.chromaEdge, cw, ch, 1);
  if (p.chromaBlur) reserver_.Reserve(wp.chromaBlur, cw, ch, 2);
  // Despeckling cut into bands needs a second plane: a whole one to
  // alternate with on narrow rows, a few rows for copies of the band edges
  // on wide ones.
  if (p.branch == FramePlan::kNormal) {
    const int32_t threads = runner_.Parallelism();
    if (p.lumaChain && specs.YDespeckle > 0) {
      const DespecklePlan luma = PlanDespeckle(w, h, 1, specs.YDespeckle, threads, specs.NoiseMask < 1);
      if (luma.groups > 0) reserver_.Reserve(wp.lumaSpare, w, luma.spareRows, 1);
    }
    if (p.colourChain && specs.CDespeckle > 0) {
      const DespecklePlan colour =
          PlanDespeckle(cw, ch, 2, specs.CDespeckle, threads, !ChromaDespeckleIsMasked(specs));
      if (colour.groups > 0) reserver_.Reserve(wp.chromaSpare, cw, colour.spareRows, 2);
    }
  }
  history_.Reserve(kChainY, p.yHistory, w, h, 1);
  history_.Reserve(kChainU, p.cHistory, cw, ch, 2);
  history_.Reserve(kChainV, p.cHistory, cw, ch, 2);
}

bool Pipeline::ConvertIn(const FrameView& s, const FrameView& d, const ColourSettings& colour, CallState& call) {
  // The frame checks make both conversions succeed; should either refuse the
  // frame, the history no longer follows the clip.
  if (converter_.Input(s, d, colour, call.changed, planes_.y, planes_.u, planes_.v)) return true;
  notifier_.Show(Notice::BadFrame, kBadFrameText);
  history_.Break();
  return false;
}

bool Pipeline::ConvertOut(const FrameView& s, const FrameView& d, const ColourSettings& colour, bool dialog) {
  // The output takes each pixel's fourth byte from the source, so the
  // destination is written here and nowhere before.
  if (converter_.Output(planes_.y, planes_.u, planes_.v, d, colour, dialog ? monitor_ : nullptr, &s)) return true;
  notifier_.Show(Notice::BadFrame, kBadFrameText);
  history_.Break();
  return false;
}

void Pipeline::RunPlaneStages(const ChainContext& c) {
  if (c.plan.branch != FramePlan::kNormal) {
    RunMaskView(c);
    return;
  }
  const int lumaValid = RunLuminanceChain(c);
  const int colourValid = RunColourChain(c);
  // As if run in order: the colour chain's value is the last one set.
  historyValid_ = colourValid >= 0 ? colourValid == 1 : lumaValid == 1;
}

void Pipeline::SaveHistoryAfterOutput(const FramePlan& plan, const TDerived& dv) {
  if (dv.YSharpGain == 0) history_.Save(kChainY, planes_.y, plan.yHistory);
  if (dv.CSharpGain == 0) {
    history_.Save(kChainU, planes_.u, plan.cHistory);
    history_.Save(kChainV, planes_.v, plan.cHistory);
  }
}

}  // namespace tarvo
