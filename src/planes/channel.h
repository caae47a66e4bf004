// TChannel: one plane of samples (luminance, a colour difference, a mask or a
// history picture).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvo {

// A plane of Width x Height samples of Depth bytes each: Depth 1 holds
// unsigned 8-bit samples, Depth 2 signed 16-bit samples (little-endian),
// Depth 0 no buffer. Samples are stored row after row with no gap; sample
// (x, y) starts at byte (y * Width + x) * Depth.
//
// The buffer is re-allocated only when a setter changes the product of the
// three dimensions away from zero (see SetWidth); a fresh buffer has undefined
// contents. Planes exchange buffers rather than copy samples.
class TChannel {
 public:
  TChannel() = default;
  ~TChannel();
  TChannel(const TChannel&) = delete;
  TChannel& operator=(const TChannel&) = delete;

  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  int32_t Depth() const { return depth_; }

  // Setting a dimension to its current value does nothing. Otherwise the
  // dimension changes, and when (new - old) times the other two dimensions is
  // not zero the old buffer is released and one of the new size allocated; the
  // old samples are not kept. Throws std::bad_alloc when memory runs out (the
  // plane is then left with no buffer and all three dimensions as set).
  void SetWidth(int32_t v);
  void SetHeight(int32_t v);
  void SetDepth(int32_t v);
  // Width, then Height, then Depth, taken from another plane.
  void SizeLike(const TChannel& other);
  void SetSize(int32_t width, int32_t height, int32_t depth);

  uint8_t* Data() { return data_; }
  const uint8_t* Data() const { return data_; }
  int16_t* Data16() { return reinterpret_cast<int16_t*>(data_); }
  const int16_t* Data16() const { return reinterpret_cast<const int16_t*>(data_); }

  int32_t Samples() const { return width_ * height_; }
  size_t ByteSize() const;
  bool HasBuffer() const { return data_ != nullptr; }

  // Swaps the buffers; the dimensions stay with their planes. Callers exchange
  // only planes of equal size.
  void Exchange(TChannel& other);
  // Sets every byte of the buffer to value (used with 0 and 128).
  void Fill(uint8_t value);
  // Copies the whole buffer of a plane of equal size.
  void CopyFrom(const TChannel& other);

 private:
  void Reallocate();
  void Release();

  int32_t width_ = 0;
  int32_t height_ = 0;
  int32_t depth_ = 0;
  uint8_t* data_ = nullptr;
};

}  // namespace tarvo
