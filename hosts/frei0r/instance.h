// One frei0r filter instance: one clip with its own engine (planes, history,
// run detection), its own record and private data, and a frame clock that
// turns the host's time into frame numbers.
#pragma once

#include <cstddef>
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
  //
  // A host that cuts each frame into horizontal strips (MLT's slice
  // threading: the instance is made at the strip's height and called once
  // per strip, all with the frame's time, the strips lying one after another
  // in one frame buffer) gets the whole frame rendered as one: see
  // UpdateStrip.
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
  // True when this call is a further strip of the frame of the previous call.
  bool IsFurtherStrip(double time, const uint32_t* in, const uint32_t* out) const;
  void UpdateStrip(double time, const uint32_t* in, uint32_t* out);
  // Renders `rows` rows from `in` to `out` as one frame with Part `part`.
  void RenderRows(const uint32_t* in, uint32_t* out, int32_t rows, int32_t part);

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

  // The previous call, to recognise strips of one frame.
  double lastTime_ = 0;
  const uint32_t* lastIn_ = nullptr;
  const uint32_t* lastOut_ = nullptr;
  // The strips of the frame being assembled: the span [low, high) of the
  // host's input they cover, how many came, and where the output lies
  // relative to the input.
  struct Strips {
    bool active = false;  // the host cuts frames into strips
    bool started = false;  // `time` holds the frame of the strips below
    double time = 0;
    const uint32_t* low = nullptr;
    const uint32_t* high = nullptr;
    ptrdiff_t outOffset = 0;  // out - in, the same for every strip of a frame
    int count = 0;
    int perFrame = 0;  // strips the last whole frame had; 0 while not known
  } strips_;
  std::vector<uint32_t> frameSource_;  // the assembled frame's source copy
  hostkit::FrameSlot frameSourceSlot_, frameDestinationSlot_;
};

}  // namespace tarvo::frei0r
