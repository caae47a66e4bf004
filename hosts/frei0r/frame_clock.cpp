#include "frame_clock.h"

#include <cmath>

namespace tarvo::frei0r {

bool FrameClock::Usable(double time) { return std::isfinite(time) && std::fabs(time) <= kMaxUsableTime; }

bool FrameClock::IsRepeat(double time) const { return haveTime_ && Usable(time) && time == lastTime_; }

FrameClock::Tick FrameClock::Advance(bool continues) {
  if (!started_) {
    started_ = true;
    return {part_, false};
  }
  // A break skips one number; near the limit, start again from 0 (also a break).
  const int32_t stride = continues ? 1 : 2;
  if (part_ > kPartLimit - 2 - stride) {
    part_ = 0;
    return {part_, false};
  }
  part_ += stride;
  return {part_, continues};
}

FrameClock::Tick FrameClock::Next(double time) {
  if (!Usable(time)) {
    // Nothing to go by: count calls. The hosts that do this feed frames in order.
    haveTime_ = false;
    breakNext_ = false;
    return Advance(true);
  }
  if (!haveTime_) {
    // First usable time: the first call starts a run; after unusable times the
    // count simply goes on.
    haveTime_ = true;
    lastTime_ = time;
    return Advance(started_);
  }
  const double d = time - lastTime_;
  lastTime_ = time;
  bool continues = false;
  if (d == 0) {
    // A second, different picture at the same time (a re-render with other
    // input or settings, or one slice of a sliced frame). It does not follow
    // the previous picture, and the next time's picture does not follow it.
    breakNext_ = true;
    return Advance(false);
  }
  if (d > 0) {
    if (step_ == 0 || d < step_ * 0.75) {
      // The first difference sets the step; a clearly smaller one corrects a
      // first difference that spanned a skipped frame.
      step_ = d;
      continues = true;
    } else {
      continues = std::fabs(d - step_) <= step_ * 0.25;
    }
  }
  // d < 0: time went backwards (a seek, a loop, frames from several render
  // threads): the history belongs to a later frame, so the run breaks.
  if (breakNext_) {
    breakNext_ = false;
    continues = false;
  }
  return Advance(continues);
}

}  // namespace tarvo::frei0r
