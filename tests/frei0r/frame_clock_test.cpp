// The frame clock: which calls continue a temporal run, for the times real
// frei0r hosts pass.
#include "frame_clock.h"

#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace tarvo::frei0r {
namespace {

// Feeds the times and returns, per call, whether it continues the run; also
// checks that Part only ever increases and moves by 1 exactly on continuation.
std::vector<bool> Feed(FrameClock& clock, const std::vector<double>& times) {
  std::vector<bool> out;
  int32_t last = -1;
  for (double t : times) {
    const FrameClock::Tick tick = clock.Next(t);
    if (last >= 0) {
      EXPECT_GT(tick.part, last) << "time " << t;
      EXPECT_EQ(tick.part == last + 1, tick.continues) << "time " << t;
    }
    last = tick.part;
    out.push_back(tick.continues);
  }
  return out;
}

using V = std::vector<bool>;

TEST(FrameClock, MillisecondAndSecondStepsContinue) {
  FrameClock ms;  // FFmpeg: milliseconds, 29.97 fps with rounding noise
  EXPECT_EQ(Feed(ms, {0, 33.366666666666667, 66.733333333333334, 100.10000000000001, 133.46666666666667}),
            (V{false, true, true, true, true}));
  EXPECT_DOUBLE_EQ(ms.Step(), 33.366666666666667);
  FrameClock s;  // MLT: seconds from the in-point
  EXPECT_EQ(Feed(s, {0, 0.04, 0.08, 0.12, 0.16}), (V{false, true, true, true, true}));
}

TEST(FrameClock, GapsBackwardsAndSeeksBreak) {
  FrameClock c;
  // 40 ms steps; a dropped frame (120), a jump back (40), then in order again.
  EXPECT_EQ(Feed(c, {0, 40, 80, 160, 200, 40, 80, 120}), (V{false, true, true, false, true, false, true, true}));
}

TEST(FrameClock, GarbageTimeCountsCalls) {
  // FFmpeg 5.1 passes this for every frame whose line size is not width * 4.
  const double garbage = -3.6893488147419103e+20;
  FrameClock c;
  EXPECT_EQ(Feed(c, {garbage, garbage, garbage, garbage}), (V{false, true, true, true}));
  FrameClock n;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(Feed(n, {nan, inf, -inf, nan}), (V{false, true, true, true}));
  EXPECT_FALSE(n.IsRepeat(nan));
  EXPECT_FALSE(c.IsRepeat(garbage));  // garbage never looks like a paused re-render
}

TEST(FrameClock, RepeatedTimeWithNewPictureBreaksTwice) {
  FrameClock c;
  EXPECT_EQ(Feed(c, {0, 1}), (V{false, true}));
  EXPECT_TRUE(c.IsRepeat(1));
  EXPECT_FALSE(c.IsRepeat(2));
  // Two more pictures at time 1 (slices, or a re-render with other input):
  // neither follows, and the picture at time 2 does not follow the last one.
  EXPECT_EQ(Feed(c, {1, 1, 2, 3}), (V{false, false, false, true}));
}

TEST(FrameClock, InterleavedRenderThreadsBreakOutOfOrderFrames) {
  FrameClock c;
  // Two render threads' frames reaching one instance: 0 1 3 2 4 5 7 6 8.
  EXPECT_EQ(Feed(c, {0, .04, .12, .08, .16, .20, .28, .24, .32}),
            (V{false, true, false, false, false, true, false, false, false}));
}

TEST(FrameClock, FirstDifferenceOverAGapIsCorrected) {
  FrameClock c;
  // The host skipped a frame between the first two calls: the step 80 is
  // replaced by the smaller 40 as soon as it shows.
  EXPECT_EQ(Feed(c, {0, 80, 120, 160, 240}), (V{false, true, true, true, false}));
  EXPECT_DOUBLE_EQ(c.Step(), 40);
}

TEST(FrameClock, PartWrapsWithABreakBeforeTheLimit) {
  FrameClock c(FrameClock::kPartLimit - 4);
  EXPECT_EQ(c.Next(0).part, FrameClock::kPartLimit - 4);
  EXPECT_EQ(c.Next(1).part, FrameClock::kPartLimit - 3);
  EXPECT_EQ(c.Next(2).part, FrameClock::kPartLimit - 2);
  // The next number would come too close to the limit: back to 0, as a break.
  const FrameClock::Tick wrapped = c.Next(3);
  EXPECT_EQ(wrapped.part, 0);
  EXPECT_FALSE(wrapped.continues);
  EXPECT_TRUE(c.Next(4).continues);
  EXPECT_LT(FrameClock::kPartLimit, FrameClock::kTotal);
}

}  // namespace
}  // namespace tarvo::frei0r
