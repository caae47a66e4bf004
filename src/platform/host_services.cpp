#include "platform/host_services.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#if defined(__ELF__)
#include <link.h>
#endif

// Every copy of this code in the process (the plug-in library and the host
// program each link one) keeps a table of the handles it made, and publishes
// a small C interface to that table through an ELF note in its own module.
// A copy recognises a handle by looking its address up in its own table and
// then, through dl_iterate_phdr, in the tables of the other loaded copies. No
// copy ever reads through a handle to find out whether it is one of ours: a
// host's own handle may point at a master pointer with nothing after it.
extern "C" {
struct TarvoHandleTableV1 {
  uint32_t magic;
  uint32_t version;
  // The block's size, or -1 when this copy did not make the handle.
  int32_t (*size)(uint8_t** h);
  // 1 resized, 0 out of memory (block unchanged), -1 not this copy's handle.
  int32_t (*resize)(uint8_t** h, int32_t size);
  // 1 freed, -1 not this copy's handle.
  int32_t (*dispose)(uint8_t** h);
  // Takes over a handle whose maker is going away (its module is unloaded):
  // 1 taken, 0 not. The handle's block keeps its layout (master pointer, then
  // the 32-bit size) and was allocated with malloc.
  int32_t (*adopt)(uint8_t** h);
};
extern const TarvoHandleTableV1 tarvo_handle_table_v1 __attribute__((visibility("hidden")));
}

namespace tarvo {
namespace {

constexpr uint32_t kTableMagic = 0x54726854;  // "ThrT"
constexpr uint32_t kNoteType = 0x54480001;

// A handle is the address of `data`, the block's first member.
struct HandleBlock {
  uint8_t* data;
  int32_t size;
};

class HandleTable {
 public:
  // Handles still alive are handed to another loaded copy, so that a host
  // can still use and free a record the unloaded library made.
  ~HandleTable();

  Handle Make(int32_t size) {
    if (size < 0) return nullptr;
    auto* b = static_cast<HandleBlock*>(std::malloc(sizeof(HandleBlock)));
    if (!b) return nullptr;
    b->data = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(size > 0 ? size : 1), 1));
    if (!b->data) {
      std::free(b);
      return nullptr;
    }
    b->size = size;
    try {
      std::lock_guard<std::mutex> lock(mu_);
      blocks_.emplace(&b->data, b);
    } catch (...) {
      std::free(b->data);
      std::free(b);
      return nullptr;
    }
    return &b->data;
  }

  int32_t SizeOf(Handle h) {
    if (!h || !alive_.load()) return -1;
    std::lock_guard<std::mutex> lock(mu_);
    auto it = blocks_.find(h);
    return it == blocks_.end() ? -1 : it->second->size;
  }

  int32_t Resize(Handle h, int32_t size) {
    if (!h || !alive_.load()) return -1;
    std::lock_guard<std::mutex> lock(mu_);
    auto it = blocks_.find(h);
    if (it == blocks_.end()) return -1;
    HandleBlock* b = it->second;
    if (size < 0) return 0;
    auto* p = static_cast<uint8_t*>(std::realloc(b->data, static_cast<size_t>(size > 0 ? size : 1)));
    if (!p) return 0;
    if (size > b->size) std::memset(p + b->size, 0, static_cast<size_t>(size - b->size));
    b->data = p;
    b->size = size;
    return 1;
  }

  int32_t Adopt(Handle h) {
    if (!h || !alive_.load()) return 0;
    try {
      std::lock_guard<std::mutex> lock(mu_);
      blocks_.emplace(h, reinterpret_cast<HandleBlock*>(h));
      return 1;
    } catch (...) {
      return 0;
    }
  }

  int32_t Dispose(Handle h) {
    if (!h || !alive_.load()) return -1;
    HandleBlock* b = nullptr;
    {
      std::lock_guard<std::mutex> lock(mu_);
      auto it = blocks_.find(h);
      if (it == blocks_.end()) return -1;
      b = it->second;
      blocks_.erase(it);
    }
    std::free(b->data);
    std::free(b);
    return 1;
  }

 private:
  std::mutex mu_;
  std::unordered_map<Handle, HandleBlock*> blocks_;
  // Cleared when the table is destroyed (the module is unloaded or the
  // process ends), so that a late call from another copy finds nothing.
  std::atomic<bool> alive_{true};
};

// Made on first use, so that handles can be made during static
// initialisation of other units.
HandleTable& OwnTable() {
  static HandleTable table;
  return table;
}

int32_t TableSize(uint8_t** h) { return OwnTable().SizeOf(h); }
int32_t TableResize(uint8_t** h, int32_t size) { return OwnTable().Resize(h, size); }
int32_t TableDispose(uint8_t** h) { return OwnTable().Dispose(h); }
int32_t TableAdopt(uint8_t** h) { return OwnTable().Adopt(h); }

#if defined(__ELF__) && (defined(__x86_64__) || defined(__aarch64__) || defined(__i386__))
// The note: name "Tarvo", type kNoteType, and as descriptor the distance from
// the descriptor to tarvo_handle_table_v1 (a link-time constant, so the note
// needs no relocation when the module is loaded).
asm(R"(
  .pushsection .note.tarvo.handles,"a",%note
  .balign 4
  .long 6
  .long 8
  .long 0x54480001
  .asciz "Tarvo"
  .balign 4
9:
  .quad tarvo_handle_table_v1 - 9b
  .popsection
)");
constexpr bool kTablesPublished = true;
#else
constexpr bool kTablesPublished = false;
#endif

