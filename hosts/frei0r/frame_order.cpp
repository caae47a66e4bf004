#include "frame_order.h"

#include <cmath>

namespace tarvo::frei0r {

namespace {

// Two differences of frame times are one step apart when they agree within a
// quarter step (the same tolerance as the frame clock's).
bool SameStep(double d, double step) { return std::fabs(d - step) <= step * 0.25; }

}  // namespace

void FrameOrder::Leave(const void* member) {
  std::lock_guard lock(mutex_);
  members_.erase(member);
  changed_.notify_all();
}

bool FrameOrder::Ready(double time) const {
  if (!haveLast_) return time == 0;
  if (time <= last_) return true;
  const double d = time - last_;
  // Step unknown: nothing tells whether frames lie between the last one and
  // this one (waiting frames 2 and 4 after frame 0 may come every second
  // frame, or frame 1 may still be on its way), so only the members' rule
  // below lets it go.
  return step_ > 0 && SameStep(d, step_);
}

bool FrameOrder::CanGo(double time, Clock::time_point now, Clock::time_point arrival, bool& expired) const {
  expired = false;
  if (busy_ || waiting_.empty() || time != *waiting_.begin()) return false;
  if (Ready(time)) return true;
  if (now - arrival >= bounds_.limit) {
    expired = true;
    return true;
  }
  size_t active = 0;
  for (const auto& [member, seen] : members_)
    if (now - seen < bounds_.limit) ++active;
  if (waiting_.size() < active) return false;  // someone may bring the frames in between
  // Every member is here. Early on, a thread may not have brought its first
  // frame yet (and is no member), so the frame waits for the warm-up bound
  // until the step is known and no thread has joined for a while.
  const bool settled = haveLast_ && step_ > 0 && processed_ - processedAtJoin_ >= 2 * members_.size() + 2;
  return settled || now - arrival >= bounds_.warmUp;
}

bool FrameOrder::Enter(const void* member, double time) {
  std::unique_lock lock(mutex_);
  const Clock::time_point arrival = Clock::now();
  if (members_.find(member) == members_.end()) processedAtJoin_ = processed_;
  members_[member] = arrival;
  waiting_.insert(time);
  changed_.notify_all();  // a new frame may confirm the step for the earliest
  bool expired = false;
  for (;;) {
    const Clock::time_point now = Clock::now();
    if (CanGo(time, now, arrival, expired)) break;
    // Wake for the next bound, or when the state changes.
    const Clock::time_point next = now - arrival < bounds_.warmUp ? arrival + bounds_.warmUp : arrival + bounds_.limit;
    changed_.wait_until(lock, next > now ? next : now + bounds_.limit);
  }
  waiting_.erase(waiting_.find(time));
  busy_ = true;
  return !expired;
}

void FrameOrder::Exit(double time) {
  std::lock_guard lock(mutex_);
  if (haveLast_ && time > last_) {
    const double d = time - last_;
    // The first difference sets the step; a clearly smaller one replaces it.
    if (step_ == 0 || d < step_ * 0.75) step_ = d;
  }
  haveLast_ = true;
  last_ = time;
  ++processed_;
  busy_ = false;
  changed_.notify_all();
}

double FrameOrder::Step() const {
  std::lock_guard lock(mutex_);
  return step_;
}

size_t FrameOrder::Waiting() const {
  std::lock_guard lock(mutex_);
  return waiting_.size();
}

}  // namespace tarvo::frei0r
