#include "platform/host_services.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace tarvo {
namespace {

// A handle points at `data`, the first member, so the header is found from the
// handle alone. Blocks come from malloc so that every module in the process can
// grow or free a handle made by another.
struct HandleBlock {
  uint8_t* data;
  int32_t size;
  uint32_t magic;
};
constexpr uint32_t kHandleMagic = 0x54617256;  // "VraT"

HandleBlock* BlockOf(Handle h) {
  if (!h) return nullptr;
  auto* b = reinterpret_cast<HandleBlock*>(h);
  return b->magic == kHandleMagic ? b : nullptr;
}

struct World {
  std::vector<uint8_t> pixels;
  TPixBuffer desc{};
  TPixBuffer* descPtr = nullptr;
};

class InProcessHostServices final : public HostServices {
 public:
  Handle NewHandle(int32_t size) override {
    if (size < 0) return nullptr;
    auto* b = static_cast<HandleBlock*>(std::malloc(sizeof(HandleBlock)));
    if (!b) return nullptr;
    b->data = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(size > 0 ? size : 1), 1));
    if (!b->data) {
      std::free(b);
      return nullptr;
    }
    b->size = size;
    b->magic = kHandleMagic;
    return &b->data;
  }

  int32_t GetHandleSize(Handle h) override {
    HandleBlock* b = BlockOf(h);
    return b ? b->size : 0;
  }

  bool SetHandleSize(Handle h, int32_t size) override {
    HandleBlock* b = BlockOf(h);
    if (!b || size < 0) return false;
    auto* p = static_cast<uint8_t*>(std::realloc(b->data, static_cast<size_t>(size > 0 ? size : 1)));
    if (!p) return false;
    if (size > b->size) std::memset(p + b->size, 0, static_cast<size_t>(size - b->size));
    b->data = p;
    b->size = size;
    return true;
  }

  void DisposeHandle(Handle h) override {
    HandleBlock* b = BlockOf(h);
    if (!b) return;
    b->magic = 0;
    std::free(b->data);
    std::free(b);
  }

  int16_t NewPWorld(int16_t* world, const TRect& bounds) override {
    const int32_t w = bounds.right - bounds.left, h = bounds.bottom - bounds.top;
    if (!world || w <= 0 || h <= 0 || w > kMaxFrameWidth) return -1;
    std::lock_guard<std::mutex> lock(mu_);
    auto wd = std::make_unique<World>();
    wd->pixels.assign(static_cast<size_t>(w) * static_cast<size_t>(h) * 4, 0);
    wd->desc.Bounds = TRect{0, 0, w, h};
    wd->desc.RowBytes = w * 4;
    wd->desc.Pixels = wd->pixels.data();
    wd->descPtr = &wd->desc;
    int16_t id = next_++;
    if (next_ <= 0) next_ = 1;
    worlds_[id] = std::move(wd);
    *world = id;
    return 0;
  }

  PixBufferHandle GetPWorldBits(int16_t world) override {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = worlds_.find(world);
    return it == worlds_.end() ? nullptr : &it->second->descPtr;
  }

  void DisposePWorld(int16_t world) override {
    std::lock_guard<std::mutex> lock(mu_);
    worlds_.erase(world);
  }

  void PPixToScreen(PixBufferHandle frame, void* dc, const TRect& src, const TRect& dst) override {
    DrawTarget target;
    {
      std::lock_guard<std::mutex> lock(mu_);
      target = draw_;
    }
    if (target && frame && *frame) target(**frame, dc, src, dst);
  }

  void* HostMainWindow() override { return mainWindow_; }

  void SetDraw(DrawTarget t) {
    std::lock_guard<std::mutex> lock(mu_);
    draw_ = std::move(t);
  }
  void SetMainWindow(void* w) { mainWindow_ = w; }

 private:
  std::mutex mu_;
  std::map<int16_t, std::unique_ptr<World>> worlds_;
  int16_t next_ = 1;
  DrawTarget draw_;
  void* mainWindow_ = nullptr;
};

InProcessHostServices& Instance() {
  static InProcessHostServices host;
  return host;
}

}  // namespace

HostServices& InProcessHost() { return Instance(); }
void SetDrawTarget(DrawTarget target) { Instance().SetDraw(std::move(target)); }
void SetHostMainWindow(void* window) { Instance().SetMainWindow(window); }

}  // namespace tarvo
