// Colour conversion round trip (input plus output conversion) against a plain
// copy of the frame and, when available, FFmpeg's swscale doing the same round
// trip through planar YUV.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "host/colour_settings.h"
#include "types/specs.h"
#include "planes/channel.h"
#include "planes/inout.h"
#include "planes/inout_kernels.h"
#include "types/pix_buffer.h"

#ifdef TARVO_HAVE_SWSCALE
extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}
#endif

namespace {

using namespace tarvo;

struct Frame {
  Frame(int w, int h) : storage(static_cast<size_t>(w) * h * 4) {
    desc.Bounds = TRect{0, 0, w, h};
    desc.RowBytes = w * 4;
    desc.Pixels = storage.data();
  }
  std::vector<uint8_t> storage;
  TPixBuffer desc{};
};

void FillRandom(std::vector<uint8_t>& bytes) {
  std::mt19937 rng(1234);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
}

TSpecs BenchSpecs(int mode) {
  TSpecs s = BuiltInDefaultSpecs();
  s.ProcMode = static_cast<int16_t>(mode);
  s.Vmin = 16;
  s.Vmax = 235;
  s.Lift = 5;
  s.Gain = 110;
  s.Gamma = -20;
  s.Sat = 120;
  s.Knee = 90;
  return s;
}

// Arguments: width, height, ProcMode, and 0 to keep to the AVX2 kernels even
// where the 512-bit ones would run (1 otherwise).
void BM_RoundTrip(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const int mode = static_cast<int>(state.range(2));
  Frame src(w, h), dst(w, h);
  FillRandom(src.storage);
  const TSpecs specs = BenchSpecs(mode);
  ColourConverter conv;
  TChannel y, u, v;
  bool changed = true;
  inout_kernels::AllowAvx512(state.range(3) != 0);
  for (auto _ : state) {
    conv.Input(src.desc, dst.desc, ColourSettingsOf(specs, false), changed, y, u, v);
    conv.Output(y, u, v, dst.desc, ColourSettingsOf(specs, false), nullptr, &src.desc);
    benchmark::DoNotOptimize(dst.storage.data());
    benchmark::ClobberMemory();
  }
  inout_kernels::AllowAvx512(true);
  state.SetBytesProcessed(state.iterations() * int64_t{w} * h * 4);
}

// The two halves of the round trip on their own. Arguments as above.
void BM_Input(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  Frame src(w, h), dst(w, h);
  FillRandom(src.storage);
  const TSpecs specs = BenchSpecs(static_cast<int>(state.range(2)));
  ColourConverter conv;
  TChannel y, u, v;
  bool changed = true;
  inout_kernels::AllowAvx512(state.range(3) != 0);
  for (auto _ : state) {
    conv.Input(src.desc, dst.desc, ColourSettingsOf(specs, false), changed, y, u, v);
    benchmark::DoNotOptimize(y.Data());
    benchmark::ClobberMemory();
  }
  inout_kernels::AllowAvx512(true);
  state.SetBytesProcessed(state.iterations() * int64_t{w} * h * 4);
}

void BM_Output(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  Frame src(w, h), dst(w, h);
  FillRandom(src.storage);
  const TSpecs specs = BenchSpecs(static_cast<int>(state.range(2)));
  ColourConverter conv;
  TChannel y, u, v;
  bool changed = true;
  conv.Input(src.desc, dst.desc, ColourSettingsOf(specs, false), changed, y, u, v);
  inout_kernels::AllowAvx512(state.range(3) != 0);
  for (auto _ : state) {
    conv.Output(y, u, v, dst.desc, ColourSettingsOf(specs, false), nullptr, &src.desc);
    benchmark::DoNotOptimize(dst.storage.data());
    benchmark::ClobberMemory();
  }
  inout_kernels::AllowAvx512(true);
  state.SetBytesProcessed(state.iterations() * int64_t{w} * h * 4);
}

void BM_Memcpy(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  Frame src(w, h), dst(w, h);
  FillRandom(src.storage);
  for (auto _ : state) {
    std::memcpy(dst.storage.data(), src.storage.data(), src.storage.size());
    benchmark::DoNotOptimize(dst.storage.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * int64_t{w} * h * 4);
}

BENCHMARK(BM_RoundTrip)
    ->Args({1920, 1080, 0, 1})
    ->Args({1920, 1080, 2, 1})
    ->Args({720, 576, 0, 1})
    ->Args({720, 576, 2, 1})
    ->Args({1920, 1080, 0, 0})
    ->Args({1920, 1080, 2, 0})
    ->Args({720, 576, 0, 0})
    ->Args({720, 576, 2, 0})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Input)
    ->Args({1920, 1080, 0, 1})
    ->Args({1920, 1080, 2, 1})
    ->Args({1920, 1080, 0, 0})
    ->Args({1920, 1080, 2, 0})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Output)
    ->Args({1920, 1080, 0, 1})
    ->Args({1920, 1080, 2, 1})
    ->Args({1920, 1080, 0, 0})
    ->Args({1920, 1080, 2, 0})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Memcpy)->Args({1920, 1080})->Args({720, 576})->Unit(benchmark::kMicrosecond);

