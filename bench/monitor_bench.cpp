// The monitors: the scale build, accumulation and rendering of one
// 240 x 180 monitor frame, and one whole preview render of the dialog (the
// typical record in dialog mode with the monitors fed and drawn).
#include <cstring>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench_records.h"
#include "host/pipeline.h"
#include "monitor/graticule.h"
#include "monitor/monitor.h"
#include "platform/host_services.h"

namespace tarvo::bench {
namespace {

constexpr int kW = monitor::kFrameWidth, kH = monitor::kFrameHeight;

monitor::ScaleLevels Levels() {
  monitor::ScaleLevels l;
  l.clipVmin = 0;
  l.clipVmax = 255;
  l.clipVblack = 16;
  l.prefBlack = 16;
  l.prefWhite = 235;
  return l;
}

// Arg 0: the small sizes (WFM90 and VEC90), 1: the large ones.
void BM_MonitorScaleBuild(benchmark::State& s) {
  monitor::Monitors m;
  const bool large = s.range(0) != 0;
  for (auto _ : s) {
    m.ScaleBuild(Levels(), large, large);
    benchmark::DoNotOptimize(m.Waveform().row[0]);
  }
}

// What the output conversion hands over for one frame: a spread of levels and
// colour differences.
struct Pixels {
  std::vector<int32_t> level, u, v;
  Pixels() {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> lv(0, 255), c(-120, 120);
    for (int i = 0; i < kW * kH; ++i) {
      level.push_back(lv(rng));
      u.push_back(c(rng));
      v.push_back(c(rng));
    }
  }
};

void BM_MonitorAccumulateAndRender(benchmark::State& s) {
  monitor::Monitors m;
  const bool large = s.range(0) != 0;
  m.ScaleBuild(Levels(), large, large);
  const monitor::Graticules g = monitor::MakeGraticules(false);
  const Pixels p;
  monitor::MonitorImage wf, vs;
  for (auto _ : s) {
    MonitorSink& sink = m;
    for (int i = 0; i < kW * kH; ++i) sink.Accumulate(p.level[i], p.u[i], p.v[i], i % kW);
    m.RenderWaveform(g, wf);
    m.RenderVectorscope(g, vs);
    benchmark::DoNotOptimize(wf.pixels.data());
    benchmark::DoNotOptimize(vs.pixels.data());
  }
  s.SetItemsProcessed(s.iterations() * kW * kH);
}

// One preview render: the typical record on the 240 x 180 work image in
// dialog mode, the monitors fed by the output conversion, then the large
// waveform and small vectorscope drawn (the waveform view).
void BM_PreviewRender(benchmark::State& s) {
  Notifier notifier;
  Pipeline pipe(notifier);
  OwnedHandle specs(InProcessHost().NewHandle(kSpecsSize));
  *reinterpret_cast<TSpecs*>(*specs.get()) = TypicalRecord();
  CallState call;
  call.inSetup = true;
  call.total = 100;
  std::vector<uint8_t> src(static_cast<size_t>(kW) * kH * 4), dst(src.size());
  std::mt19937 rng(3);
  for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>((i / 4 % kW) + (rng() & 31));
  TPixBuffer sb{}, db{};
  sb.Bounds = db.Bounds = TRect{0, 0, kW, kH};
  sb.RowBytes = db.RowBytes = kW * 4;
  sb.Pixels = src.data();
  db.Pixels = dst.data();
  TPixBuffer* sp = &sb;
  TPixBuffer* dp = &db;
  monitor::Monitors m;
  m.ScaleBuild(Levels(), true, false);
  const monitor::Graticules g = monitor::MakeGraticules(false);
  monitor::MonitorImage wf, vs;
  pipe.SetMonitorSink(&m);
  call.changed = true;  // the first render builds the level tables
  pipe.Render(&sp, &dp, specs.get(), true, call);
  for (auto _ : s) {
    call.changed = false;
    pipe.Render(&sp, &dp, specs.get(), true, call);
    m.RenderWaveform(g, wf);
    m.RenderVectorscope(g, vs);
    benchmark::DoNotOptimize(dst.data());
  }
}

BENCHMARK(BM_MonitorScaleBuild)->Arg(0)->Arg(1);
BENCHMARK(BM_MonitorAccumulateAndRender)->Arg(0)->Arg(1);
BENCHMARK(BM_PreviewRender);

}  // namespace
}  // namespace tarvo::bench
