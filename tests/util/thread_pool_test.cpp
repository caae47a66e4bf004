// The band runner's pool: every job runs once, the per-call limit holds,
// failures come back to the caller after the call's jobs end, and calls from
// several threads at once all complete.
#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "util/band_runner.h"
#include "util/thread_pool.h"

namespace tarvo {
namespace {

void Spin(int n) {
  std::atomic<int> spin{0};
  while (spin.fetch_add(1, std::memory_order_relaxed) < n) {
  }
}

struct Counts {
  std::vector<std::atomic<int>> runs;
  std::atomic<int> running{0};
  std::atomic<int> peak{0};
  explicit Counts(int n) : runs(static_cast<size_t>(n)) {}
};

void CountJob(void* c, int32_t index) {
  auto* k = static_cast<Counts*>(c);
  const int now = k->running.fetch_add(1) + 1;
  int peak = k->peak.load();
  while (now > peak && !k->peak.compare_exchange_weak(peak, now)) {
  }
  // Long enough for other threads to join in.
  Spin(20000);
  k->runs[static_cast<size_t>(index)].fetch_add(1);
  k->running.fetch_sub(1);
}

TEST(ThreadPool, EveryJobRunsOnceAndTheLimitHolds) {
  ThreadPool pool;
  pool.Reserve(4);
  EXPECT_EQ(pool.Workers(), std::min(4, ThreadPool::HardwareThreads()) - 1);
  for (int limit : {1, 2, 3, 7})
    for (int count : {0, 1, 2, 3, 5, 16, 64}) {
      SCOPED_TRACE("limit " + std::to_string(limit) + " count " + std::to_string(count));
      Counts k(count);
      pool.Run(count, CountJob, &k, limit);
      for (int i = 0; i < count; ++i) EXPECT_EQ(k.runs[static_cast<size_t>(i)].load(), 1) << "job " << i;
      EXPECT_LE(k.peak.load(), limit);
      EXPECT_EQ(k.running.load(), 0);
    }
}

TEST(ThreadPool, WorkersNeverExceedTheLargestRequestNorTheCores) {
  ThreadPool pool;
  EXPECT_EQ(pool.Workers(), 0);
  pool.Reserve(1);
  EXPECT_EQ(pool.Workers(), 0);
  pool.Reserve(64);
  const int32_t cap = ThreadPool::HardwareThreads() - 1;
  EXPECT_EQ(pool.Workers(), std::min(63, cap));
  pool.Reserve(2);  // never shrinks, never grows past the largest
  EXPECT_EQ(pool.Workers(), std::min(63, cap));
}

struct Failing {
  std::atomic<int> started{0};
  std::atomic<int> running{0};
  std::atomic<int> endedAfterThrow{0};
  std::atomic<bool> thrown{false};
};

void FailingJob(void* c, int32_t index) {
  auto* f = static_cast<Failing*>(c);
  f->started.fetch_add(1);
  f->running.fetch_add(1);
  if (index == 1) {
    f->thrown = true;
    f->running.fetch_sub(1);
    throw std::runtime_error("job 1 failed");
  }
  Spin(200000);
  if (f->thrown) f->endedAfterThrow.fetch_add(1);
  f->running.fetch_sub(1);
}

TEST(ThreadPool, AFailingJobIsRethrownAfterTheStartedJobsEnd) {
  ThreadPool pool;
  pool.Reserve(3);
  for (int limit : {1, 3}) {
    Failing f;
    try {
      pool.Run(40, FailingJob, &f, limit);
      ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "job 1 failed");
    }
    // Nothing of the call is still running when it returns, and the jobs
    // not yet started when job 1 failed were skipped.
    EXPECT_EQ(f.running.load(), 0);
    EXPECT_LT(f.started.load(), 40);
    EXPECT_GE(f.started.load(), 2);
  }
  // The pool still works afterwards.
  Counts k(9);
  pool.Run(9, CountJob, &k, 3);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(k.runs[static_cast<size_t>(i)].load(), 1);
}

TEST(ThreadPool, CallsFromSeveralThreadsAllComplete) {
  ThreadPool pool;
  pool.Reserve(3);
  constexpr int kCallers = 4, kRounds = 50;
  std::vector<std::thread> callers;
  std::atomic<int> wrong{0};
  for (int c = 0; c < kCallers; ++c)
    callers.emplace_back([&, c] {
      for (int r = 0; r < kRounds; ++r) {
        const int count = 1 + (c * 7 + r) % 13;
        std::vector<std::atomic<int>> runs(static_cast<size_t>(count));
        pool.Run(
            count, [](void* ctx, int32_t i) { (*static_cast<std::vector<std::atomic<int>>*>(ctx))[i].fetch_add(1); },
            &runs, 1 + c % 3);
        for (auto& n : runs)
          if (n.load() != 1) wrong.fetch_add(1);
      }
    });
  for (std::thread& t : callers) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(PoolRunner, ThreadCountIsTheParallelismAndZeroMeansEveryCore) {
  ThreadPool pool;
  PoolRunner runner(pool);
  EXPECT_EQ(runner.Parallelism(), 1);
  runner.SetThreads(7);
  EXPECT_EQ(runner.Threads(), 7);
  EXPECT_EQ(runner.Parallelism(), 7);
  runner.SetThreads(0);
  EXPECT_EQ(runner.Threads(), ThreadPool::HardwareThreads());
  // Bands cut by the runner cover every row once, whatever the count.
  for (int32_t bands : {1, 2, 3, 7, 64})
    for (int32_t rows : {1, 2, 5, 63, 1080}) {
      runner.SetThreads(bands);
      std::vector<std::atomic<int>> hits(static_cast<size_t>(rows));
      ForEachBand(runner, rows, runner.Parallelism(), [&](RowRange r) {
        EXPECT_LT(r.begin, r.end);
        for (int32_t y = r.begin; y < r.end; ++y) hits[static_cast<size_t>(y)].fetch_add(1);
      });
      for (auto& h : hits) EXPECT_EQ(h.load(), 1);
    }
}

TEST(BandRunner, SpanInBandCutsALinearRangeAtRowEdges) {
  // Rows of 10 samples; the range 11 .. 88 (one past).
  EXPECT_EQ(SpanInBand({0, 1}, 10, 11, 88).Empty(), true);
  const LinearSpan first = SpanInBand({0, 2}, 10, 11, 88);
  EXPECT_EQ(first.a, 11);
  EXPECT_EQ(first.b, 20);
  const LinearSpan last = SpanInBand({8, 10}, 10, 11, 88);
  EXPECT_EQ(last.a, 80);
  EXPECT_EQ(last.b, 88);
}

}  // namespace
}  // namespace tarvo
