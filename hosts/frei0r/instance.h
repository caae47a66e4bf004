// One frei0r filter instance: one clip with its own engine (planes, history,
// run detection), its own record and private data, and a frame clock that
// turns the host's time into frame numbers.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "frame_clock.h"
#include "hostkit/clip_call.h"
#include "types/call_record.h"
#include "types/specs.h"
#include "params.h"

namespace tarvo {
class Engine;
}

namespace tarvo::frei0r {

class Instance {
 public:
  Instance(unsigned width, unsigned height);
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  // frei0r parameter access; `param` points at the host's value (double,
  // bool as double, or char*). Unknown indices are ignored. A value that
  // cannot be set (out of memory) leaves the parameter and the record as
  // they were and is reported.
  void SetParam(const void* param, int index);
  void GetParam(void* param, int index);

  // Renders one frame: `in` and `out` hold width x height BGRA pixels, rows
  // packed. `in` may equal `out`. A frame that cannot be processed (out of
  // memory) is passed through unchanged and reported.
  void Update(double time, const uint32_t* in, uint32_t* out);

  // Test access.
  TSpecs Record();
  const FrameClock& Clock() const { return clock_; }
  int RenderCount() const { return renders_; }
  // The threads the instance's engine runs a frame on.
  int FilterThreads();
  // How many reported messages the instance remembers (at most
  // kRememberedMessages), so that each is reported once.
  size_t RememberedMessages() const { return reported_.size(); }
  static constexpr size_t kRememberedMessages = 256;

 private:
  void LoadRecord(const std::string& path);
  void FollowScene(const std::string& name);
  void SetFieldOrder(const std::string& text);
  void SetParamLocked(const Param& p, const void* param, int index);
  void UpdateLocked(double time, const uint32_t* in, uint32_t* out, bool& sourceHoldsInput);
  void Report(const std::string& message) noexcept;
  // The clip's record; only while clip_.HasRecord().
  TSpecs& Specs() { return *clip_.MutableRecord(); }
  static int32_t CallEngine(void* self, int16_t selector, CallRecordHandle record);
  void PassThrough(const uint32_t* in, uint32_t* out);

  std::mutex mutex_;
  const int32_t width_, height_;
  std::unique_ptr<Engine> engine_;
  // The clip's call: its 256-byte record, private data whose first 14 bytes
  // are unique per instance, and the frames.
  hostkit::ClipCall clip_;
  hostkit::FrameSlot sourceSlot_, destinationSlot_;
  FrameClock clock_;

  // Parameters as the host last set them; a set with the same value again
  // changes nothing, so hosts that resend every value each frame do not undo a
  // record or scene loaded in between.
  std::vector<double> lastSet_;
  std::string recordPath_, sceneName_;
  std::string fieldOrderText_ = "progressive";  // the "fields" parameter as last set
  // Fingerprints of the messages already reported, oldest first. Hosts set
  // parameters every frame, so repeats are common; the memory is capped, and
  // a message forgotten long ago may be reported once more.
  std::deque<uint64_t> reported_;
  uint64_t generation_ = 0;  // bumped by every change of the record's settings

  // Frame buffers: the source copy the engine may draw into, and the cached
  // result of the last render with the settings generation it was made with.
  std::vector<uint32_t> source_, cached_;
  uint64_t cachedGeneration_ = 0;
  bool haveCache_ = false;
  int renders_ = 0;
};

}  // namespace tarvo::frei0r
