#include "clip_host.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>

namespace tarvo::cli {
namespace {

// Private data: "TRVC", the clip instance number, then a hash of the clip's
// name. The first 14 bytes differ between any two clips of one process.
constexpr int32_t kPrivateSize = 64;

std::mutex& RegistryMutex() {
  static std::mutex m;
  return m;
}
std::map<Handle, ClipHost*>& Registry() {
  static std::map<Handle, ClipHost*> r;
  return r;
}

uint64_t Fnv1a(const std::string& s) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : s) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

}  // namespace

uint8_t FieldFlagsOf(FieldMode mode) {
  switch (mode) {
    case FieldMode::TopFirst: return 1;
    case FieldMode::BottomFirst: return 2;
    case FieldMode::Progressive: break;
  }
  return 0;
}

ClipHost::ClipHost(XFilterFn entry, const std::string& clipKey) : entry_(entry) {
  static std::atomic<uint32_t> nextInstance{1};
  private_.reset(InProcessHost().NewHandle(kPrivateSize));
  if (private_.get()) {
    uint8_t* p = *private_.get();
    std::memcpy(p, "TRVC", 4);
    const uint32_t instance = nextInstance++;
    std::memcpy(p + 4, &instance, 4);
    const uint64_t hash = Fnv1a(clipKey);
    std::memcpy(p + 8, &hash, 8);
    std::lock_guard<std::mutex> lock(RegistryMutex());
    Registry()[private_.get()] = this;
  }
  call_.PrivateData = private_.get();
  call_.FrameCallback = &ClipHost::FrameCallback;
  callPtr_ = &call_;
  srcPtr_ = &src_;
  dstPtr_ = &dst_;
}

ClipHost::~ClipHost() {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  Registry().erase(private_.get());
}

void ClipHost::SetRecord(const TSpecs& specs) {
  if (!specs_.get()) specs_.reset(InProcessHost().NewHandle(kSpecsSize));
  if (specs_.get()) std::memcpy(*specs_.get(), &specs, kSpecsSize);
}

std::optional<TSpecs> ClipHost::Record() const {
  if (!specs_.get() || InProcessHost().GetHandleSize(specs_.get()) < kSpecsSize) return std::nullopt;
  TSpecs s;
  std::memcpy(&s, *specs_.get(), kSpecsSize);
  return s;
}

TSpecs* ClipHost::MutableRecord() {
  if (!specs_.get() || InProcessHost().GetHandleSize(specs_.get()) < kSpecsSize) return nullptr;
  return reinterpret_cast<TSpecs*>(*specs_.get());
}

int32_t ClipHost::Call(int16_t selector) {
  call_.SpecsHandle = specs_.get();
  const int32_t result = entry_(selector, &callPtr_);
  // The filter stores the record it creates on a clip's first call into the
  // call record; from then on the host keeps it with the clip.
  if (call_.SpecsHandle != specs_.get()) {
    specs_.release();
    specs_.reset(call_.SpecsHandle);
  }
  return result;
}

int32_t ClipHost::Prepare(int32_t part) {
  call_.Part = part;
  call_.Source = nullptr;
  call_.Destination = nullptr;
  return Call(kSelectorPrepare);
}

int32_t ClipHost::Execute(int32_t part, uint8_t* source, uint8_t* destination, int width, int height) {
  src_ = TPixBuffer{};
  src_.Bounds = TRect{0, 0, width, height};
  src_.RowBytes = width * 4;
  src_.Pixels = source;
  dst_ = src_;
  dst_.Pixels = destination;
  call_.Part = part;
  call_.Source = &srcPtr_;
  call_.Destination = &dstPtr_;
  const int32_t r = Call(kSelectorExecute);
  call_.Source = nullptr;
  call_.Destination = nullptr;
  return r;
}

int32_t ClipHost::Setup(int32_t part) {
  call_.Part = part;
  call_.Source = nullptr;
  call_.Destination = nullptr;
  return Call(kSelectorSetup);
}

int32_t ClipHost::FrameCallback(int32_t frame, PixBufferHandle destination, const TRect* bounds,
                                Handle privateData) {
  ClipHost* clip = nullptr;
  {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    auto it = Registry().find(privateData);
    if (it != Registry().end()) clip = it->second;
  }
  if (!clip) return -1;
  return clip->RenderInto(frame, destination, bounds);
}

int32_t ClipHost::RenderInto(int32_t frame, PixBufferHandle destination, const TRect* bounds) {
  if (!source_ || !destination || !*destination || !bounds) return -1;
  if (frame < 0) frame = 0;
  if (call_.Total > 0 && frame >= call_.Total) frame = call_.Total - 1;
  std::string error;
  if (!source_->ReadFrameAt(frame, callbackFrame_, &error)) return -1;
  return ScaleIntoWorld(callbackFrame_, **destination, *bounds) ? 0 : -1;
}

bool ScaleIntoWorld(const Frame& frame, TPixBuffer& destination, const TRect& bounds) {
  const int32_t dw = bounds.right - bounds.left, dh = bounds.bottom - bounds.top;
  const int32_t worldW = FrameWidth(destination), worldH = FrameHeight(destination);
  const int32_t stride = FrameStride(destination);
  if (dw <= 0 || dh <= 0 || frame.width <= 0 || frame.height <= 0 || !destination.Pixels ||
      stride < worldW * 4)
    return false;
  for (int32_t r = 0; r < dh; ++r) {
    const int32_t y = bounds.top + r;  // picture row in the world
    if (y < 0 || y >= worldH) continue;
    const int32_t sy = static_cast<int32_t>(static_cast<int64_t>(r) * frame.height / dh);
    const uint8_t* srow = frame.row(sy);
    uint8_t* drow = destination.Pixels + static_cast<size_t>(worldH - 1 - y) * static_cast<size_t>(stride);
    for (int32_t c = 0; c < dw; ++c) {
      const int32_t x = bounds.left + c;
      if (x < 0 || x >= worldW) continue;
      const int32_t sx = static_cast<int32_t>(static_cast<int64_t>(c) * frame.width / dw);
      std::memcpy(drow + static_cast<size_t>(x) * 4, srow + static_cast<size_t>(sx) * 4, 4);
    }
  }
  return true;
}

}  // namespace tarvo::cli
