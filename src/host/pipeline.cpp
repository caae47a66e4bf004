#include "host/pipeline.h"

#include <climits>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

#include "filters/despeckle.h"
#include "filters/mask.h"
#include "filters/median.h"
#include "filters/sharpen.h"
#include "filters/temporal.h"
#include "siggen/siggen.h"

namespace tarvo {

namespace {

const char kBadFrameText[] = "The frame cannot be processed: its size or row stride does not fit the buffers";
const char kOutOfMemoryText[] = "Not enough memory to process the frame; it was left unchanged";

// Width and height of the colour planes for a (valid) ProcMode.
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

// Bytes from the first pixel to the end of the last row's pixels when `rows`
// rows of `width` pixels are `stride` bytes apart.
int64_t Extent(int32_t rows, int32_t width, int32_t stride) {
  return static_cast<int64_t>(stride) * (rows - 1) + static_cast<int64_t>(width) * 4;
}

TemporalSettings TemporalOf(const TSpecs& s, int32_t threshold) {
  TemporalSettings t;
  t.threshold = threshold;
  t.recursion = s.TempRecursion;
  t.onset = s.TempOnset;
  t.limit = s.TempLimit;
  t.response = s.TempResponse;
  t.flags = s.TempFlags;
  return t;
}

}  // namespace

struct Pipeline::FramePlan {
  int32_t width = 0, height = 0;    // Y
  int32_t cWidth = 0, cHeight = 0;  // U and V
  int32_t yTempMode = 0, cTempMode = 0;
  enum Branch { kNormal, kNoiseMaskView, kSharpMaskView } branch = kNormal;
  bool monitorOnly = false;  // in setup or TestSignal 1: the display views may be live
  bool showEdges = false;
  bool lumaChain = false;    // the normal luminance chain runs (else Y is 128)
  bool colourChain = false;  // the normal colour chain runs (else U, V are 0)
  // Planes the frame will use, so that all of them are sized before the
  // destination is touched.
  bool lumaScratch = false, lumaMask = false, lumaEdge = false, lumaBlur = false;
  bool chromaScratch = false, chromaMask = false, chromaEdge = false, chromaBlur = false;
  // History save modes (0, 1, 2) or kNoSave.
  int yHistory = kNoSave, cHistory = kNoSave;
};

// A second thread that runs one job at a time for the calling thread. A job
// is a plain function and its argument, so handing one over allocates
// nothing.
class Pipeline::Worker {
 public:
  using Job = void (*)(void*);
  Worker() : thread_([this] { Loop(); }) {}
  ~Worker() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  void Start(Job job, void* arg) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      job_ = job;
      arg_ = arg;
      done_ = false;
      error_ = nullptr;
    }
    wake_.notify_all();
  }
  // Waits for the job; an exception it threw is thrown here.
  void Finish() {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [this] { return done_; });
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
  }

 private:
  void Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return quit_ || job_ != nullptr; });
      if (quit_) return;
      const Job job = std::exchange(job_, nullptr);
      void* const arg = arg_;
      lock.unlock();
      std::exception_ptr error;
      try {
        job(arg);
      } catch (...) {
        error = std::current_exception();
      }
      lock.lock();
      error_ = error;
      done_ = true;
      wake_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  Job job_ = nullptr;
  void* arg_ = nullptr;
  bool done_ = true;
  bool quit_ = false;
  std::exception_ptr error_;
  std::thread thread_;  // last: starts once the members above exist
};

Pipeline::Pipeline(Notifier& notifier) : notifier_(notifier) {}

Pipeline::~Pipeline() = default;

void Pipeline::SetThreads(int threads) {
  if (threads >= 2 && !worker_) {
    worker_ = std::make_unique<Worker>();
    stagesSeen_ = 0;  // the new thread's stage scratch starts empty
  } else if (threads < 2) {
    worker_.reset();
  }
}

const TChannel& Pipeline::Plane(int index) const { return planes_[index]; }

