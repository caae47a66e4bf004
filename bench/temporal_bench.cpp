// Temporal smoothing on a full HD luminance plane (Depth 1) and a 4:2:2
// colour-difference plane (960 x 1080, Depth 2): the plain filter, the
// optimised one, and memcpy of the same plane as the yardstick.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "filters/temporal.h"

namespace {

using tarvo::TChannel;
using tarvo::TemporalSettings;

// A textured picture and a history that differs from it by small noise in
// most samples and by motion in a fifth of the area, so that every branch is
// taken.
struct Inputs {
  TChannel work, history, pristineWork, pristineHistory;
  Inputs(int w, int h, int depth) {
    for (TChannel* c : {&work, &history, &pristineWork, &pristineHistory}) c->SetSize(w, h, depth);
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> noise(-9, 9), move(-60, 60), pick(0, 15);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int i = y * w + x;
        const bool moving = ((x / 64) + (y / 64)) % 5 == 0;
        const int delta = moving ? move(rng) : noise(rng);
        if (depth == 1) {
          const int v = 40 + (x * 7 + y * 3) % 180 + noise(rng);
          pristineWork.Data()[i] = static_cast<uint8_t>(v);
          pristineHistory.Data()[i] = static_cast<uint8_t>(std::clamp(v + delta, 0, 255));
        } else {
          const int v = ((x * 13 + y * 5) % 400) - 200 + noise(rng);
          pristineWork.Data16()[i] = static_cast<int16_t>(v);
          pristineHistory.Data16()[i] = static_cast<int16_t>(v + delta);
        }
      }
  }
  void Restore() {
    work.CopyFrom(pristineWork);
    history.CopyFrom(pristineHistory);
  }
};

Inputs& Plane(int depth) {
  static Inputs luma(1920, 1080, 1);
  static Inputs chroma(960, 1080, 2);
  return depth == 1 ? luma : chroma;
}

template <void (*Fn)(TChannel&, TChannel&, const TemporalSettings&, bool)>
void BM_Temporal(benchmark::State& state) {
  Inputs& in = Plane(static_cast<int>(state.range(0)));
  TemporalSettings s;
  s.threshold = static_cast<int>(state.range(2));
  s.recursion = 50;
  s.onset = 20;
  s.limit = 50;
  s.response = 50;
  s.flags = static_cast<int>(state.range(1));
  for (auto _ : state) {
    state.PauseTiming();
    in.Restore();
    state.ResumeTiming();
    Fn(in.work, in.history, s, true);
    benchmark::DoNotOptimize(in.work.Data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in.work.ByteSize()));
}

void BM_MemcpyPlane(benchmark::State& state) {
  Inputs& in = Plane(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::memcpy(in.work.Data(), in.pristineWork.Data(), in.work.ByteSize());
    benchmark::DoNotOptimize(in.work.Data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in.work.ByteSize()));
}

// Threshold 10 (T = 12) is a typical setting; 60 (T = 73) takes the wide
// tables of large thresholds with motion detection.
void Args(benchmark::internal::Benchmark* b) {
  b->ArgNames({"depth", "flags", "threshold"});
  for (int depth : {1, 2}) {
    for (int flags = 0; flags <= 3; ++flags) b->Args({depth, flags, 10});
    for (int flags : {1, 3}) b->Args({depth, flags, 60});
  }
  b->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_MemcpyPlane)->ArgName("depth")->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Temporal, tarvo::TemporalSmoothReference)->Name("BM_TemporalReference")->Apply(Args);
BENCHMARK_TEMPLATE(BM_Temporal, tarvo::TemporalSmooth)->Name("BM_TemporalOptimised")->Apply(Args);

}  // namespace
