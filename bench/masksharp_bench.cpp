// Masks and sharpening on a 1920x1080 Depth 1 plane and a 960x1080 Depth 2
// plane: plain reference against the optimised version (active kernel level),
// with a memcpy of the same plane as the yardstick.
#include <benchmark/benchmark.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>

#include "filters/mask.h"
#include "filters/sharpen.h"

namespace tarvo {
namespace {

struct Planes {
  TChannel plane, work, mask, blur, edge, filtered, out;
  explicit Planes(int depth) {
    const int w = depth == 1 ? 1920 : 960, h = 1080;
    std::mt19937 rng(7);
    plane.SetSize(w, h, depth);
    // A smooth picture with some noise, so masks and gains take all values.
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int v = ((x * 3 + y * 2) % 256) + static_cast<int>(rng() % 17) - 8;
        if (depth == 1)
          plane.Data()[y * w + x] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
        else
          plane.Data16()[y * w + x] = static_cast<int16_t>((v - 128) * 64);
      }
    work.SizeLike(plane);
    work.CopyFrom(plane);
    filtered.SizeLike(plane);
    filtered.CopyFrom(plane);
    out.SizeLike(plane);
    mask.SetSize(w, h, 1);
    CreateMaskReference(plane, mask, 2, edge);
    Blur(plane, blur, 1);
  }
};

Planes& Get(int depth) {
  static Planes d1(1), d2(2);
  return depth == 1 ? d1 : d2;
}

using Op = std::function<void(Planes&)>;

void Run(benchmark::State& state, int depth, const Op& op) {
  Planes& p = Get(depth);
  for (auto _ : state) {
    op(p);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(p.plane.ByteSize()));
}

void Add(const std::string& name, const Op& ref, const Op& opt) {
  for (int depth : {1, 2}) {
    const std::string suffix = depth == 1 ? "/1920x1080x1" : "/960x1080x2";
    if (ref)
      benchmark::RegisterBenchmark((name + "Reference" + suffix).c_str(),
                                   [=](benchmark::State& s) { Run(s, depth, ref); });
    benchmark::RegisterBenchmark((name + suffix).c_str(), [=](benchmark::State& s) { Run(s, depth, opt); });
  }
}

const bool registered = [] {
  Add("Memcpy", nullptr, [](Planes& p) { std::memcpy(p.out.Data(), p.plane.Data(), p.plane.ByteSize()); });
  for (int r : {1, 2, 3}) {
    const std::string n = std::to_string(r);
    Add(
        "CreateMask" + n, [r](Planes& p) { CreateMaskReference(p.plane, p.mask, r, p.edge); },
        [r](Planes& p) { CreateMask(p.plane, p.mask, r, p.edge); });
  }
  Add(
      "ApplyMask", [](Planes& p) { ApplyMaskReference(p.filtered, p.work, p.mask, 20, 2); },
      [](Planes& p) { ApplyMask(p.filtered, p.work, p.mask, 20, 2); });
  Add(
      "ShowMask", [](Planes& p) { ShowMaskReference(p.mask, p.out, 2, 20); },
      [](Planes& p) { ShowMask(p.mask, p.out, 2, 20); });
  for (int r : {1, 2, 3}) {
    const std::string n = std::to_string(r);
    Add(
        "Blur" + n, [r](Planes& p) { BlurReference(p.plane, p.out, r); }, [r](Planes& p) { Blur(p.plane, p.out, r); });
  }
  Add(
      "PlainSharpen", [](Planes& p) { PlainSharpenReference(p.work, p.blur, 244, 30); },
      [](Planes& p) { PlainSharpen(p.work, p.blur, 244, 30); });
  Add(
      "MaskSharpen", [](Planes& p) { MaskSharpenReference(p.work, p.blur, p.mask, 20, 2, 244); },
      [](Planes& p) { MaskSharpen(p.work, p.blur, p.mask, 20, 2, 244); });
  Add(
      "PlainShowEdges", [](Planes& p) { PlainShowEdgesReference(p.work, p.blur, 30); },
      [](Planes& p) { PlainShowEdges(p.work, p.blur, 30); });
  Add(
      "MaskShowEdges", [](Planes& p) { MaskShowEdgesReference(p.work, p.blur, p.mask, 20, 2); },
      [](Planes& p) { MaskShowEdges(p.work, p.blur, p.mask, 20, 2); });
  Add(
      "Sharpen1",
      [](Planes& p) {
        BlurReference(p.work, p.out, 1);
        PlainSharpenReference(p.work, p.out, 244, 30);
      },
      [](Planes& p) { Sharpen(p.work, nullptr, 1, 0, 0, 30, 244, p.out); });
  return true;
}();

}  // namespace
}  // namespace tarvo