void Pipeline::Reserve(TChannel& plane, int32_t width, int32_t height, int32_t depth) {
  const bool sameSize = plane.Width() == width && plane.Height() == height && plane.Depth() == depth;
  const bool empty = width <= 0 || height <= 0 || depth <= 0;
  if (sameSize && (plane.HasBuffer() || empty)) return;
  if (!empty && failAllocationAt_.load() > 0 && failAllocationAt_.fetch_sub(1) == 1) throw std::bad_alloc();
  if (!empty) allocated_ = true;
  // Depth 0 first, so that changing the other two dimensions allocates
  // nothing and the final depth allocates once. A plane left without buffer
  // by an earlier failure gets one here as well.
  plane.SetDepth(0);
  plane.SetWidth(width);
  plane.SetHeight(height);
  plane.SetDepth(depth);
}

void Pipeline::OnOutOfMemory() {
  for (int i = kYPrev; i <= kVPrev2; ++i) planes_[i].SetDepth(0);
  runLength_ = 0;
  historyValid_ = false;
  breakRun_ = true;
  notifier_.Show(Notice::OutOfMemory, kOutOfMemoryText);
}

bool Pipeline::FramesAreSafe(const TPixBuffer& s, const TPixBuffer& d, bool bypassCopy) {
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

void Pipeline::CopyFrame(const TPixBuffer& s, TPixBuffer& d) {
  const int32_t stride = FrameStride(s);
  const size_t rowBytes = static_cast<size_t>(FrameWidth(s)) * 4;
  const uint8_t* from = s.Pixels;
  uint8_t* to = d.Pixels;
  for (int32_t row = 0; row < FrameHeight(s); ++row, from += stride, to += stride)
    std::memcpy(to, from, rowBytes);
}

void Pipeline::Render(PixBufferHandle source, PixBufferHandle destination, Handle specsHandle, bool dialog,
                      CallState& call) {
  if (!source || !*source || !destination || !*destination || !specsHandle || !*specsHandle) {
    notifier_.Show(Notice::ProcessingError, kProcessingErrorText);
    return;
  }
  TPixBuffer& s = **source;
  TPixBuffer& d = **destination;
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

void Pipeline::ConvertOnly(TPixBuffer& s, TPixBuffer& d, const TSpecs& specs, bool dialog, CallState& call) {
  TChannel& y = planes_[kY];
  TChannel& u = planes_[kU];
  TChannel& v = planes_[kV];
  const int32_t w = FrameWidth(d), h = FrameHeight(d);
  int32_t cw, ch;
  ChromaSize(EffectiveProcMode(specs.ProcMode, w, h), w, h, cw, ch);
  try {
    Reserve(y, w, h, 1);
    Reserve(u, cw, ch, 2);
    Reserve(v, cw, ch, 2);
  } catch (const std::bad_alloc&) {
    OnOutOfMemory();
    return;
  }
  if (!converter_.Input(s, d, specs, call.inSetup, call.changed, y, u, v)) {
    notifier_.Show(Notice::BadFrame, kBadFrameText);
    return;
  }
  if (call.inSetup) {
    if (specs.ChannelView == 1) {
      u.Fill(0);
      v.Fill(0);
    } else if (specs.ChannelView == 2) {
      y.Fill(128);
    }
  }
  if (!converter_.Output(y, u, v, d, specs, dialog ? monitor_ : nullptr))
    notifier_.Show(Notice::BadFrame, kBadFrameText);
}

Pipeline::FramePlan Pipeline::Plan(const TSpecs& s, const TDerived& dv, const CallState& call, int32_t w,
                                   int32_t h) const {
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
    const bool showY = s.ChannelView < 2 && (noise ? s.YDespeckle >= 1 : ySharp);
    const bool showC = !(s.ChannelView == 1 || (noise ? (s.CDespeckle < 1 || s.NoiseMaskYOnly == 1) : !cSharp));
    p.lumaEdge = showY;
    p.chromaMask = p.chromaEdge = showC;
  }
  return p;
}

void Pipeline::ReservePlanes(const FramePlan& p) {
  const int32_t w = p.width, h = p.height, cw = p.cWidth, ch = p.cHeight;
  Reserve(planes_[kY], w, h, 1);
  Reserve(planes_[kU], cw, ch, 2);
  Reserve(planes_[kV], cw, ch, 2);
  if (p.lumaScratch) Reserve(planes_[kScratch], w, h, 1);
  if (p.lumaMask) Reserve(planes_[kMask], w, h, 1);
  if (p.lumaEdge) Reserve(lumaEdge_, w, h, 1);
  if (p.lumaBlur) Reserve(lumaBlur_, w, h, 1);
  if (p.chromaScratch) Reserve(chromaScratch_, cw, ch, 2);
  if (p.chromaMask) Reserve(chromaMask_, cw, ch, 1);
  if (p.chromaEdge) Reserve(chromaEdge_, cw, ch, 1);
  if (p.chromaBlur) Reserve(chromaBlur_, cw, ch, 2);
  if (p.yHistory >= 1) Reserve(planes_[kYPrev], w, h, 1);
  if (p.yHistory == 2) Reserve(planes_[kYPrev2], w, h, 1);
  for (int i : {kUPrev, kVPrev}) {
    if (p.cHistory >= 1) Reserve(planes_[i], cw, ch, 2);
    if (p.cHistory == 2) Reserve(planes_[i + 3], cw, ch, 2);
  }
}

void Pipeline::DetectRun(int32_t part, const CallState& call, int32_t yTempMode, int32_t cTempMode) {
  const bool continues = !breakRun_ && static_cast<int64_t>(part) == static_cast<int64_t>(prevPart_) + 1 &&
                         call.total == prevTotal_ &&
                         (yTempMode == prevYTempMode_ || cTempMode == prevCTempMode_) &&
                         std::memcmp(call.privateBlock, prevPrivate_, 14) == 0;
  if (!continues)
    runLength_ = 0;
  else if (runLength_ < INT32_MAX)
    ++runLength_;
  prevPart_ = part;
  prevTotal_ = call.total;
  prevYTempMode_ = yTempMode;
  prevCTempMode_ = cTempMode;
  std::memcpy(prevPrivate_, call.privateBlock, sizeof prevPrivate_);
  breakRun_ = false;
}

uint32_t Pipeline::StagesOf(const TSpecs& s, const TDerived& dv, const FramePlan& p) {
  uint32_t stages = 1;  // the conversions
  if (s.YDespeckle > 0 || s.CDespeckle > 0) stages |= 2;
  if (dv.MedianMaxStep > 0 && (s.MedianWhen & 3) != 0) stages |= 4;
  if (p.yTempMode != 0 || p.cTempMode != 0) stages |= 8;
  if (p.lumaEdge || p.chromaEdge) stages |= 16;
  if (p.lumaBlur || p.chromaBlur) stages |= 32;
  return stages;
}

void Pipeline::Process(TPixBuffer& s, TPixBuffer& d, const TSpecs& specs, const TDerived& dv, bool dialog,
                       CallState& call) {
  // The dialog's test pictures never continue a run.
  if (call.inSetup && specs.TestSignal > 1) call.part = -1;
  const FramePlan plan = Plan(specs, dv, call, FrameWidth(d), FrameHeight(d));

  // Which history planes hold a picture of this frame's plane size. Taken
  // before the planes are sized for this frame: a run that goes on across a
  // change of frame size, ProcMode or temporal mode finds no usable history
  // instead of one of the wrong size.
  for (int i = kYPrev; i <= kVPrev2; ++i) {
    const int work = (i - kYPrev) % 3;  // kY, kU or kV
    const bool luma = work == kY;
    const TChannel& h = planes_[i];
    historyUsable_[i] = h.HasBuffer() && h.Width() == (luma ? plan.width : plan.cWidth) &&
                        h.Height() == (luma ? plan.height : plan.cHeight) && h.Depth() == (luma ? 1 : 2);
  }
  historyValid_ = false;

  const int32_t w = plan.width, h = plan.height;
  bool keptFourthBytes = false;
  try {
    // Every plane this frame needs gets its buffer before anything is written:
    // when memory runs out, the destination is still untouched.
    allocated_ = false;
    ReservePlanes(plan);
    if (allocated_) stagesSeen_ = 0;
    const uint32_t stages = StagesOf(specs, dv, plan);
    if ((stages & ~stagesSeen_) != 0) {
      // New plane sizes, or a stage not run since the sizes were set: the
      // stage may still grow scratch memory of its own on first use. Keep the
      // destination's fourth bytes, the only bytes the input conversion
      // writes there, so that a failure after it can be undone. Steady frames
      // skip this.
      fourthBytes_.resize(static_cast<size_t>(w) * h);
      for (int32_t row = 0; row < h; ++row) {
        const uint8_t* p = d.Pixels + static_cast<size_t>(row) * FrameStride(d) + 3;
        uint8_t* kept = &fourthBytes_[static_cast<size_t>(row) * w];
        for (int32_t x = 0; x < w; ++x) kept[x] = p[x * 4];
      }
      keptFourthBytes = true;
      stagesSeen_ |= stages;
    }
    if (specs.TestSignal > 1) DrawTestSignal(s, {specs.TestSignal, specs.Vblack, specs.Vwhite, specs.Vmin}, !call.inSetup);
  } catch (const std::bad_alloc&) {
    OnOutOfMemory();
    return;
  }

  DetectRun(call.part, call, plan.yTempMode, plan.cTempMode);

  TChannel& y = planes_[kY];
  TChannel& u = planes_[kU];
  TChannel& v = planes_[kV];
  try {
    // The frame checks above make both conversions succeed; should either
    // refuse the frame, the history no longer follows the clip.
    if (!converter_.Input(s, d, specs, call.inSetup, call.changed, y, u, v)) {
      notifier_.Show(Notice::BadFrame, kBadFrameText);
      breakRun_ = true;
      return;
    }
    switch (plan.branch) {
      case FramePlan::kNormal: {
        int lumaValid = -1, colourValid = -1;
        if (worker_) {
          struct ColourJob {
            Pipeline* self;
            const TSpecs* specs;
            const TDerived* dv;
            const FramePlan* plan;
            int* valid;
          } job{this, &specs, &dv, &plan, &colourValid};
          worker_->Start(
              [](void* arg) {
                auto* j = static_cast<ColourJob*>(arg);
                *j->valid = j->self->ColourChain(*j->specs, *j->dv, *j->plan);
              },
              &job);
          try {
            lumaValid = LuminanceChain(specs, dv, plan);
          } catch (...) {
            try {
              worker_->Finish();
            } catch (...) {
            }
            throw;
          }
          worker_->Finish();
        } else {
          lumaValid = LuminanceChain(specs, dv, plan);
          colourValid = ColourChain(specs, dv, plan);
        }
        // As if run in order: the colour chain's value is the last one set.
        historyValid_ = colourValid >= 0 ? colourValid == 1 : lumaValid == 1;
        break;
      }
      case FramePlan::kNoiseMaskView:
        MaskDisplay(specs, specs.ChannelView < 2 && specs.YDespeckle >= 1,
                    !(specs.ChannelView == 1 || specs.CDespeckle < 1 || specs.NoiseMaskYOnly == 1), specs.NoiseMask,
                    specs.NoiseSmooth);
        break;
      case FramePlan::kSharpMaskView:
        MaskDisplay(specs, specs.ChannelView < 2 && dv.YSharpGain != 0,
                    !(specs.ChannelView == 1 || dv.CSharpGain == 0), specs.SharpMask, specs.SharpSmooth);
        break;
    }
    if (!converter_.Output(y, u, v, d, specs, dialog ? monitor_ : nullptr)) {
      notifier_.Show(Notice::BadFrame, kBadFrameText);
      breakRun_ = true;
      return;
    }
    if (dv.YSharpGain == 0) SaveHistory(kY, plan.yHistory);
    if (dv.CSharpGain == 0) {
      SaveHistory(kU, plan.cHistory);
      SaveHistory(kV, plan.cHistory);
    }
  } catch (const std::bad_alloc&) {
    // Only a stage's own scratch can fail here, and only on a frame of a new
    // size, for which the fourth bytes were kept. The colour bytes are written
    // last, by the output conversion, which does not allocate.
    if (keptFourthBytes) {
      for (int32_t row = 0; row < h; ++row) {
        uint8_t* p = d.Pixels + static_cast<size_t>(row) * FrameStride(d) + 3;
        const uint8_t* kept = &fourthBytes_[static_cast<size_t>(row) * w];
        for (int32_t x = 0; x < w; ++x) p[x * 4] = kept[x];
      }
    }
    OnOutOfMemory();
  }
}

void Pipeline::Median(TChannel& plane, TChannel& scratch, const TSpecs& s, const TDerived& dv) {
  Reserve(scratch, plane.Width(), plane.Height(), plane.Depth());
  const int threshold = MedianStepThreshold(s, dv);
  if (s.MedianWeighted < 1)
    PlainMedian(plane, scratch, dv.MedianMaxStep, threshold);
  else
    WeightedMedian(plane, scratch, dv.MedianMaxStep, threshold);
  plane.Exchange(scratch);
}

int Pipeline::LuminanceChain(const TSpecs& s, const TDerived& dv, const FramePlan& plan) {
  TChannel& y = planes_[kY];
  int valid = -1;
  if (!plan.lumaChain) {
    y.Fill(128);
    return valid;
  }
  TChannel& scratch = planes_[kScratch];
  TChannel& mask = planes_[kMask];
  const int32_t w = y.Width(), h = y.Height();

  if (dv.MedianMaxStep > 0 && (s.MedianWhen & 1)) Median(y, scratch, s, dv);

  if (s.TempYThreshold > 0 && (plan.yTempMode == 1 || plan.yTempMode == 2)) {
    const int history = plan.yTempMode == 1 ? kYPrev : kYPrev2;
    valid = runLength_ >= plan.yTempMode && historyUsable_[history];
    if (valid) TemporalSmooth(y, planes_[history], TemporalOf(s, s.TempYThreshold), true);
  }

  if (plan.lumaMask) {
    Reserve(mask, w, h, 1);
    CreateMask(y, mask, s.MaskRadius, lumaEdge_);
  }

  if (s.YDespeckle > 0) {
    if (s.NoiseMask < 1) {
      Despeckle(y, y, s.YDespeckle);
    } else {
      Reserve(scratch, w, h, 1);
      Despeckle(y, scratch, s.YDespeckle);
      ApplyMask(scratch, y, mask, s.NoiseSmooth, s.NoiseMask);
    }
  }

  if (dv.YSharpGain != 0) {
    // The history takes the picture before sharpening.
    SaveHistory(kY, plan.yHistory);
    if (plan.yHistory >= 1) y.CopyFrom(planes_[kYPrev]);
    const TChannel* m = s.SharpMask > 0 ? &mask : nullptr;
    if (plan.showEdges)
      SharpenShowEdges(y, m, s.SharpRadius, s.SharpSmooth, s.SharpMask, dv.LevelDependLevel, dv.YSharpGain,
                       lumaBlur_);
    else
      Sharpen(y, m, s.SharpRadius, s.SharpSmooth, s.SharpMask, dv.LevelDependLevel, dv.YSharpGain, lumaBlur_);
  }

  if (dv.MedianMaxStep > 0 && (s.MedianWhen & 2)) Median(y, scratch, s, dv);
  return valid;
}

void Pipeline::SharpenColour(TChannel& plane, int index, const TSpecs& s, const TDerived& dv,
                             const FramePlan& plan) {
  SaveHistory(index, plan.cHistory);
  if (plan.cHistory >= 1) plane.CopyFrom(planes_[index + 3]);  // UPrev or VPrev
  const TChannel* m = s.SharpMask > 0 ? &chromaMask_ : nullptr;
  if (plan.showEdges)
    SharpenShowEdges(plane, m, s.SharpRadius, s.SharpSmooth, s.SharpMask, dv.LevelDependLevel, dv.CSharpGain,
                     chromaBlur_);
  else
    Sharpen(plane, m, s.SharpRadius, s.SharpSmooth, s.SharpMask, dv.LevelDependLevel, dv.CSharpGain,
            chromaBlur_);
}

int Pipeline::ColourChain(const TSpecs& s, const TDerived& dv, const FramePlan& plan) {
  TChannel& u = planes_[kU];
  TChannel& v = planes_[kV];
  int valid = -1;
  if (!plan.colourChain) {
    u.Fill(0);
    v.Fill(0);
    return valid;
  }
  const int32_t cw = u.Width(), ch = u.Height();
  const bool cSharp = dv.CSharpGain != 0;

  if (dv.MedianMaxStep > 0 && (s.MedianWhen & 1)) {
    Median(u, chromaScratch_, s, dv);
    Median(v, chromaScratch_, s, dv);
  }

  if (s.TempCThreshold > 0 && (plan.cTempMode == 1 || plan.cTempMode == 2)) {
    const int uHistory = plan.cTempMode == 1 ? kUPrev : kUPrev2;
    const int vHistory = uHistory + 1;
    const bool run = runLength_ >= plan.cTempMode;
    valid = run && historyUsable_[uHistory] && historyUsable_[vHistory];
    const TemporalSettings settings = TemporalOf(s, s.TempCThreshold);
    if (run && historyUsable_[uHistory]) TemporalSmooth(u, planes_[uHistory], settings, true);
    if (run && historyUsable_[vHistory]) TemporalSmooth(v, planes_[vHistory], settings, true);
  }

  if (plan.chromaMask) Reserve(chromaMask_, cw, ch, 1);

  if (s.CDespeckle >= 1 && s.NoiseMask >= 1 && s.NoiseMaskYOnly == 0) {
    Reserve(chromaScratch_, cw, ch, 2);
    for (int index : {kU, kV}) {
      TChannel& p = planes_[index];
      CreateMask(p, chromaMask_, s.MaskRadius, chromaEdge_);
      Despeckle(p, chromaScratch_, s.CDespeckle);
      ApplyMask(chromaScratch_, p, chromaMask_, s.NoiseSmooth, s.NoiseMask);
      if (cSharp) SharpenColour(p, index, s, dv, plan);
    }
  } else {
    if (s.CDespeckle >= 1) {
      Despeckle(u, u, s.CDespeckle);
      Despeckle(v, v, s.CDespeckle);
    }
    if (cSharp) {
      for (int index : {kU, kV}) {
        TChannel& p = planes_[index];
        if (s.SharpMask > 0) CreateMask(p, chromaMask_, s.MaskRadius, chromaEdge_);
        SharpenColour(p, index, s, dv, plan);
      }
    }
  }

  if (dv.MedianMaxStep > 0 && (s.MedianWhen & 2)) {
    Median(u, chromaScratch_, s, dv);
    Median(v, chromaScratch_, s, dv);
  }
  return valid;
}

void Pipeline::MaskDisplay(const TSpecs& s, bool showY, bool showC, int amount, int offset) {
  TChannel& y = planes_[kY];
  if (showY) {
    CreateMask(y, y, s.MaskRadius, lumaEdge_);
    ShowMask(y, y, amount, offset);
  } else {
    y.Fill(128);
  }
  TChannel& u = planes_[kU];
  TChannel& v = planes_[kV];
  if (!showC) {
    u.Fill(0);
    v.Fill(0);
    return;
  }
  Reserve(chromaMask_, u.Width(), u.Height(), 1);
  for (TChannel* p : {&u, &v}) {
    CreateMask(*p, chromaMask_, s.MaskRadius, chromaEdge_);
    ShowMask(chromaMask_, *p, amount, offset);
  }
}

void Pipeline::SaveHistory(int chain, int mode) {
  if (mode == kNoSave) return;
  TChannel& work = planes_[chain];
  TChannel& prev = planes_[chain + 3];
  TChannel& prev2 = planes_[chain + 6];
  switch (mode) {
    case 1:
      Reserve(prev, work.Width(), work.Height(), work.Depth());
      prev2.SetDepth(0);
      work.Exchange(prev);
      break;
    case 2:
      Reserve(prev, work.Width(), work.Height(), work.Depth());
      Reserve(prev2, work.Width(), work.Height(), work.Depth());
      prev2.Exchange(prev);  // two calls back: the previous picture
      prev.Exchange(work);   // previous: this one; work: the old buffer
      break;
    default:
      prev.SetDepth(0);
      prev2.SetDepth(0);
      break;
  }
}

}  // namespace tarvo
