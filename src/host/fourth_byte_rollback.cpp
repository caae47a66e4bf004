#include "host/fourth_byte_rollback.h"

namespace tarvo {

void FourthByteRollback::Prepare(const TPixBuffer& d, uint32_t stages, bool planesReallocated) {
  kept_ = false;
  if (planesReallocated) stagesSeen_ = 0;
  if ((stages & ~stagesSeen_) == 0) return;
  const int32_t w = FrameWidth(d), h = FrameHeight(d);
  bytes_.resize(static_cast<size_t>(w) * h);
  for (int32_t row = 0; row < h; ++row) {
    const uint8_t* p = d.Pixels + static_cast<size_t>(row) * FrameStride(d) + 3;
    uint8_t* kept = &bytes_[static_cast<size_t>(row) * w];
    for (int32_t x = 0; x < w; ++x) kept[x] = p[x * 4];
  }
  width_ = w;
  height_ = h;
  kept_ = true;
  stagesSeen_ |= stages;
}

void FourthByteRollback::Undo(TPixBuffer& d) const {
  if (!kept_) return;
  for (int32_t row = 0; row < height_; ++row) {
    uint8_t* p = d.Pixels + static_cast<size_t>(row) * FrameStride(d) + 3;
    const uint8_t* kept = &bytes_[static_cast<size_t>(row) * width_];
    for (int32_t x = 0; x < width_; ++x) p[x * 4] = kept[x];
  }
}

}  // namespace tarvo
