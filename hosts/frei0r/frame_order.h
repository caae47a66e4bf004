// Puts back in order the frames of one clip that several render threads
// bring at once.
//
// MLT renders in parallel (real_time below -1) by giving each render thread
// its own frei0r instance of a filter and handing the frames out to the
// threads in turn, so each instance would see only every second or fourth
// frame. The instances of one filter share one engine instead (see
// HostInstance), and each frame waits here until the frame before it has been
// processed, so that the history runs through the frames in order, as with
// one thread.
//
// A frame goes (Enter returns) when it is the earliest frame waiting, nothing
// else is being processed, and one of these holds:
//  - it follows the last processed frame by one step (the step is the
//    smallest difference between processed times; while it is unknown, a
//    frame follows when a later waiting frame is the same distance beyond
//    it), it is the first frame of the clip (time 0), or its time is not
//    after the last processed time (a frame again, or a jump back);
//  - every member (a thread's instance that brought a frame within the
//    limit) is waiting here, so nobody can bring the frames in between (a
//    seek, a gap, the start of a render in mid-clip): at once when the step
//    is known and no member has joined for a while (2 frames a member and
//    2 more), else after the warm-up bound (the other threads may not have
//    brought their first frame yet);
//  - it has waited for the limit: the missing frame is not coming (or is
//    very slow), and this frame starts a new run, as it would without
//    ordering.
// The clock of the shared instance then sees the frames in order and keeps
// the run exactly where one thread would.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

namespace tarvo::frei0r {

class FrameOrder {
 public:
  using Clock = std::chrono::steady_clock;
  struct Bounds {
    // How long the earliest frame waits, with every member waiting and the
    // step not yet known, for a thread that has not brought a frame yet.
    Clock::duration warmUp = std::chrono::seconds(2);
    // The longest any frame waits for the frame before it; also how long a
    // member counts as active after its last frame.
    Clock::duration limit = std::chrono::seconds(5);
  };

  FrameOrder() = default;
  explicit FrameOrder(Bounds bounds) : bounds_(bounds) {}

  // A member is one caller (a render thread's instance); it counts from its
  // first frame until it leaves or stays away longer than the limit.
  void Leave(const void* member);

  // Waits until the frame at `time`, brought by `member`, is next, and holds
  // the turn until Exit. Returns false when the frame went because the limit
  // expired.
  bool Enter(const void* member, double time);
  // The frame at `time` is processed (or failed): the turn passes on.
  void Exit(double time);

  // Test access.
  double Step() const;
  size_t Waiting() const;

 private:
  bool Ready(double time) const;
  bool CanGo(double time, Clock::time_point now, Clock::time_point arrival, bool& expired) const;

  const Bounds bounds_{};
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::multiset<double> waiting_;
  std::map<const void*, Clock::time_point> members_;  // member -> last frame brought
  bool busy_ = false;
  bool haveLast_ = false;
  double last_ = 0;
  double step_ = 0;  // 0 while unknown
  size_t processed_ = 0;        // frames processed
  size_t processedAtJoin_ = 0;  // frames processed when the last member joined
};

}  // namespace tarvo::frei0r
