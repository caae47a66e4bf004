// The order in which frames brought by several render threads are let
// through. A wrong "go" shows as a frame out of order; a wrong "wait" hangs
// until the bound, which these tests set far beyond any test's run time
// unless the bound itself is under test (Enter then reports the expiry).
#include "frame_order.h"

#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace tarvo::frei0r {
namespace {

using namespace std::chrono_literals;

constexpr double kStep = 0.04;  // 25 frames a second, in seconds as MLT passes them
double T(int frame) { return frame * kStep; }

// Each of `threads` threads takes the next frame number from a shared
// counter, as MLT's render threads take frames off its queue, sometimes after
// a pause, and brings it through the order. Returns the frames in the order
// they went.
std::vector<int> RunThreads(FrameOrder& order, int threads, int frames, uint32_t seed) {
  std::atomic<int> next{0};
  std::vector<int> went;
  std::atomic<int> expired{0};
  std::vector<std::thread> pool;
  for (int k = 0; k < threads; ++k) {
    pool.emplace_back([&, k] {
      std::mt19937 rng(seed + static_cast<uint32_t>(k));
      const int member = k;  // its address tells the threads apart
      for (int f; (f = next.fetch_add(1)) < frames;) {
        // The work before the filter takes a varying time.
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 400));
        if (!order.Enter(&member, T(f))) ++expired;
        went.push_back(f);  // the turn is exclusive
        order.Exit(T(f));
      }
    });
  }
  for (auto& t : pool) t.join();
  EXPECT_EQ(expired.load(), 0);
  return went;
}

TEST(FrameOrder, FramesFromSeveralThreadsGoInOrder) {
  for (int threads : {2, 4}) {
    for (uint32_t seed : {1u, 2u, 3u}) {
      SCOPED_TRACE(std::to_string(threads) + " threads, seed " + std::to_string(seed));
      // Until the step is known, frames wait out the warm-up for every
      // thread to have brought its first frame; the threads here start
      // within a millisecond.
      FrameOrder order({100ms, 1h});
      const std::vector<int> went = RunThreads(order, threads, 60, seed);
      ASSERT_EQ(went.size(), 60u);
      for (int f = 0; f < 60; ++f) EXPECT_EQ(went[static_cast<size_t>(f)], f);
      EXPECT_NEAR(order.Step(), kStep, 1e-12);
    }
  }
}

// One thread (MLT's real_time=-1): once the step is known, a seek, a gap or a
// jump back goes at once, as nobody else could bring the frames in between.
TEST(FrameOrder, OneThreadNeverWaitsOnceSettled) {
  FrameOrder order({1ms, 1h});
  int me = 0;
  for (int f = 0; f < 6; ++f) {
    EXPECT_TRUE(order.Enter(&me, T(f)));
    order.Exit(T(f));
  }
  for (int f : {50, 52, 20, 20, 21, 0}) {
    SCOPED_TRACE(f);
    EXPECT_TRUE(order.Enter(&me, T(f)));  // a wait would last the hour
    order.Exit(T(f));
  }
}

// Brings frames `from`..`to` as `member`, each going at once.
void Bring(FrameOrder& order, const int* member, int from, int to) {
  for (int f = from; f <= to; ++f) {
    EXPECT_TRUE(order.Enter(member, T(f))) << f;
    order.Exit(T(f));
  }
}

// A frame after a gap waits while another member may still bring the missing
// frame; when it never comes, the frame goes at the limit, and says so.
TEST(FrameOrder, MissingFrameFromAnotherThreadWaitsForTheLimit) {
  FrameOrder order({0ms, 200ms});
  int a = 0, b = 0;
  Bring(order, &b, 0, 2);
  Bring(order, &a, 3, 3);
  // b is away (with frame 4, say); a brings frame 5.
  EXPECT_FALSE(order.Enter(&a, T(5)));
  order.Exit(T(5));
  Bring(order, &a, 6, 6);
}

// A member that has left (its instance is gone) is no longer waited for.
TEST(FrameOrder, MemberThatLeftIsNotWaitedFor) {
  FrameOrder order({0ms, 1h});
  int a = 0, b = 0;
  Bring(order, &b, 0, 2);
  Bring(order, &a, 3, 3);
  order.Leave(&b);
  Bring(order, &a, 9, 9);
}

// A frame that arrives before the one in front of it waits for it, and
// frames go one at a time.
TEST(FrameOrder, LaterFrameWaitsForTheEarlierOneOnItsWay) {
  FrameOrder order({0ms, 1h});
  int a = 0, b = 0;
  Bring(order, &a, 0, 2);
  Bring(order, &b, 3, 3);
  // a is away with frame 4; b brings frame 5 and must wait for it.
  std::atomic<bool> bWent{false};
  std::thread tb([&] {
    EXPECT_TRUE(order.Enter(&b, T(5)));
    bWent = true;
    order.Exit(T(5));
  });
  while (order.Waiting() == 0) std::this_thread::sleep_for(1ms);
  EXPECT_FALSE(bWent.load());
  EXPECT_TRUE(order.Enter(&a, T(4)));
  EXPECT_FALSE(bWent.load());  // frame 4 holds the turn
  order.Exit(T(4));
  tb.join();
  EXPECT_TRUE(bWent.load());
}

}  // namespace
}  // namespace tarvo::frei0r
