// The filter's own description of a frame, and the two ways a frame
// descriptor (TPixBuffer) is read into one.
//
// A video host describes its frames with TPixBuffer, whose row field keeps 14
// bits: such a frame is at most kMaxFrameWidth pixels wide. Our own hosts (the
// command line, the frei0r adapter) hand over frames through the same
// descriptor, but there RowBytes counts in full, so their frames may be up to
// kMaxOwnFrameWidth wide. Inside the filter every frame is a FrameView: the
// pipeline, the conversions, the test signal and the bypass copy work on it
// and never look at RowBytes themselves.
#pragma once

#include <cstdint>

#include "types/pix_buffer.h"

namespace tarvo {

// The largest frame our own hosts hand over: 8192 pixels wide (DCI 8K; 8K UHD
// is 7680), as tall as any frame (kMaxFrameHeight rows). At 8192 x 16383 a
// frame holds 134,209,536 pixels: its bytes (x 4) and every plane's bytes
// (x 2 at most) stay below 2^31, so sample counts, linear offsets and byte
// offsets keep fitting the 32-bit arithmetic the stages use.
constexpr int32_t kMaxOwnFrameWidth = 8192;
constexpr int32_t kMaxOwnFrameHeight = kMaxFrameHeight;

// How a descriptor's row stride and size are read.
enum class FrameRules : uint8_t {
  // A video host's descriptor: the low 14 bits of RowBytes, at most
  // kMaxFrameWidth x kMaxFrameHeight (FrameIsUsable).
  kHostProtocol,
  // Our own hosts' descriptor: RowBytes in full, at most kMaxOwnFrameWidth x
  // kMaxOwnFrameHeight.
  kOwnHosts,
};

// A frame: Width x Height 4-byte pixels (blue, green, red, fourth byte), row
// n starting Stride * n bytes after Pixels.
struct FrameView {
  uint8_t* Pixels = nullptr;
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t Stride = 0;
};

inline int32_t FrameWidth(const FrameView& v) { return v.Width; }
inline int32_t FrameHeight(const FrameView& v) { return v.Height; }
inline int32_t FrameStride(const FrameView& v) { return v.Stride; }

// True when the view can be read and written without leaving its buffer:
// pixels present, a positive size within the largest frame of either rules,
// and rows far enough apart to hold a whole row.
inline bool FrameIsUsable(const FrameView& v) {
  return v.Pixels != nullptr && v.Width > 0 && v.Height > 0 && v.Width <= kMaxOwnFrameWidth &&
         v.Height <= kMaxOwnFrameHeight && v.Stride >= v.Width * 4;
}

// The frame `b` describes when read by `rules`; an empty view (no pixels, no
// size) when it describes no usable frame under those rules, so that a frame
// too large for the host protocol is refused rather than misread.
inline FrameView ViewOf(const TPixBuffer& b, FrameRules rules) {
  FrameView v;
  if (rules == FrameRules::kHostProtocol) {
    if (!FrameIsUsable(b)) return v;
    v = FrameView{b.Pixels, FrameWidth(b), FrameHeight(b), FrameStride(b)};
  } else {
    v = FrameView{b.Pixels, FrameWidth(b), FrameHeight(b), b.RowBytes};
  }
  return FrameIsUsable(v) ? v : FrameView{};
}

// A video host's descriptor, read as the host protocol says.
inline FrameView HostFrame(const TPixBuffer& b) { return ViewOf(b, FrameRules::kHostProtocol); }

}  // namespace tarvo
