// Despeckle and limited medians on a full-HD luminance plane (1920 x 1080,
// Depth 1) and a 4:2:2 colour plane (960 x 1080, Depth 2): plain reference
// against the vectorised versions, with a memcpy of the same plane as the
// yardstick.
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "filters/despeckle.h"
#include "filters/kernel_set.h"
#include "filters/median.h"
#include "planes/channel.h"
#include "util/band_runner.h"
#include "util/cpu_features.h"

namespace tarvo {
namespace {

// A picture-like plane: a smooth ramp with some grain and a few specks. Depth
// 1 is a full-HD luminance plane, Depth 2 a 4:2:2 colour plane, or a 4:4:4 one
// (as wide as the luminance) with `fullWidth`.
void MakePlane(TChannel& p, int depth, bool fullWidth = false) {
  p.SetSize(depth == 1 || fullWidth ? 1920 : 960, 1080, depth);
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> grain(-6, 6), speck(0, 199);
  for (int y = 0; y < p.Height(); ++y)
    for (int x = 0; x < p.Width(); ++x) {
      int v = 40 + (x + y) * 160 / (p.Width() + p.Height()) + grain(rng);
      if (speck(rng) == 0) v += 60;
      const int i = y * p.Width() + x;
      if (depth == 1)
        p.Data()[i] = static_cast<uint8_t>(v);
      else
        p.Data16()[i] = static_cast<int16_t>((v - 128) * 2);
    }
}

// The forms that take the kernels of the active level, as plain pointers.
constexpr void (*kDespeckle)(const TChannel&, TChannel&, int) = Despeckle;
constexpr void (*kPlainMedian)(const TChannel&, TChannel&, int, int) = PlainMedian;
constexpr void (*kWeightedMedian)(const TChannel&, TChannel&, int, int) = WeightedMedian;

enum Kind { kReference = 0, kSse2 = 1, kAvx2 = 2, kAvx512 = 3 };

void SetLevel(benchmark::State& state, int kind) {
  const KernelLevel want = kind >= kAvx2 ? KernelLevel::Avx2 : KernelLevel::Sse2;
  SetKernelLevelCap(want);
  AllowWideVectors(kind == kAvx512);
  if (kind != kReference && ActiveKernelLevel() != want) state.SkipWithError("kernel level not available");
  if (kind == kAvx512 && !ActiveKernelSet().wide) state.SkipWithError("512-bit kernels not available");
}

void Label(benchmark::State& state, int kind) {
  state.SetLabel(kind == kReference ? "reference" : kind == kSse2 ? "sse2" : kind == kAvx2 ? "avx2" : "avx512");
}

// Args: depth, kind, strength.
void BM_Despeckle(benchmark::State& state) {
  const int depth = static_cast<int>(state.range(0)), kind = static_cast<int>(state.range(1));
  const int strength = static_cast<int>(state.range(2));
  TChannel src, dst;
  MakePlane(src, depth);
  dst.SizeLike(src);
  SetLevel(state, kind);
  for (auto _ : state) {
    (kind == kReference ? DespeckleReference : kDespeckle)(src, dst, strength);
    benchmark::DoNotOptimize(dst.Data());
    benchmark::ClobberMemory();
  }
  SetKernelLevelCap(KernelLevel::Avx2);
  AllowWideVectors(true);
  Label(state, kind);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(src.ByteSize()));
}

// Args: depth, kind, weighted.
void BM_Median(benchmark::State& state) {
  const int depth = static_cast<int>(state.range(0)), kind = static_cast<int>(state.range(1));
  const bool weighted = state.range(2) != 0;
  TChannel src, dst;
  MakePlane(src, depth);
  dst.SizeLike(src);
  SetLevel(state, kind);
  auto fn = kind == kReference ? (weighted ? WeightedMedianReference : PlainMedianReference)
                               : (weighted ? kWeightedMedian : kPlainMedian);
  for (auto _ : state) {
    fn(src, dst, 20, 2);
    benchmark::DoNotOptimize(dst.Data());
    benchmark::ClobberMemory();
  }
  SetKernelLevelCap(KernelLevel::Avx2);
  AllowWideVectors(true);
  Label(state, kind);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(src.ByteSize()));
}

// A small runner for the benchmark: threads - 1 workers kept across calls,
// the calling thread taking jobs too. Workers sleep between calls, so a call
// costs a wake-up, as with any pool that does not spin. It claims `claimed`
// parallelism (threads unless given), so that one thread can run the bands
// of a two-band cut one after the other.
class BenchRunner final : public BandRunner {
 public:
  explicit BenchRunner(int threads, int claimed = 0) : threads_(threads), claimed_(claimed > 0 ? claimed : threads) {
    for (int i = 1; i < threads; ++i) workers_.emplace_back([this] { Work(); });
  }
  ~BenchRunner() override {
    {
      std::lock_guard<std::mutex> hold(lock_);
      stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : workers_) t.join();
  }
  int32_t Parallelism() const override { return claimed_; }
  void Run(int32_t count, Job job, void* context) const override {
    {
      std::unique_lock<std::mutex> hold(lock_);
      // A worker still inside the previous call would take jobs of this one
      // with that call's function: wait until every worker has left it.
      done_wake_.wait(hold, [&] { return active_ == 0; });
      job_ = job;
      context_ = context;
      count_ = count;
      next_.store(0);
      done_ = 0;
      ++generation_;
    }
    wake_.notify_all();
    const int32_t mine = Take(job, context, count);
    std::unique_lock<std::mutex> hold(lock_);
    done_ += mine;
    done_wake_.wait(hold, [&] { return done_ == count; });
  }

