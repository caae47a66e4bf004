// Band runners for tests: one that runs every job on a thread of its own, and
// one that runs the jobs on the calling thread in reverse or shuffled order
// while claiming any parallelism. Out-of-order runs find a missing barrier or
// a band that reads rows another band writes deterministically; the threaded
// one lets the thread sanitizer see the real races. Header only; needs
// nothing but the processing core.
#pragma once

#include <algorithm>
#include <cstdint>
#include <exception>
#include <mutex>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

#include "util/band_runner.h"

namespace tarvo::test {

// Every job of a call on a std::thread of its own.
class ThreadRunner final : public BandRunner {
 public:
  explicit ThreadRunner(int32_t parallelism) : parallelism_(parallelism) {}
  int32_t Parallelism() const override { return parallelism_; }
  void Run(int32_t count, Job job, void* context) const override {
    std::exception_ptr failure;
    std::mutex lock;
    std::vector<std::thread> threads;
    threads.reserve(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i)
      threads.emplace_back([&, i] {
        try {
          job(context, i);
        } catch (...) {
          std::lock_guard<std::mutex> hold(lock);
          if (!failure) failure = std::current_exception();
        }
      });
    for (std::thread& t : threads) t.join();
    if (failure) std::rethrow_exception(failure);
  }

 private:
  int32_t parallelism_;
};

// The jobs one after another on the calling thread: last first, or in an
// order shuffled anew by every call (seeded, so a failure replays).
class OrderedRunner final : public BandRunner {
 public:
  enum class Order { kReverse, kShuffled };
  OrderedRunner(int32_t parallelism, Order order, uint32_t seed = 1)
      : parallelism_(parallelism), order_(order), rng_(seed) {}
  int32_t Parallelism() const override { return parallelism_; }
  void Run(int32_t count, Job job, void* context) const override {
    std::vector<int32_t> order(static_cast<size_t>(count));
    std::iota(order.begin(), order.end(), 0);
    if (order_ == Order::kReverse)
      std::reverse(order.begin(), order.end());
    else
      std::shuffle(order.begin(), order.end(), rng_);
    for (int32_t i : order) job(context, i);
  }

 private:
  int32_t parallelism_;
  Order order_;
  mutable std::mt19937 rng_;
};

}  // namespace tarvo::test
