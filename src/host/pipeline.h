// The per-frame processing chain: test signal, run detection, input
// conversion, luminance and colour chains, display views, output conversion
// and the history saves.
#pragma once

#include <cstdint>

#include "host/call_state.h"
#include "host/notify.h"
#include "host/specs.h"
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

 private:
  // The implementation adds its members here.
  Notifier& notifier_;
  int32_t opMode_ = kOpFinal;
  MonitorSink* monitor_ = nullptr;
  int32_t runLength_ = 0;
  bool historyValid_ = false;
};

}  // namespace tarvo
