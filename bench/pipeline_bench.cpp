// The whole Final chain on HD and SD frames with three records, plus Draft,
// Bypass and a plain frame copy for scale. Consecutive iterations render
// consecutive frames of one clip, so temporal smoothing runs on a valid
// history. Items per second = frames per second; "pixels" = pixels per
// second.
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench_records.h"

namespace tarvo::bench {
namespace {

constexpr int kPool = 4;  // distinct source frames, cycled

struct Frames {
  std::vector<std::vector<uint8_t>> sources;
  std::vector<uint8_t> destination;
  Frames(int w, int h) : destination(static_cast<size_t>(w) * h * 4) {
    for (int i = 0; i < kPool; ++i) sources.push_back(SyntheticFrame(w, h, i));
  }
};

void RunRecord(benchmark::State& state, const TSpecs& specs, int32_t opMode, int threads = 1) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  Frames frames(w, h);
  Renderer renderer(specs, opMode, threads);
  // Two frames first: the planes get their sizes and the history its picture.
  renderer.Render(frames.sources[0].data(), frames.destination.data(), w, h);
  renderer.Render(frames.sources[1].data(), frames.destination.data(), w, h);
  int i = 2;
  for (auto _ : state) {
    renderer.Render(frames.sources[i % kPool].data(), frames.destination.data(), w, h);
    benchmark::DoNotOptimize(frames.destination.data());
    ++i;
  }
  if (opMode == kOpFinal && (specs.TempYThreshold > 0) && !renderer.pipeline().LastHistoryValid())
    state.SkipWithError("temporal smoothing did not run");
  state.SetItemsProcessed(state.iterations());
  // Pixels per second, to compare the cost per pixel across frame sizes.
  state.counters["pixels"] = benchmark::Counter(static_cast<double>(w) * h, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_PipelineLight(benchmark::State& s) { RunRecord(s, LightRecord(), kOpFinal); }
void BM_PipelineTypical(benchmark::State& s) { RunRecord(s, TypicalRecord(), kOpFinal); }
void BM_PipelineHeavy(benchmark::State& s) { RunRecord(s, HeavyRecord(), kOpFinal); }
// Every stage in row bands on the thread count of the third
// argument (results identical); real time counts here, not processor time.
void BM_PipelineTypicalThreads(benchmark::State& s) {
  RunRecord(s, TypicalRecord(), kOpFinal, static_cast<int>(s.range(2)));
}
void BM_PipelineHeavyThreads(benchmark::State& s) {
  RunRecord(s, HeavyRecord(), kOpFinal, static_cast<int>(s.range(2)));
}
void BM_PipelineDraft(benchmark::State& s) { RunRecord(s, LightRecord(), kOpDraft); }
void BM_PipelineBypass(benchmark::State& s) { RunRecord(s, LightRecord(), kOpBypass); }

void BM_FrameMemcpy(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0)) * state.range(1) * 4;
  std::vector<uint8_t> a(n, 1), b(n);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), n);
    benchmark::DoNotOptimize(b.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

#define SIZES ->Args({1920, 1080})->Args({720, 576})->Unit(benchmark::kMillisecond)
BENCHMARK(BM_PipelineLight) SIZES;
// UHD and DCI 4K beside full HD: the cost per pixel should not grow with the
// frame.
#define LARGE ->Args({3840, 2160})->Args({4096, 2160})
BENCHMARK(BM_PipelineTypical) SIZES LARGE;
BENCHMARK(BM_PipelineHeavy) SIZES LARGE;
BENCHMARK(BM_PipelineDraft) SIZES;
#define THREADS ->Args({1920, 1080, 1})->Args({1920, 1080, 2})->Unit(benchmark::kMillisecond)->UseRealTime()
BENCHMARK(BM_PipelineTypicalThreads) THREADS;
BENCHMARK(BM_PipelineHeavyThreads) THREADS;
BENCHMARK(BM_PipelineBypass) SIZES;
BENCHMARK(BM_FrameMemcpy) SIZES;

}  // namespace
}  // namespace tarvo::bench
