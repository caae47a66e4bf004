// The per-frame processing chain: test signal, run detection, input
// conversion, luminance and colour chains, display views, output conversion
// and the history saves. The pieces live in their own units: the frame plan
// (frame_plan), plane sizing (plane_reserve), the run history (run_history),
// the chains (chains), the mask views (mask_views). The engine's kernel
// tables and its band runner (the process-wide thread pool, with this
// engine's thread count) are chosen here and handed to the stages; the
// destination is written once, by the output conversion.
#pragma once

#include <cstdint>
#include <memory>

#include "filters/kernel_set.h"
#include "host/call_state.h"
#include "host/chains.h"
#include "host/frame_plan.h"
#include "host/notify.h"
#include "host/plane_reserve.h"
#include "host/run_history.h"
#include "planes/channel.h"
#include "planes/inout.h"
#include "platform/host_services.h"
#include "types/specs.h"
#include "util/thread_scratch.h"
#include "util/thread_pool.h"

namespace tarvo {

enum OpModeValue : int32_t { kOpBypass = 0, kOpDraft = 1, kOpFinal = 2 };

// Owns the planes, the colour tables and the run history of one engine. One
// instance per engine; not thread-safe.
class Pipeline {
 public:
  explicit Pipeline(Notifier& notifier);
  ~Pipeline();
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // Threads used inside one frame: n >= 1 (1 is the default), or 0 for one
  // per core. Every stage but despeckling cuts its plane into that many row
  // bands and runs them on the process-wide thread pool; a band reads whole
  // input planes and writes only its own rows, so the output never depends
  // on this setting. Throws nothing: when the system refuses threads, the
  // bands run on those the pool has.
  void SetThreads(int threads);
  int Threads() const { return runner_.Threads(); }

  void SetOpMode(int32_t mode) { opMode_ = mode; }
  int32_t OpMode() const { return opMode_; }
  // Where a dialog render hands each converted pixel (nullptr: nowhere).
  void SetMonitorSink(MonitorSink* sink) { monitor_ = sink; }

  // Renders one frame. `dialog` is true when the dialog's main monitor is
  // rendered. Missing handles give "Processing Error" and leave the
  // destination untouched. The descriptors are read by call.frames. Reads and
  // updates call.changed.
  void Render(PixBufferHandle source, PixBufferHandle destination, Handle specs, bool dialog, CallState& call);

  // State visible to tests.
  int32_t RunLength() const { return history_.RunLength(); }
  // The level of the kernel tables the last frame ran with.
  KernelLevel KernelLevelInUse() const { return kernels_.level; }
  bool LastHistoryValid() const { return historyValid_; }
  const TChannel& Plane(int index) const;  // see PlaneIndex
  enum PlaneIndex { kY, kU, kV, kYPrev, kUPrev, kVPrev, kYPrev2, kUPrev2, kVPrev2, kMask, kScratch, kPlaneCount };

  // Test seam: the n-th plane allocation made by the pipeline from now on
  // (n >= 1) throws std::bad_alloc, as if memory had run out; 0 switches the
  // seam off. Counts only allocations, not re-uses of a buffer of the right
  // size.
  void FailPlaneAllocationForTest(int n) { reserver_.FailAllocationAt(n); }

 private:
  // Takes the kernel tables of the current level when none are held yet or
  // the level cap has changed since they were taken.
  void ChooseKernels();
  bool FramesAreSafe(const FrameView& source, const FrameView& destination, bool bypassCopy);
  void CopyFrame(const FrameView& source, const FrameView& destination);
  void ConvertOnly(const FrameView& source, const FrameView& destination, const TSpecs& specs, bool dialog,
                   CallState& call);
  // Full processing: the stages of one frame, in order.
  void Process(const FrameView& source, const FrameView& destination, const TSpecs& specs, const TDerived& derived,
               bool dialog, CallState& call);
  // Sizes every plane the frame needs and draws the test signal. False (after
  // reporting) when memory ran out; the destination is then untouched.
  bool PrepareFrame(const FramePlan& plan, const FrameView& source, const TSpecs& specs, const CallState& call);
  void ReservePlanes(const FramePlan& plan, const TSpecs& specs);
  // The conversions; false (after reporting, with the run broken) when one
  // refuses the frame.
  bool ConvertIn(const FrameView& source, const FrameView& destination, const ColourSettings& colour,
                 CallState& call);
  bool ConvertOut(const FrameView& source, const FrameView& destination, const ColourSettings& colour, bool dialog);
  // The normal chains or a mask view, as planned; sets historyValid_.
  void RunPlaneStages(const ChainContext& context);
  // The history saves of chains that do not sharpen (those save before
  // sharpening).
  void SaveHistoryAfterOutput(const FramePlan& plan, const TDerived& derived);
  void OnOutOfMemory();

  Notifier& notifier_;
  int32_t opMode_ = kOpFinal;
  MonitorSink* monitor_ = nullptr;
  bool historyValid_ = false;

  ColourConverter converter_;
  KernelSet kernels_;
  uint32_t kernelGeneration_ = 0;
  bool kernelsChosen_ = false;
  PlaneReserver reserver_;
  WorkPlanes planes_;
  RunHistory history_{reserver_};
  // Made with the pipeline, so the shared pool it refers to outlives it.
  PoolRunner runner_;
  // Kernel scratch of the thread that calls Render (pool workers have their own).
  ScratchArena scratch_;
};

}  // namespace tarvo
