// The setup dialog's whole render cycle for one preview tick: the controls
// stored into the record, the plug-in's pipeline on the 240 x 180 work image
// with the typical record and the monitors fed, the waveform and vectorscope
// drawn over their graticules and the picture drawn into its panel, in each
// of the three panel layouts. Runs on the offscreen platform.
#include <QApplication>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>

#include <benchmark/benchmark.h>

#include "bench_records.h"
#include "host/pipeline.h"
#include "options/option_store.h"
#include "options/options.h"
#include "platform/host_services.h"
#include "types/call_record.h"
#include "ui/setup/preview_buffers.h"
#include "ui/setup/preview_cycle.h"
#include "ui/setup/tsetup.h"

namespace tarvo::bench {
namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "preview_bench";
  static char* argv[] = {name, nullptr};
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static QApplication app(argc, argv);
  return app;
}

// The plug-in's side of the render callback: its pipeline in dialog mode.
struct Renderer {
  Notifier notifier;
  Pipeline pipeline{notifier};
  CallState call;
  TSpecs* live = nullptr;
  TSpecs last{};
  bool rendered = false;

  static void Render(void* context, PixBufferHandle source, PixBufferHandle destination, bool dialog,
                     MonitorSink* sink) {
    auto* r = static_cast<Renderer*>(context);
    if (!r->rendered || !SpecsEqual(*r->live, r->last)) {
      r->call.changed = true;
      r->last = *r->live;
      r->rendered = true;
    }
    uint8_t* bytes = reinterpret_cast<uint8_t*>(r->live);
    r->pipeline.SetMonitorSink(dialog ? sink : nullptr);
    r->pipeline.Render(source, destination, &bytes, dialog, r->call);
  }
};

// Arg: the monitor view (0 picture, 1 waveform, 2 vectorscope).
void BM_DialogRenderCycle(benchmark::State& state) {
  App();
  TSpecs live = TypicalRecord();
  live.MonitorView = static_cast<int16_t>(state.range(0));
  TSpecs previous = live, defaults = BuiltInDefaultSpecs();
  TFilterCallRecord record{};
  record.Total = 100;
  MemoryOptionStore store;
  Options options;
  bool changed = false;
  Renderer renderer;
  renderer.call.inSetup = true;
  renderer.call.total = 100;
  renderer.live = &live;

  ui::SetupCall call;
  call.specs = &live;
  call.previous = &previous;
  call.defaults = &defaults;
  call.call = &record;
  call.host = &InProcessHost();
  call.store = &store;
  call.options = &options;
  call.changed = &changed;
  call.render = &Renderer::Render;
  call.renderContext = &renderer;

  ui::PreviewBuffers buffers(InProcessHost(), &record);
  // A busy picture: a gradient with noise.
  TPixBuffer& work = *buffers.Work();
  std::mt19937 rng(11);
  for (int32_t y = 0; y < FrameHeight(work); ++y)
    for (int32_t x = 0; x < FrameWidth(work); ++x) {
      uint8_t* p = work.Pixels + y * FrameStride(work) + x * 4;
      p[0] = static_cast<uint8_t>(x + (rng() & 15));
      p[1] = static_cast<uint8_t>(y + (rng() & 15));
      p[2] = static_cast<uint8_t>((x + y) / 2 + (rng() & 15));
      p[3] = 0;
    }
  auto dialog = std::make_unique<ui::TSetup>(call);
  dialog->AttachBuffers(&buffers);
  dialog->Logic().Activate();
  for (auto _ : state) {
    dialog->Preview().Render();
    benchmark::DoNotOptimize(buffers.Display()->Pixels[0]);
  }
  dialog.reset();
}

BENCHMARK(BM_DialogRenderCycle)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tarvo::bench
