// Turns the time a frei0r host passes with each frame into the frame number
// (Part) the engine's run detection works on.
//
// Hosts differ: one passes milliseconds, another seconds from the filter's
// in-point, one passes a garbage time for some frame sizes, and an editor may
// render frames out of order or the same frame again while paused. So the time
// is a continuity hint, not a frame number to trust:
//
//  - the frame step is the first positive difference between two times (a
//    later, clearly smaller difference replaces it);
//  - a call whose time is one step after the previous call's continues the
//    run: Part goes up by one;
//  - anything else (a gap, time going backwards, a second picture at the same
//    time, the call after such a second picture) breaks the run: Part jumps by
//    two, which the engine treats exactly as a jump in the host's frame number;
//  - a time that is not finite or absurdly large carries no information: the
//    clock then counts calls, and each call continues the run.
//
// Part always increases, so it never repeats a number the engine saw before.
// A repeated time with an unchanged picture does not reach the clock at all:
// the adapter answers it from its cache without touching the history.
#pragma once

#include <cstdint>

namespace tarvo::frei0r {

class FrameClock {
 public:
  // Part wraps back to 0 (with a break) before it reaches this value, so the
  // engine's "previous part + 1" never overflows.
  static constexpr int32_t kPartLimit = 1 << 30;
  // The Total handed to the engine with every call; constant for the clip.
  static constexpr int32_t kTotal = kPartLimit + 2;

  struct Tick {
    int32_t part = 0;
    bool continues = false;  // the call continues the previous call's run
  };

  FrameClock() = default;
  // Starts counting at `firstPart` instead of 0 (tests of the wrap).
  explicit FrameClock(int32_t firstPart) : part_(firstPart) {}

  // True when `time` is a usable time equal to the previous call's.
  bool IsRepeat(double time) const;

  // Accounts for one rendered call and returns its Part.
  Tick Next(double time);
  // A new run at the time of the previous call: the next Part after a break,
  // without taking a time (a picture of the same frame rendered again, larger).
  Tick Restart() { return Advance(false); }

  // The frame step derived so far (0 while unknown).
  double Step() const { return step_; }

  // Times whose magnitude exceeds this are taken as garbage (about 31700
  // years in milliseconds).
  static constexpr double kMaxUsableTime = 1e15;
  static bool Usable(double time);

 private:
  Tick Advance(bool continues);

  bool started_ = false;
  bool haveTime_ = false;  // lastTime_ holds a usable time
  double lastTime_ = 0;
  double step_ = 0;
  bool breakNext_ = false;  // the previous time had more than one picture
  int32_t part_ = 0;
};

}  // namespace tarvo::frei0r
