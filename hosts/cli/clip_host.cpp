#include "clip_host.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace tarvo::cli {
namespace {

// Private data: "TRVC", the clip instance number, then a hash of the clip's
// name. The first 14 bytes differ between any two clips of one process.
constexpr int32_t kPrivateSize = 64;

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

ClipHost::ClipHost(XFilterFn entry, const std::string& clipKey) : call_(entry) {
  static std::atomic<uint32_t> nextInstance{1};
  uint8_t p[kPrivateSize] = {};
  std::memcpy(p, "TRVC", 4);
  const uint32_t instance = nextInstance++;
  std::memcpy(p + 4, &instance, 4);
  const uint64_t hash = Fnv1a(clipKey);
  std::memcpy(p + 8, &hash, 8);
  call_.SetPrivateData(p, kPrivateSize);
  // The callback is always offered; without a frame source it fails.
  call_.SetFrameProvider(this);
}

ClipHost::~ClipHost() { call_.SetFrameProvider(nullptr); }

void ClipHost::SetRecord(const TSpecs& specs) { call_.SetRecord(specs); }

std::optional<TSpecs> ClipHost::Record() const { return call_.Record(); }

TSpecs* ClipHost::MutableRecord() { return call_.MutableRecord(); }

int32_t ClipHost::Prepare(int32_t part) { return call_.Prepare(part); }

int32_t ClipHost::Execute(int32_t part, uint8_t* source, uint8_t* destination, int width, int height) {
  return call_.Execute(part, source, destination, width, height);
}

int32_t ClipHost::Setup(int32_t part) { return call_.Setup(part); }

int32_t ClipHost::FrameCallback(int32_t frame, PixBufferHandle destination, const TRect* bounds,
                                Handle privateData) {
  return hostkit::ClipCall::FrameCallback(frame, destination, bounds, privateData);
}

int32_t ClipHost::RenderFrame(int32_t frame, TPixBuffer& destination, const TRect& bounds) {
  if (!source_) return -1;
  if (frame < 0) frame = 0;
  if (call_.Total() > 0 && frame >= call_.Total()) frame = call_.Total() - 1;
  std::string error;
  if (!source_->ReadFrameAt(frame, callbackFrame_, &error)) return -1;
  return ScaleIntoWorld(callbackFrame_, destination, bounds) ? 0 : -1;
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
