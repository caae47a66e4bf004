// The host side of one clip's calls to the filter: the call record with the
// clip's record handle and private data handle, the source and destination
// frames, the frame number and total, the field flags and the frame callback,
// and the entry point the calls go to (the plug-in library's xFilter found
// with dlsym, or a filter in the same program).
//
// The call record is the one place the clip's state is kept: the handles in
// it belong to the ClipCall and are released with it, including a record
// handle the filter stored there on the clip's first call.
#pragma once

#include <cstdint>
#include <optional>

#include "hostkit/frame_slot.h"
#include "platform/host_services.h"
#include "types/call_record.h"
#include "types/pix_buffer.h"
#include "types/specs.h"

namespace tarvo::hostkit {

// The selector that only prepares the record (creates it on a clip's first
// call); any selector other than execute and setup does that.
constexpr int16_t kSelectorPrepare = 2;

// What a clip's frame callback renders from: the host's access to the frames
// of the clip.
class FrameProvider {
 public:
  virtual ~FrameProvider() = default;
  // Renders source frame `frame` of the clip, scaled to `bounds`, into
  // `destination`. Returns 0, or a negative value when it cannot.
  virtual int32_t RenderFrame(int32_t frame, TPixBuffer& destination, const TRect& bounds) = 0;
};

class ClipCall {
 public:
  // An entry point with a context of its own, such as an engine object.
  using EntryFn = int32_t (*)(void* context, int16_t selector, CallRecordHandle record);

  // Calls go to the plug-in's exported xFilter.
  explicit ClipCall(XFilterFn entry);
  // Calls go to entry(context, selector, record).
  ClipCall(EntryFn entry, void* context);
  // No entry point: the ClipCall only keeps the call, for callers that call
  // an entry point themselves with CallHandle(). Call() then returns -1.
  ClipCall();
  ~ClipCall();
  ClipCall(const ClipCall&) = delete;
  ClipCall& operator=(const ClipCall&) = delete;

  // The clip's record: none until the filter makes one or one is given.
  bool HasRecord() const { return call_.SpecsHandle != nullptr; }
  // Gives the clip this record (a 256-byte block). False when out of memory.
  bool SetRecord(const TSpecs& specs);
  // Gives the clip a record block of `size` bytes (an older or damaged
  // format) holding `bytes`; bytes past the given ones are zero.
  bool SetRecordBlock(const void* bytes, int32_t size);
  // Releases the record: the filter makes a new one on the next call.
  void DropRecord();
  // A copy of the record, when there is a whole one.
  std::optional<TSpecs> Record() const;
  // The record to change in place; nullptr when there is no whole one.
  TSpecs* MutableRecord();
  Handle RecordHandle() const { return call_.SpecsHandle; }

  // The host's private data of this clip instance: `size` bytes (0 is an
  // empty block, which is not the same as none). False when out of memory.
  bool SetPrivateData(const void* bytes, int32_t size);
  void DropPrivateData();
  Handle PrivateData() const { return call_.PrivateData; }

  // The frames execute renders from and into (nullptr: none).
  void SetFrames(PixBufferHandle source, PixBufferHandle destination) {
    call_.Source = source;
    call_.Destination = destination;
  }

  void SetPart(int32_t part) { call_.Part = part; }
  int32_t Part() const { return call_.Part; }
  void SetTotal(int32_t total) { call_.Total = total; }
  int32_t Total() const { return call_.Total; }
  // FieldFlags: bit 0 or bit 1 set renders the clip as interlaced fields.
  void SetFieldFlags(uint8_t flags) { call_.FieldFlags = flags; }
  uint8_t FieldFlags() const { return call_.FieldFlags; }

  // Where the frame callback renders from; with nullptr the call record
  // carries no frame callback. The callback finds its clip through the
  // private data handle, the only pointer of ours the call hands back, so it
  // needs private data.
  void SetFrameProvider(FrameProvider* provider);

  // Calls the entry point with the call record as it stands.
  int32_t Call(int16_t selector);
  // Selector 2 without frames: the record is prepared (made from the defaults
  // on the clip's first call), nothing is rendered.
  int32_t Prepare(int32_t part);
  // Selector 0: renders frame `part` from the frames given with SetFrames.
  int32_t Execute(int32_t part);
  // Selector 0 on packed frames: `source` and `destination` hold width x
  // height 4-byte pixels, rows width * 4 bytes apart. The frames are not kept
  // after the call.
  int32_t Execute(int32_t part, uint8_t* source, uint8_t* destination, int32_t width, int32_t height);
  // Selector 1 without frames.
  int32_t Setup(int32_t part);

  // The raw call record, for hosts and tests that set fields the methods
  // above do not cover. Handles stored into it become the ClipCall's.
  TFilterCallRecord& CallRecord() { return call_; }
  const TFilterCallRecord& CallRecord() const { return call_; }
  CallRecordHandle CallHandle() { return &callPtr_; }

  // The frame callback installed by SetFrameProvider.
  static int32_t FrameCallback(int32_t frame, PixBufferHandle destination, const TRect* bounds,
                               Handle privateData);

 private:
  static int32_t CallPlain(void* self, int16_t selector, CallRecordHandle record);
  int32_t CallWithoutFrames(int16_t selector, int32_t part);

  EntryFn entry_ = nullptr;
  void* context_ = nullptr;
  XFilterFn plain_ = nullptr;
  TFilterCallRecord call_{};
  TFilterCallRecord* callPtr_ = &call_;
  FrameSlot source_, destination_;
  FrameProvider* provider_ = nullptr;
};

}  // namespace tarvo::hostkit
