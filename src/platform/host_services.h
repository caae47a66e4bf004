// Host services: memory handles, off-screen frame buffers and drawing, as a
// video host supplies them to the filter. Our hosts, adapters and tests all use
// the one in-process implementation below. A host may also hand the filter
// handles it made itself (a pointer to its own master pointer); those are
// never read past the bytes the call protocol promises.
#pragma once

#include <cstdint>
#include <functional>

#include "types/handle.h"
#include "types/pix_buffer.h"

namespace tarvo {

// Where PPixToScreen draws: the user interface registers one. Arguments: the
// frame, the device context given to PPixToScreen, the source and destination
// rectangles.
using DrawTarget = std::function<void(const TPixBuffer&, void*, const TRect&, const TRect&)>;

class HostServices {
 public:
  virtual ~HostServices() = default;

  // A handle to `size` writable bytes (zeroed), or nullptr when out of memory.
  virtual Handle NewHandle(int32_t size) = 0;
  // True when these services made the handle and know its size. A handle the
  // host made itself is not: only its master pointer may be read, and the
  // block behind it holds what the protocol promises for its role (256 bytes
  // for a record, 64 for private data). Services that do not tell their
  // handles apart know every handle they are given.
  virtual bool OwnsHandle(Handle h) { return h != nullptr; }
  // The block's size; 0 for nullptr and for a handle these services did not
  // make.
  virtual int32_t GetHandleSize(Handle h) = 0;
  // Grows or shrinks the block, keeping its old bytes (new bytes are zero).
  // False when out of memory or for a handle these services did not make; the
  // block is then unchanged.
  virtual bool SetHandleSize(Handle h, int32_t size) = 0;
  // Frees a handle these services made; does nothing for any other.
  virtual void DisposeHandle(Handle h) = 0;

  // An off-screen world of bounds' size (32-bit pixels, bottom row first).
  // Returns 0 and stores the world's id, or a non-zero error.
  virtual int16_t NewPWorld(int16_t* world, const TRect& bounds) = 0;
  // The world's frame descriptor handle; nullptr when no such world exists.
  virtual PixBufferHandle GetPWorldBits(int16_t world) = 0;
  virtual void DisposePWorld(int16_t world) = 0;

  // Draws the frame, scaled from src to dst, into the registered draw target;
  // does nothing when none is registered (headless).
  virtual void PPixToScreen(PixBufferHandle frame, void* deviceContext, const TRect& src, const TRect& dst) = 0;
  // The host's main window (opaque), or nullptr for a headless host.
  virtual void* HostMainWindow() = 0;
};

// The number of bytes of a handle's block the filter may use in a role whose
// protocol size is `protocolSize`: the block's own size for our handles, the
// protocol size for a host's own (a nil master pointer gives 0).
int32_t UsableHandleSize(HostServices& host, Handle h, int32_t protocolSize);

// The process-wide in-process implementation. Handles made by any copy of this
// code (the plug-in library and the host program each link one) are
// interchangeable: each copy keeps a table of the handles it made and finds
// the other copies' tables, so a handle is recognised by its address alone,
// without reading through it.
HostServices& InProcessHost();

// Registers (or, with an empty function, removes) the draw target and the
// main-window value of the in-process host.
void SetDrawTarget(DrawTarget target);
void SetHostMainWindow(void* window);

// Small RAII owner for handles made by a host or a test.
class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(Handle h) : h_(h) {}
  ~OwnedHandle() { reset(); }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  OwnedHandle(OwnedHandle&& o) noexcept : h_(o.h_) { o.h_ = nullptr; }
  OwnedHandle& operator=(OwnedHandle&& o) noexcept {
    if (this != &o) { reset(); h_ = o.h_; o.h_ = nullptr; }
    return *this;
  }
  Handle get() const { return h_; }
  Handle* slot() { return &h_; }
  Handle release() { Handle h = h_; h_ = nullptr; return h; }
  void reset(Handle h = nullptr) {
    if (h_) InProcessHost().DisposeHandle(h_);
    h_ = h;
  }

 private:
  Handle h_ = nullptr;
};

}  // namespace tarvo
