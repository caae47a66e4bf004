// Drawing a test pattern into a 720 x 576 frame, with and without the line
// filter, and the line filter alone.
#include <benchmark/benchmark.h>

#include <vector>

#include "siggen/siggen.h"

namespace {

using namespace tarvo;

void BM_DrawTestSignal(benchmark::State& state) {
  const int w = 720, h = 576;
  std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 4);
  TPixBuffer frame{};
  frame.Bounds = TRect{0, 0, w, h};
  frame.RowBytes = w * 4;
  frame.Pixels = pixels.data();
  TestSignalSettings settings;
  settings.signal = static_cast<int32_t>(state.range(0));
  settings.black = 16;
  settings.white = 235;
  const bool bandLimit = state.range(1) != 0;
  for (auto _ : state) {
    DrawTestSignal(frame, settings, bandLimit);
    benchmark::DoNotOptimize(pixels.data());
  }
}
BENCHMARK(BM_DrawTestSignal)->ArgNames({"signal", "bandLimit"})->Args({3, 0})->Args({3, 1})->Args({7, 1});

void BM_BandLimitLine(benchmark::State& state) {
  std::vector<uint8_t> line(720 * 4);
  for (size_t i = 0; i < line.size(); ++i) line[i] = static_cast<uint8_t>(i * 37);
  for (auto _ : state) {
    BandLimitLine(line.data(), 720);
    benchmark::DoNotOptimize(line.data());
  }
  state.SetItemsProcessed(state.iterations() * 720);
}
BENCHMARK(BM_BandLimitLine);

}  // namespace
