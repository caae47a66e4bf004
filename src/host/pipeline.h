// The per-frame processing chain: test signal, run detection, input
// conversion, luminance and colour chains, display views, output conversion
// and the history saves.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "host/call_state.h"
#include "host/notify.h"
#include "types/specs.h"
#include "planes/channel.h"
#include "planes/inout.h"
#include "platform/host_services.h"

namespace tarvo {

enum OpModeValue : int32_t { kOpBypass = 0, kOpDraft = 1, kOpFinal = 2 };

// Owns the eleven planes, the colour tables, the history and the run
// detection of one engine. One instance per engine; not thread-safe.
class Pipeline {
 public:
  explicit Pipeline(Notifier& notifier);
  ~Pipeline();
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // Threads used inside one frame: 1 (the default) or 2, with which the
  // luminance chain and the colour chain run side by side. The two chains
  // work on disjoint planes and scratch, so the output never depends on this
  // setting.
  void SetThreads(int threads);
  int Threads() const { return worker_ ? 2 : 1; }

  void SetOpMode(int32_t mode) { opMode_ = mode; }
  int32_t OpMode() const { return opMode_; }
  // Where a dialog render hands each converted pixel (nullptr: nowhere).
  void SetMonitorSink(MonitorSink* sink) { monitor_ = sink; }

  // Renders one frame. `dialog` is true when the dialog's main monitor is
  // rendered. Missing handles give "Processing Error" and leave the
  // destination untouched. Reads and updates call.changed.
  void Render(PixBufferHandle source, PixBufferHandle destination, Handle specs, bool dialog, CallState& call);

  // State visible to tests.
  int32_t RunLength() const { return runLength_; }
  bool LastHistoryValid() const { return historyValid_; }
  const TChannel& Plane(int index) const;  // see PlaneIndex
  enum PlaneIndex { kY, kU, kV, kYPrev, kUPrev, kVPrev, kYPrev2, kUPrev2, kVPrev2, kMask, kScratch, kPlaneCount };

  // Test seam: the n-th plane allocation made by the pipeline from now on
  // (n >= 1) throws std::bad_alloc, as if memory had run out; 0 switches the
  // seam off. Counts only allocations, not re-uses of a buffer of the right
  // size.
  void FailPlaneAllocationForTest(int n) { failAllocationAt_.store(n); }

 private:
  // What one frame of full processing will do, worked out from the record and
  // the frame size before anything is written.
  struct FramePlan;
  // A history save mode, or kNoSave when the chain keeps its history.
  static constexpr int kNoSave = -1;

  bool FramesAreSafe(const TPixBuffer& source, const TPixBuffer& destination, bool bypassCopy);
  void CopyFrame(const TPixBuffer& source, TPixBuffer& destination);
  void ConvertOnly(TPixBuffer& source, TPixBuffer& destination, const TSpecs& specs, bool dialog,
                   CallState& call);
  void Process(TPixBuffer& source, TPixBuffer& destination, const TSpecs& specs, const TDerived& derived,
               bool dialog, CallState& call);
  FramePlan Plan(const TSpecs& specs, const TDerived& derived, const CallState& call, int32_t width,
                 int32_t height) const;
  void ReservePlanes(const FramePlan& plan);
  void DetectRun(int32_t part, const CallState& call, int32_t yTempMode, int32_t cTempMode);
  // Each returns the HistoryValid it handed to temporal smoothing, or -1 when
  // it ran none.
  int LuminanceChain(const TSpecs& specs, const TDerived& derived, const FramePlan& plan);
  int ColourChain(const TSpecs& specs, const TDerived& derived, const FramePlan& plan);
  void MaskDisplay(const TSpecs& specs, bool showY, bool showC, int amount, int offset);
  void Median(TChannel& plane, TChannel& scratch, const TSpecs& specs, const TDerived& derived);
  void SharpenColour(TChannel& plane, int index, const TSpecs& specs, const TDerived& derived,
                     const FramePlan& plan);
  void SaveHistory(int chain, int mode);
  // One bit per kind of stage the frame may run.
  static uint32_t StagesOf(const TSpecs& specs, const TDerived& derived, const FramePlan& plan);
  void OnOutOfMemory();
  // Gives a plane the size (one allocation at most) and makes sure it holds a
  // buffer; does nothing when it already has both.
  void Reserve(TChannel& plane, int32_t width, int32_t height, int32_t depth);

  Notifier& notifier_;
  int32_t opMode_ = kOpFinal;
  MonitorSink* monitor_ = nullptr;
  int32_t runLength_ = 0;
  bool historyValid_ = false;

  ColourConverter converter_;
  TChannel planes_[kPlaneCount];
  // The mask and scratch roles at chroma size. In the subsampled modes the
  // luminance and colour chains need them at two sizes in every frame; two
  // planes keep both buffers instead of re-allocating twice a frame.
  TChannel chromaMask_;
  TChannel chromaScratch_;
  // Caller-kept scratch of CreateMask (edges) and Sharpen (blur), per size.
  TChannel lumaEdge_, chromaEdge_, lumaBlur_, chromaBlur_;

  // Run detection: the previous call of the full processing path.
  int32_t prevPart_ = 0;
  int32_t prevTotal_ = 0;
  int32_t prevYTempMode_ = 0;
  int32_t prevCTempMode_ = 0;
  uint8_t prevPrivate_[64] = {};
  // Set at start and after a failed frame: the next call starts a new run.
  bool breakRun_ = true;
  // Whether each history plane held a usable picture (size of the working
  // plane, buffer present) when this frame started.
  bool historyUsable_[kPlaneCount] = {};

  // Both may be touched by the two chains at once.
  std::atomic<int> failAllocationAt_{0};
  std::atomic<bool> allocated_{false};  // a plane got a new buffer while sizing this frame
  // Kinds of stage run since the planes last got new buffers (StagesOf).
  uint32_t stagesSeen_ = 0;
  std::vector<uint8_t> fourthBytes_;

  class Worker;
  std::unique_ptr<Worker> worker_;  // the second thread, when SetThreads(2)
};

}  // namespace tarvo