#ifdef TARVO_HAVE_SWSCALE
// Arguments: width, height, 0 for yuv444p or 2 for yuv420p, swscale flags.
void BM_Swscale(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const AVPixelFormat planar = state.range(2) == 2 ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUV444P;
  const int flags = static_cast<int>(state.range(3));
  Frame src(w, h), dst(w, h);
  FillRandom(src.storage);

  auto make = [&](AVPixelFormat from, AVPixelFormat to) {
    SwsContext* ctx = sws_alloc_context();
    av_opt_set_int(ctx, "srcw", w, 0);
    av_opt_set_int(ctx, "srch", h, 0);
    av_opt_set_int(ctx, "src_format", from, 0);
    av_opt_set_int(ctx, "dstw", w, 0);
    av_opt_set_int(ctx, "dsth", h, 0);
    av_opt_set_int(ctx, "dst_format", to, 0);
    av_opt_set_int(ctx, "sws_flags", flags, 0);
    av_opt_set_int(ctx, "threads", 1, 0);
    if (sws_init_context(ctx, nullptr, nullptr) < 0) {
      sws_freeContext(ctx);
      return static_cast<SwsContext*>(nullptr);
    }
    return ctx;
  };
  SwsContext* toYuv = make(AV_PIX_FMT_BGRA, planar);
  SwsContext* toRgb = make(planar, AV_PIX_FMT_BGRA);
  uint8_t* planes[4] = {};
  int strides[4] = {};
  if (!toYuv || !toRgb || av_image_alloc(planes, strides, w, h, planar, 32) < 0) {
    state.SkipWithError("swscale set-up failed");
    sws_freeContext(toYuv);
    sws_freeContext(toRgb);
    return;
  }
  const uint8_t* srcPlanes[1] = {src.storage.data()};
  uint8_t* dstPlanes[1] = {dst.storage.data()};
  const int rgbStride[1] = {w * 4};
  for (auto _ : state) {
    sws_scale(toYuv, srcPlanes, rgbStride, 0, h, planes, strides);
    sws_scale(toRgb, planes, strides, 0, h, dstPlanes, rgbStride);
    benchmark::DoNotOptimize(dst.storage.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * int64_t{w} * h * 4);
  av_freep(&planes[0]);
  sws_freeContext(toYuv);
  sws_freeContext(toRgb);
}

BENCHMARK(BM_Swscale)
    ->Args({1920, 1080, 0, SWS_POINT})
    ->Args({1920, 1080, 2, SWS_POINT})
    ->Args({1920, 1080, 2, SWS_BILINEAR})
    ->Args({720, 576, 0, SWS_POINT})
    ->Args({720, 576, 2, SWS_POINT})
    ->Args({720, 576, 2, SWS_BILINEAR})
    ->Unit(benchmark::kMicrosecond);
#endif

}  // namespace