// Calls `visit` with the table of every other copy of this code that is
// loaded, until it returns true. Runs under the loader's lock, so no module
// can be unloaded while its table is in use.
template <typename Visit>
bool VisitOtherTables(Visit visit) {
  if constexpr (!kTablesPublished) {
    (void)visit;
    return false;
  } else {
#if defined(__ELF__)
    struct Context {
      Visit* visit;
      bool done;
    } ctx{&visit, false};
    ::dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) -> int {
          auto* c = static_cast<Context*>(data);
          for (int i = 0; i < info->dlpi_phnum && !c->done; ++i) {
            const auto& ph = info->dlpi_phdr[i];
            if (ph.p_type != PT_NOTE) continue;
            const auto* p = reinterpret_cast<const uint8_t*>(info->dlpi_addr + ph.p_vaddr);
            const uint8_t* end = p + ph.p_memsz;
            while (!c->done && end - p >= 12) {
              uint32_t nameSize, descSize, type;
              std::memcpy(&nameSize, p, 4);
              std::memcpy(&descSize, p + 4, 4);
              std::memcpy(&type, p + 8, 4);
              const uint8_t* name = p + 12;
              const uint8_t* desc = name + ((static_cast<size_t>(nameSize) + 3) & ~size_t{3});
              const uint8_t* next = desc + ((static_cast<size_t>(descSize) + 3) & ~size_t{3});
              if (next > end || next <= p) break;
              if (type == kNoteType && nameSize == 6 && descSize == 8 && std::memcmp(name, "Tarvo", 6) == 0) {
                int64_t offset;
                std::memcpy(&offset, desc, 8);
                const auto* table =
                    reinterpret_cast<const TarvoHandleTableV1*>(reinterpret_cast<uintptr_t>(desc) + offset);
                if (table != &tarvo_handle_table_v1 && table->magic == kTableMagic && table->version >= 1 &&
                    (*c->visit)(*table))
                  c->done = true;
              }
              p = next;
            }
          }
          return c->done ? 1 : 0;
        },
        &ctx);
    return ctx.done;
#endif
  }
}

HandleTable::~HandleTable() {
  std::unordered_map<Handle, HandleBlock*> left;
  {
    std::lock_guard<std::mutex> lock(mu_);
    alive_.store(false);
    left.swap(blocks_);
  }
  if (left.empty()) return;
  VisitOtherTables([&](const TarvoHandleTableV1& t) {
    for (auto it = left.begin(); it != left.end();) it = t.adopt(it->first) == 1 ? left.erase(it) : std::next(it);
    return left.empty();
  });
  // Blocks no other copy took stay allocated: their holder may still use them.
}

struct World {
  std::vector<uint8_t> pixels;
  TPixBuffer desc{};
  TPixBuffer* descPtr = nullptr;
};

class InProcessHostServices final : public HostServices {
 public:
  Handle NewHandle(int32_t size) override { return OwnTable().Make(size); }

  bool OwnsHandle(Handle h) override { return SizeOf(h) >= 0; }

  int32_t GetHandleSize(Handle h) override {
    const int32_t size = SizeOf(h);
    return size > 0 ? size : 0;
  }

  bool SetHandleSize(Handle h, int32_t size) override {
    if (!h) return false;
    int32_t result = OwnTable().Resize(h, size);
    if (result < 0)
      VisitOtherTables([&](const TarvoHandleTableV1& t) {
        result = t.resize(h, size);
        return result >= 0;
      });
    return result == 1;
  }

  void DisposeHandle(Handle h) override {
    if (h && OwnTable().Dispose(h) < 0) VisitOtherTables([&](const TarvoHandleTableV1& t) { return t.dispose(h) >= 0; });
  }

  int16_t NewPWorld(int16_t* world, const TRect& bounds) override {
    const int32_t w = BoundsSpan(bounds.left, bounds.right), h = BoundsSpan(bounds.top, bounds.bottom);
    if (!world || w <= 0 || h <= 0 || w > kMaxFrameWidth || h > kMaxFrameHeight) return -1;
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
  // The size from whichever copy of this code made the handle; -1 when none.
  static int32_t SizeOf(Handle h) {
    if (!h) return -1;
    int32_t size = OwnTable().SizeOf(h);
    if (size < 0)
      VisitOtherTables([&](const TarvoHandleTableV1& t) {
        size = t.size(h);
        return size >= 0;
      });
    return size;
  }

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

int32_t UsableHandleSize(HostServices& host, Handle h, int32_t protocolSize) {
  if (!h || !*h) return 0;
  return host.OwnsHandle(h) ? host.GetHandleSize(h) : protocolSize;
}
void SetDrawTarget(DrawTarget target) { Instance().SetDraw(std::move(target)); }
void SetHostMainWindow(void* window) { Instance().SetMainWindow(window); }

}  // namespace tarvo

extern "C" const TarvoHandleTableV1 tarvo_handle_table_v1 = {
    tarvo::kTableMagic, 1, &tarvo::TableSize, &tarvo::TableResize, &tarvo::TableDispose, &tarvo::TableAdopt,
};
