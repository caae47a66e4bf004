// A frame as a host hands it to the filter: the frame descriptor and the
// master pointer that the call record's frame handle points at.
#pragma once

#include <cstdint>

#include "types/pix_buffer.h"

namespace tarvo::hostkit {

class FrameSlot {
 public:
  FrameSlot() = default;
  // Describes `width` x `height` pixels at `pixels`, rows `rowBytes` apart
  // (0: width * 4, rows packed). RowBytes holds the stride in full: an entry
  // point that reads it as a video host's descriptor takes its low 14 bits,
  // so rows of more than kMaxFrameWidth pixels are for xFilterWide and
  // Engine::Filter with FrameRules::kOwnHosts.
  FrameSlot(uint8_t* pixels, int32_t width, int32_t height, int32_t rowBytes = 0) {
    Describe(pixels, width, height, rowBytes);
  }
  // The handle points into the object: a copy describes the same pixels
  // through a handle of its own.
  FrameSlot(const FrameSlot& other) : desc_(other.desc_) {}
  FrameSlot& operator=(const FrameSlot& other) {
    desc_ = other.desc_;
    return *this;
  }

  void Describe(uint8_t* pixels, int32_t width, int32_t height, int32_t rowBytes = 0) {
    desc_ = TPixBuffer{};
    desc_.Bounds = TRect{0, 0, width, height};
    desc_.RowBytes = rowBytes != 0 ? rowBytes : width * 4;
    desc_.Pixels = pixels;
  }
  void SetPixels(uint8_t* pixels) { desc_.Pixels = pixels; }

  TPixBuffer& desc() { return desc_; }
  const TPixBuffer& desc() const { return desc_; }
  PixBufferHandle handle() { return &ptr_; }

 private:
  TPixBuffer desc_{};
  TPixBuffer* ptr_ = &desc_;
};

}  // namespace tarvo::hostkit
