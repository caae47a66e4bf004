// The writer's conversion of a BGRA frame to planar YUV: our kernels at each
// instruction-set level against swscale with the flags of the `fast` and
// `accurate` paths (BT.709, limited range), and a memcpy of the BGRA frame
// as the yardstick. Run on one core: taskset -c 0 build/bench/yuv_write_bench
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "video_reader.h"
#include "yuv_write.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace {

using namespace tarvo;
using namespace tarvo::cli;

std::vector<uint8_t> RandomFrame(int w, int h) {
  std::vector<uint8_t> v(static_cast<size_t>(w) * h * 4);
  std::mt19937 rng(1234);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

struct Planes {
  Planes(int w, int h, YuvLayout layout) {
    const int cw = layout == YuvLayout::Yuv444 ? w : (w + 1) / 2;
    const int ch = layout == YuvLayout::Yuv420 ? (h + 1) / 2 : h;
    y.resize(static_cast<size_t>(w) * h);
    u.resize(static_cast<size_t>(cw) * ch);
    v.resize(u.size());
    view.data[0] = y.data();
    view.data[1] = u.data();
    view.data[2] = v.data();
    view.stride[0] = w;
    view.stride[1] = view.stride[2] = cw;
  }
  std::vector<uint8_t> y, u, v;
  YuvPlanes view;
};

// Arguments: width, height, layout (0 4:2:0, 1 4:2:2, 2 4:4:4), kernel level.
void BM_Own(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const auto layout = static_cast<YuvLayout>(state.range(2));
  const auto level = static_cast<KernelLevel>(state.range(3));
  SetKernelLevelCap(KernelLevel::Avx2);
  const YuvRowKernels& k = YuvRowKernelsFor(level);
  if (level != KernelLevel::Scalar && &k == &YuvRowKernelsFor(static_cast<KernelLevel>(state.range(3) - 1))) {
    state.SkipWithError("this processor does not run the level");
    return;
  }
  const std::vector<uint8_t> src = RandomFrame(w, h);
  Planes out(w, h, layout);
  const YuvCoefficients c = YuvCoefficientsFor(YuvMatrix::Bt709, false);
  for (auto _ : state) {
    ConvertBgraToYuv(src.data(), w * 4, w, h, layout, c, out.view, k);
    benchmark::DoNotOptimize(out.y.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(src.size()));
}
BENCHMARK(BM_Own)
    ->ArgNames({"w", "h", "layout", "level"})
    ->Args({1920, 1080, 0, 0})
    ->Args({1920, 1080, 0, 1})
    ->Args({1920, 1080, 0, 2})
    ->Args({1920, 1080, 1, 2})
    ->Args({1920, 1080, 2, 2})
    ->Args({3840, 2160, 0, 2})
    ->Unit(benchmark::kMicrosecond);

// Arguments: width, height, 0 for the fast path's flags, 1 for accurate.
void BM_Swscale(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const ScaleQuality q = state.range(2) ? ScaleQuality::Accurate : ScaleQuality::Fast;
  SwsContext* ctx =
      sws_getContext(w, h, AV_PIX_FMT_BGRA, w, h, AV_PIX_FMT_YUV420P, ScaleFlags(q), nullptr, nullptr, nullptr);
  if (!ctx) {
    state.SkipWithError("swscale set-up failed");
    return;
  }
  sws_setColorspaceDetails(ctx, sws_getCoefficients(SWS_CS_DEFAULT), 1, sws_getCoefficients(SWS_CS_ITU709), 0, 0,
                           1 << 16, 1 << 16);
  const std::vector<uint8_t> src = RandomFrame(w, h);
  Planes out(w, h, YuvLayout::Yuv420);
  uint8_t* dst[4] = {out.y.data(), out.u.data(), out.v.data(), nullptr};
  const int dstStride[4] = {w, (w + 1) / 2, (w + 1) / 2, 0};
  const uint8_t* s[4] = {src.data(), nullptr, nullptr, nullptr};
  const int sStride[4] = {w * 4, 0, 0, 0};
  for (auto _ : state) {
    sws_scale(ctx, s, sStride, 0, h, dst, dstStride);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(src.size()));
  sws_freeContext(ctx);
}
BENCHMARK(BM_Swscale)->ArgNames({"w", "h", "accurate"})->Args({1920, 1080, 0})->Args({1920, 1080, 1})->Unit(benchmark::kMicrosecond);

void BM_Memcpy(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const std::vector<uint8_t> src = RandomFrame(w, h);
  std::vector<uint8_t> dst(src.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(src.size()));
}
BENCHMARK(BM_Memcpy)->Args({1920, 1080})->Unit(benchmark::kMicrosecond);

}  // namespace
