// Despeckle and limited medians on a full-HD luminance plane (1920 x 1080,
// Depth 1) and a 4:2:2 colour plane (960 x 1080, Depth 2): plain reference
// against the vectorised versions, with a memcpy of the same plane as the
// yardstick.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include "filters/despeckle.h"
#include "filters/median.h"
#include "planes/channel.h"
#include "util/cpu_features.h"

namespace tarvo {
namespace {

// A picture-like plane: a smooth ramp with some grain and a few specks.
void MakePlane(TChannel& p, int depth) {
  p.SetSize(depth == 1 ? 1920 : 960, 1080, depth);
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

enum Kind { kReference = 0, kSse2 = 1, kAvx2 = 2 };

void SetLevel(benchmark::State& state, int kind) {
  const KernelLevel want = kind == kAvx2 ? KernelLevel::Avx2 : KernelLevel::Sse2;
  SetKernelLevelCap(want);
  if (kind != kReference && ActiveKernelLevel() != want) state.SkipWithError("kernel level not available");
}

void Label(benchmark::State& state, int kind) {
  state.SetLabel(kind == kReference ? "reference" : kind == kSse2 ? "sse2" : "avx2");
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
  Label(state, kind);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(src.ByteSize()));
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
      for (int kind : {kReference, kSse2, kAvx2}) b->Args({depth, kind, strength});
}

void MedianArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"depth", "kind", "weighted"});
  for (int depth : {1, 2})
    for (int weighted : {0, 1})
      for (int kind : {kReference, kSse2, kAvx2}) b->Args({depth, kind, weighted});
}

BENCHMARK(BM_Memcpy)->ArgName("depth")->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Despeckle)->Apply(DespeckleArgs)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Median)->Apply(MedianArgs)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tarvo
