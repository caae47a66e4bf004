// Frame descriptors handed between the host and the filter.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>

namespace tarvo {

#pragma pack(push, 1)
struct TRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

// A frame: 4-byte pixels in memory order blue, green, red, fourth byte. Row n
// starts RowBytes * n bytes after Pixels (only the low 14 bits of RowBytes
// count). The fourth byte is never processed, only carried from source to
// destination.
struct TPixBuffer {
  TRect Bounds;       // 0
  int32_t RowBytes;   // 16
  uint8_t Unused[8];  // 20..27, not used by the filter
  uint8_t* Pixels;    // 28
};
#pragma pack(pop)

static_assert(offsetof(TPixBuffer, Bounds) == 0);
static_assert(offsetof(TPixBuffer, RowBytes) == 16);
static_assert(offsetof(TPixBuffer, Pixels) == 28);

using PixBufferHandle = TPixBuffer**;

constexpr int32_t kRowBytesMask = 0x3FFF;
// The widest row a video host's frame descriptor can describe: RowBytes keeps
// 14 bits. Our own hosts' frames are read with RowBytes in full and may be
// wider (types/frame_view.h).
constexpr int32_t kMaxFrameWidth = kRowBytesMask / 4;  // 4095 pixels
// The tallest frame the filter takes: 16383 rows, the same 14 bits. The
// largest frame (4095 x 16383) keeps every sample count, byte offset and
// plane size far inside 32 bits, and leaves room for any real picture.
constexpr int32_t kMaxFrameHeight = kRowBytesMask;

// Width and height of the bounds, worked out in 64 bits: hostile bounds
// (right - left beyond the 32-bit range) give 0, which no caller takes for a
// usable frame.
inline int32_t BoundsSpan(int32_t from, int32_t to) {
  const int64_t span = static_cast<int64_t>(to) - static_cast<int64_t>(from);
  return span > INT32_MAX || span < INT32_MIN ? 0 : static_cast<int32_t>(span);
}
inline int32_t FrameWidth(const TPixBuffer& b) { return BoundsSpan(b.Bounds.left, b.Bounds.right); }
inline int32_t FrameHeight(const TPixBuffer& b) { return BoundsSpan(b.Bounds.top, b.Bounds.bottom); }
inline int32_t FrameStride(const TPixBuffer& b) { return b.RowBytes & kRowBytesMask; }

// True when the descriptor describes a frame that can be read and written
// without leaving its buffer: positive size within kMaxFrameWidth x
// kMaxFrameHeight, pixels present, and a masked row stride that holds a whole
// row.
inline bool FrameIsUsable(const TPixBuffer& b) {
  const int32_t w = FrameWidth(b), h = FrameHeight(b);
  return b.Pixels != nullptr && w > 0 && h > 0 && w <= kMaxFrameWidth && h <= kMaxFrameHeight &&
         FrameStride(b) >= w * 4;
}

}  // namespace tarvo
