// The host side of one clip: the clip's record handle, its private data, the
// call record handed to xFilter, the frame descriptors and the frame callback.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "frame.h"
#include "hostkit/clip_call.h"
#include "platform/host_services.h"
#include "types/call_record.h"
#include "types/pix_buffer.h"
#include "types/specs.h"

namespace tarvo::cli {

// How the clip renders: whole frames or interlaced fields in either order.
enum class FieldMode { Progressive, TopFirst, BottomFirst };

// The FieldFlags byte for a field mode: bit 0 for top field first, bit 1 for
// bottom field first, neither for whole frames.
uint8_t FieldFlagsOf(FieldMode mode);

// Selector that only prepares the record (creates it on a clip's first call).
constexpr int16_t kSelectorPrepare = hostkit::kSelectorPrepare;

class ClipHost : private hostkit::FrameProvider {
 public:
  // `entry` is the plug-in's xFilter. `clipKey` names the clip (its path); it
  // goes into the private data together with a number unique to this clip
  // instance, so the filter's run detection tells clips apart.
  ClipHost(XFilterFn entry, const std::string& clipKey);
  ~ClipHost() override;
  ClipHost(const ClipHost&) = delete;
  ClipHost& operator=(const ClipHost&) = delete;

  void SetTotal(int32_t total) { call_.SetTotal(total); }
  int32_t total() const { return call_.Total(); }
  void SetFieldMode(FieldMode mode) { call_.SetFieldFlags(FieldFlagsOf(mode)); }
  // Where the frame callback reads frames from (nullptr: the callback fails
  // and leaves the buffer as it is).
  void SetFrameSource(FrameSource* source) { source_ = source; }

  // The clip's record: none until the filter makes one or one is given.
  bool HasRecord() const { return call_.HasRecord(); }
  void SetRecord(const TSpecs& specs);
  std::optional<TSpecs> Record() const;
  // Changes the record in place (it must exist).
  TSpecs* MutableRecord();

  // Calls xFilter with selector 2: the record is prepared (created from the
  // defaults on the clip's first call), nothing is rendered.
  int32_t Prepare(int32_t part);
  // Renders frame `part`: source and destination are width x height frames of
  // 4-byte pixels, rows width * 4 bytes apart.
  int32_t Execute(int32_t part, uint8_t* source, uint8_t* destination, int width, int height);
  // Runs the setup selector with the frame callback available.
  int32_t Setup(int32_t part);

  Handle privateData() const { return call_.PrivateData(); }
  const TFilterCallRecord& callRecord() const { return call_.CallRecord(); }

  // The callback the filter calls to get frame n scaled to a rectangle of a
  // frame buffer. It finds its clip through the private data handle, since
  // the call carries no other pointer of ours.
  static int32_t FrameCallback(int32_t frame, PixBufferHandle destination, const TRect* bounds,
                               Handle privateData);

 private:
  int32_t RenderFrame(int32_t frame, TPixBuffer& destination, const TRect& bounds) override;

  hostkit::ClipCall call_;
  FrameSource* source_ = nullptr;
  Frame callbackFrame_;
};

// Writes `frame` scaled (nearest neighbour) into the rectangle `bounds` of
// `destination`, clipped to the buffer. The buffers the filter asks for are
// off-screen worlds, which hold their rows bottom-up: the picture's bottom
// row goes to the rectangle's first row.
bool ScaleIntoWorld(const Frame& frame, TPixBuffer& destination, const TRect& bounds);

}  // namespace tarvo::cli
