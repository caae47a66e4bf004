#include "host/run_history.h"

#include <climits>
#include <cstring>

#include "host/frame_plan.h"

namespace tarvo {

void RunHistory::Detect(int32_t part, int32_t total, int32_t yTempMode, int32_t cTempMode,
                        const uint8_t (&privateBlock)[kPrivateBytes]) {
  const bool continues = !breakRun_ && static_cast<int64_t>(part) == static_cast<int64_t>(prevPart_) + 1 &&
                         total == prevTotal_ && (yTempMode == prevYTempMode_ || cTempMode == prevCTempMode_) &&
                         std::memcmp(privateBlock, prevPrivate_, kClipBytes) == 0;
  if (!continues)
    runLength_ = 0;
  else if (runLength_ < INT32_MAX)
    ++runLength_;
  prevPart_ = part;
  prevTotal_ = total;
  prevYTempMode_ = yTempMode;
  prevCTempMode_ = cTempMode;
  std::memcpy(prevPrivate_, privateBlock, sizeof prevPrivate_);
  breakRun_ = false;
}

void RunHistory::NoteUsable(int32_t width, int32_t height, int32_t cWidth, int32_t cHeight) {
  for (int chain = kChainY; chain < kChainCount; ++chain) {
    const bool luma = chain == kChainY;
    for (int back = 0; back < 2; ++back) {
      const TChannel& h = back == 0 ? prev_[chain] : prev2_[chain];
      usable_[back][chain] = h.HasBuffer() && h.Width() == (luma ? width : cWidth) &&
                             h.Height() == (luma ? height : cHeight) && h.Depth() == (luma ? 1 : 2);
    }
  }
}

void RunHistory::Reserve(int chain, int mode, int32_t width, int32_t height, int32_t depth) {
  if (mode >= 1) reserver_.Reserve(prev_[chain], width, height, depth);
  if (mode == 2) reserver_.Reserve(prev2_[chain], width, height, depth);
}

void RunHistory::Save(int chain, TChannel& work, int mode) {
  if (mode == kNoSave) return;
  TChannel& prev = prev_[chain];
  TChannel& prev2 = prev2_[chain];
  switch (mode) {
    case 1:
      reserver_.Reserve(prev, work.Width(), work.Height(), work.Depth());
      prev2.SetDepth(0);
      work.Exchange(prev);
      break;
    case 2:
      reserver_.Reserve(prev, work.Width(), work.Height(), work.Depth());
      reserver_.Reserve(prev2, work.Width(), work.Height(), work.Depth());
      prev2.Exchange(prev);  // two calls back: the previous picture
      prev.Exchange(work);   // previous: this one; work: the old buffer
      break;
    default:
      prev.SetDepth(0);
      prev2.SetDepth(0);
      break;
  }
}

void RunHistory::Drop() {
  for (int chain = kChainY; chain < kChainCount; ++chain) {
    prev_[chain].SetDepth(0);
    prev2_[chain].SetDepth(0);
  }
  runLength_ = 0;
  breakRun_ = true;
}

}  // namespace tarvo
