#include "hostkit/clip_call.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace tarvo::hostkit {
namespace {

// The clips with a frame provider, for the frame callback to find.
std::mutex& ProvidersMutex() {
  static std::mutex m;
  return m;
}
std::vector<ClipCall*>& Providers() {
  static std::vector<ClipCall*> clips;
  return clips;
}

// A new handle of `size` bytes holding `bytes` (then zeros); nullptr when out
// of memory.
Handle BlockOf(const void* bytes, int32_t size) {
  Handle h = InProcessHost().NewHandle(size < 0 ? 0 : size);
  if (h && bytes && size > 0) std::memcpy(*h, bytes, static_cast<size_t>(size));
  return h;
}

}  // namespace

ClipCall::ClipCall(XFilterFn entry) : entry_(&ClipCall::CallPlain), context_(this), plain_(entry) {}

ClipCall::ClipCall(EntryFn entry, void* context) : entry_(entry), context_(context) {}

ClipCall::ClipCall() = default;

ClipCall::~ClipCall() {
  SetFrameProvider(nullptr);
  DropRecord();
  DropPrivateData();
}

int32_t ClipCall::CallPlain(void* self, int16_t selector, CallRecordHandle record) {
  return static_cast<ClipCall*>(self)->plain_(selector, record);
}

bool ClipCall::SetRecord(const TSpecs& specs) {
  if (call_.SpecsHandle && InProcessHost().GetHandleSize(call_.SpecsHandle) == kSpecsSize) {
    std::memcpy(*call_.SpecsHandle, &specs, kSpecsSize);
    return true;
  }
  return SetRecordBlock(&specs, kSpecsSize);
}

bool ClipCall::SetRecordBlock(const void* bytes, int32_t size) {
  Handle h = BlockOf(bytes, size);
  if (!h) return false;
  DropRecord();
  call_.SpecsHandle = h;
  return true;
}

void ClipCall::DropRecord() {
  if (call_.SpecsHandle) InProcessHost().DisposeHandle(call_.SpecsHandle);
  call_.SpecsHandle = nullptr;
}

std::optional<TSpecs> ClipCall::Record() const {
  if (!call_.SpecsHandle || InProcessHost().GetHandleSize(call_.SpecsHandle) < kSpecsSize) return std::nullopt;
  TSpecs s;
  std::memcpy(&s, *call_.SpecsHandle, kSpecsSize);
  return s;
}

TSpecs* ClipCall::MutableRecord() {
  if (!call_.SpecsHandle || InProcessHost().GetHandleSize(call_.SpecsHandle) < kSpecsSize) return nullptr;
  return reinterpret_cast<TSpecs*>(*call_.SpecsHandle);
}

bool ClipCall::SetPrivateData(const void* bytes, int32_t size) {
  Handle h = BlockOf(bytes, size);
  if (!h) return false;
  std::lock_guard<std::mutex> lock(ProvidersMutex());  // the callback reads it
  if (call_.PrivateData) InProcessHost().DisposeHandle(call_.PrivateData);
  call_.PrivateData = h;
  return true;
}

void ClipCall::DropPrivateData() {
  std::lock_guard<std::mutex> lock(ProvidersMutex());
  if (call_.PrivateData) InProcessHost().DisposeHandle(call_.PrivateData);
  call_.PrivateData = nullptr;
}

void ClipCall::SetFrameProvider(FrameProvider* provider) {
  std::lock_guard<std::mutex> lock(ProvidersMutex());
  auto& clips = Providers();
  clips.erase(std::remove(clips.begin(), clips.end(), this), clips.end());
  provider_ = provider;
  if (provider) clips.push_back(this);
  call_.FrameCallback = provider ? &ClipCall::FrameCallback : nullptr;
}

int32_t ClipCall::FrameCallback(int32_t frame, PixBufferHandle destination, const TRect* bounds,
                                Handle privateData) {
  if (!privateData || !destination || !*destination || !bounds) return -1;
  FrameProvider* provider = nullptr;
  {
    std::lock_guard<std::mutex> lock(ProvidersMutex());
    for (ClipCall* clip : Providers())
      if (clip->call_.PrivateData == privateData) provider = clip->provider_;
  }
  if (!provider) return -1;
  return provider->RenderFrame(frame, **destination, *bounds);
}

int32_t ClipCall::Call(int16_t selector) {
  if (!entry_) return -1;
  return entry_(context_, selector, &callPtr_);
}

int32_t ClipCall::CallWithoutFrames(int16_t selector, int32_t part) {
  call_.Part = part;
  SetFrames(nullptr, nullptr);
  return Call(selector);
}

int32_t ClipCall::Prepare(int32_t part) { return CallWithoutFrames(kSelectorPrepare, part); }

int32_t ClipCall::Setup(int32_t part) { return CallWithoutFrames(kSelectorSetup, part); }

int32_t ClipCall::Execute(int32_t part) {
  call_.Part = part;
  return Call(kSelectorExecute);
}

int32_t ClipCall::Execute(int32_t part, uint8_t* source, uint8_t* destination, int32_t width, int32_t height) {
  source_.Describe(source, width, height);
  destination_.Describe(destination, width, height);
  SetFrames(source_.handle(), destination_.handle());
  // The frames are the caller's only for this call, whatever the entry point
  // does.
  struct Detach {
    ClipCall* clip;
    ~Detach() { clip->SetFrames(nullptr, nullptr); }
  } detach{this};
  return Execute(part);
}

}  // namespace tarvo::hostkit
