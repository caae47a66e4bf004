#include "planes/channel.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace tarvo {

TChannel::~TChannel() { Release(); }

size_t TChannel::ByteSize() const {
  if (width_ <= 0 || height_ <= 0 || depth_ <= 0) return 0;
  return static_cast<size_t>(width_) * static_cast<size_t>(height_) * static_cast<size_t>(depth_);
}

void TChannel::Release() {
  delete[] data_;
  data_ = nullptr;
}

void TChannel::Reallocate() {
  Release();
  const size_t n = ByteSize();
  if (n > 0) data_ = new uint8_t[n];
}

void TChannel::SetWidth(int32_t v) {
  if (v == width_) return;
  const int64_t delta = static_cast<int64_t>(v - width_) * height_ * depth_;
  width_ = v;
  if (delta != 0) Reallocate();
}

void TChannel::SetHeight(int32_t v) {
  if (v == height_) return;
  const int64_t delta = static_cast<int64_t>(v - height_) * width_ * depth_;
  height_ = v;
  if (delta != 0) Reallocate();
}

void TChannel::SetDepth(int32_t v) {
  if (v == depth_) return;
  const int64_t delta = static_cast<int64_t>(v - depth_) * width_ * height_;
  depth_ = v;
  if (delta != 0) Reallocate();
}

void TChannel::SizeLike(const TChannel& other) { SetSize(other.width_, other.height_, other.depth_); }

void TChannel::SetSize(int32_t width, int32_t height, int32_t depth) {
  SetWidth(width);
  SetHeight(height);
  SetDepth(depth);
}

void TChannel::Exchange(TChannel& other) { std::swap(data_, other.data_); }

void TChannel::Fill(uint8_t value) {
  if (data_) std::memset(data_, value, ByteSize());
}

void TChannel::CopyFrom(const TChannel& other) {
  if (data_ && other.data_) std::memcpy(data_, other.data_, std::min(ByteSize(), other.ByteSize()));
}

}  // namespace tarvo