 private:
  int32_t Take(Job job, void* context, int32_t count) const {
    int32_t n = 0;
    for (int32_t i; (i = next_.fetch_add(1)) < count; ++n) job(context, i);
    return n;
  }
  void Work() {
    uint64_t seen = 0;
    for (;;) {
      Job job;
      void* context;
      int32_t count;
      {
        std::unique_lock<std::mutex> hold(lock_);
        wake_.wait(hold, [&] { return stop_ || generation_ != seen; });
        if (stop_) return;
        seen = generation_;
        job = job_, context = context_, count = count_;
        ++active_;
      }
      const int32_t mine = Take(job, context, count);
      {
        std::lock_guard<std::mutex> hold(lock_);
        done_ += mine;
        --active_;
      }
      done_wake_.notify_all();
    }
  }

  int threads_, claimed_;
  std::vector<std::thread> workers_;
  mutable std::mutex lock_;
  mutable std::condition_variable wake_, done_wake_;
  mutable Job job_ = nullptr;
  mutable void* context_ = nullptr;
  mutable int32_t count_ = 0, done_ = 0;
  mutable int active_ = 0;
  mutable uint64_t generation_ = 0;
  mutable std::atomic<int32_t> next_{0};
  bool stop_ = false;
};

// Banded despeckle of the full-HD luminance plane (Depth 1) or a colour plane
// (Depth 2: 4:2:2, or 4:4:4 with "full") at the best level this CPU runs, on 1
// or 2 threads (1 takes the whole-plane path; 0 runs the two bands of the
// 2-thread cut one after the other on one thread, which shows the cost of the
// banded kernels against the whole-plane ones). "redundant" is the share of
// pass work the band halos add.
// Args: depth, strength, threads, in place, full.
void BM_DespeckleThreads(benchmark::State& state) {
  const int depth = static_cast<int>(state.range(0)), strength = static_cast<int>(state.range(1));
  const int threads = static_cast<int>(state.range(2));
  const bool inPlace = state.range(3) != 0;
  TChannel src, dst, spare;
  MakePlane(src, depth, state.range(4) != 0);
  dst.SizeLike(src);
  dst.CopyFrom(src);
  const BenchRunner runner(threads == 0 ? 1 : threads, threads == 0 ? 2 : threads);
  const noise::Kernels& kernels = *ActiveKernelSet().noise;
  for (auto _ : state) {
    Despeckle(inPlace ? dst : src, dst, strength, kernels, runner, spare);
    benchmark::DoNotOptimize(dst.Data());
    benchmark::ClobberMemory();
  }
  const DespecklePlan plan = PlanDespeckle(src.Width(), src.Height(), depth, strength, runner.Parallelism(), inPlace);
  state.counters["bands"] = plan.groups == 0 ? 1 : plan.bands;
  state.counters["sweeps"] = plan.groups;
  state.counters["halos"] = plan.halos;
  state.counters["redundant"] = plan.redundant;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(src.ByteSize()));
}

// Whole-plane despeckle at one thread on planes of a frame's width and
// height (Depth 1: luminance; Depth 2: a 4:4:4 colour plane), to compare the
// cost per sample across frame sizes. Items are samples.
// Args: width, height, depth, strength.
void BM_DespeckleSize(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const int depth = static_cast<int>(state.range(2)), strength = static_cast<int>(state.range(3));
  TChannel src, dst;
  src.SetSize(w, h, depth);
  uint32_t r = 12345;
  for (size_t i = 0; i < src.ByteSize(); ++i) {
    r ^= r << 13;
    r ^= r >> 17;
    r ^= r << 5;
    src.Data()[i] = static_cast<uint8_t>(depth == 1 ? 100 + (r & 31) : ((i & 1) ? 0 : r & 63));
  }
  dst.SizeLike(src);
  const noise::Kernels& kernels = *ActiveKernelSet().noise;
  for (auto _ : state) {
    Despeckle(src, dst, strength, kernels);
    benchmark::DoNotOptimize(dst.Data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * w * h);
}

void BM_Memcpy(benchmark::State& state) {
  TChannel src, dst;
  MakePlane(src, static_cast<int>(state.range(0)));
  dst.SizeLike(src);
  for (auto _ : state) {
    std::memcpy(dst.Data(), src.Data(), src.ByteSize());
    benchmark::DoNotOptimize(dst.Data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(src.ByteSize()));
}

void DespeckleArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"depth", "kind", "strength"});
  for (int depth : {1, 2})
    for (int strength = 1; strength <= 4; ++strength)
      for (int kind : {kReference, kSse2, kAvx2, kAvx512}) b->Args({depth, kind, strength});
}

void MedianArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"depth", "kind", "weighted"});
  for (int depth : {1, 2})
    for (int weighted : {0, 1})
      for (int kind : {kReference, kSse2, kAvx2, kAvx512}) b->Args({depth, kind, weighted});
}

BENCHMARK(BM_Memcpy)->ArgName("depth")->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Despeckle)->Apply(DespeckleArgs)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Median)->Apply(MedianArgs)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DespeckleSize)
    ->ArgNames({"w", "h", "depth", "strength"})
    ->ArgsProduct({{1920}, {1080}, {1, 2}, {2, 4}})
    ->ArgsProduct({{3840, 4096}, {2160}, {1, 2}, {2, 4}})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DespeckleThreads)
    ->ArgNames({"depth", "strength", "threads", "inplace", "full"})
    ->ArgsProduct({{1}, {2, 4}, {1, 0, 2}, {0, 1}, {0}})
    ->ArgsProduct({{2}, {4}, {1, 0, 2}, {1}, {0}})
    ->ArgsProduct({{2}, {2, 4}, {1, 0, 2}, {0, 1}, {1}})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tarvo
