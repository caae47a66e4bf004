// Renders a file of raw BGRA frames through the pipeline with one record and
// prints the frame rate, for comparison with other programs on the same input.
//
//   pipeline_run WIDTH HEIGHT INPUT.bgra [light|typical|heavy] [OUTPUT.bgra]
//   pipeline_run --stages WIDTH HEIGHT [light|typical|heavy] [THREADS]
//   pipeline_run --scaling WIDTH HEIGHT [light|typical|heavy] [THREADS] [ROUNDS]
//
// TARVO_THREADS=N runs the stages in row bands on N threads (0: one per core;
// default 1); the output is the same for any N.
//
// Frames are read one at a time, as a streaming program would; the time
// counted covers reading and processing (and writing, when an output is
// given), as processor time of the process and as wall time.
//
// --stages times each stage the record runs, on synthetic planes of the
// frame's size, on one thread and in row bands on THREADS threads (default
// 2), and prints each stage's share of the frame and its serial fraction f
// (Amdahl: time on n threads = time on one x (f + (1 - f) / n)), from which
// the rate on more cores can be read. Wall time, the best of several runs.
//
// --scaling renders the same synthetic clip on two engines by turns, one on
// one thread and one on THREADS (default 2), a frame each per round, and
// prints the median frame time of each and the speed-up. Taking turns
// frame by frame lets both see the same machine, which on a shared or
// throttled machine drifts more between separate runs than the speed-up
// itself differs.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_records.h"
#include "filters/despeckle.h"
#include "filters/kernel_set.h"
#include "filters/mask.h"
#include "filters/median.h"
#include "filters/sharpen.h"
#include "filters/temporal.h"
#include "host/chains.h"
#include "util/thread_pool.h"

namespace {

using namespace tarvo;

// Best wall time of `fn` in milliseconds over kRuns runs, each after `setup`
// (not timed). The best run is the one least disturbed by other processes.
constexpr int kRuns = 15;
template <class Setup, class Fn>
double BestMs(Setup&& setup, Fn&& fn) {
  double best = 1e30;
  for (int i = 0; i < kRuns; ++i) {
    setup();
    const auto start = std::chrono::steady_clock::now();
    fn();
    best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

void FillPlane(TChannel& c, int w, int h, int depth, uint32_t seed) {
  c.SetSize(w, h, depth);
  uint32_t r = seed * 2654435761u + 1;
  for (size_t i = 0; i < c.ByteSize(); ++i) {
    r ^= r << 13;
    r ^= r >> 17;
    r ^= r << 5;
    c.Data()[i] = static_cast<uint8_t>(depth == 1 ? 100 + (r & 31) : ((i & 1) ? (r & 1 ? 0xFF : 0) : r & 63));
  }
}

int Stages(int w, int h, const TSpecs& s, int threads) {
  const TDerived dv = ComputeDerived(s);
  const KernelSet k = ActiveKernelSet();
  PoolRunner banded;
  banded.SetThreads(threads);
  const SerialRunner serial;
  const int32_t mode = EffectiveProcMode(s.ProcMode, w, h);
  const int hs = mode == 0 ? 0 : mode == 3 ? 2 : 1, vs = mode == 2 ? 1 : 0;
  struct Row {
    std::string name;
    double one, many;
    bool scales;
  };
  std::vector<Row> rows;
  // Times fn(runner) with one thread and in bands; `scales` false for a stage
  // that runs on one thread whatever the count.
  auto timeAfter = [&](const std::string& name, bool scales, auto&& setup, auto&& fn) {
    const double one = BestMs(setup, [&] { fn(static_cast<const BandRunner&>(serial)); });
    const double many = BestMs(setup, [&] { fn(static_cast<const BandRunner&>(banded)); });
    rows.push_back({name, one, many, scales});
  };
  auto time = [&](const std::string& name, bool scales, auto&& fn) { timeAfter(name, scales, [] {}, fn); };
  // The conversions.
  std::vector<uint8_t> frame = bench::SyntheticFrame(w, h, 0), out(frame.size());
  TPixBuffer in{}, dst{};
  in.Bounds = dst.Bounds = TRect{0, 0, w, h};
  in.RowBytes = dst.RowBytes = w * 4;
  in.Pixels = frame.data();
  dst.Pixels = out.data();
  ColourSettings colour{};
  colour.vmax = 255;
  colour.vwhite = 255;
  colour.gain = 100;
  colour.sat = s.Sat;
  colour.gamma = s.Gamma;
  colour.procMode = s.ProcMode;
  TChannel y, u, v;
  // One converter per runner, so the tables are built before the timing.
  ColourConverter convOne, convMany;
  convOne.SetKernels(k.colour);
  convMany.SetKernels(k.colour);
  convOne.SetRunner(&serial);
  convMany.SetRunner(&banded);
  auto converter = [&](const BandRunner& r) -> ColourConverter& { return &r == &serial ? convOne : convMany; };
  time("input conversion", true, [&](const BandRunner& r) {
    bool changed = false;
    converter(r).Input(in, dst, colour, changed, y, u, v);
  });
  const int cw = w >> hs, ch = h >> vs;
  struct Plane {
    const char* name;
    int w, h, depth;
    int threshold, despeckle;
    int32_t gain;
  } planes[] = {{"Y", w, h, 1, s.TempYThreshold, s.YDespeckle, dv.YSharpGain},
                {"U", cw, ch, 2, s.TempCThreshold, s.CDespeckle, dv.CSharpGain},
                {"V", cw, ch, 2, s.TempCThreshold, s.CDespeckle, dv.CSharpGain}};
  for (const Plane& p : planes) {
    TChannel plane, other, mask, edge, scratch, spare, blur;
    FillPlane(plane, p.w, p.h, p.depth, 1);
    FillPlane(other, p.w, p.h, p.depth, 2);
    mask.SetSize(p.w, p.h, 1);
    scratch.SetSize(p.w, p.h, p.depth);
    const std::string n = p.name;
    if (dv.MedianMaxStep > 0 && s.MedianWhen != 0)
      time("median " + n, true, [&](const BandRunner& r) {
        if (s.MedianWeighted)
          WeightedMedian(plane, scratch, dv.MedianMaxStep, MedianStepThreshold(s, dv), *k.noise, r, spare);
        else
          PlainMedian(plane, scratch, dv.MedianMaxStep, MedianStepThreshold(s, dv), *k.noise, r, spare);
      });
    if (p.threshold > 0) {
      const TemporalSettings t = TemporalSettingsOf(s, p.threshold);
      // The pass leaves differences in the history: a new one each run.
      timeAfter(
          "temporal " + n, true, [&] { FillPlane(other, p.w, p.h, p.depth, 2); },
          [&](const BandRunner& r) { TemporalSmooth(plane, other, t, true, *k.temporal, r); });
    }
    const bool masked = (s.NoiseMask > 0 && p.despeckle > 0 && (p.depth == 1 || s.NoiseMaskYOnly == 0)) ||
                        (p.gain != 0 && s.SharpMask > 0);
    if (masked)
      time("mask " + n, true, [&](const BandRunner& r) { CreateMask(plane, mask, s.MaskRadius, edge, *k.masksharp, r); });
    if (p.despeckle > 0) {
      TChannel despeckleSpare;
      time("despeckle " + n, true,
           [&](const BandRunner& r) { Despeckle(plane, scratch, p.despeckle, *k.noise, r, despeckleSpare); });
      if (s.NoiseMask > 0 && (p.depth == 1 || s.NoiseMaskYOnly == 0))
        time("apply mask " + n, true, [&](const BandRunner& r) {
          ApplyMask(scratch, plane, mask, s.NoiseSmooth, s.NoiseMask, *k.masksharp, r);
        });
    }
    if (p.gain != 0)
      time("sharpen " + n, true, [&](const BandRunner& r) {
        Sharpen(plane, s.SharpMask > 0 ? &mask : nullptr, s.SharpRadius, s.SharpSmooth, s.SharpMask,
                dv.LevelDependLevel, p.gain, blur, *k.masksharp, r);
      });
  }
  time("output conversion", true,
       [&](const BandRunner& r) { converter(r).Output(y, u, v, dst, colour, nullptr, &in); });
  double one = 0, many = 0;
  for (const Row& r : rows) {
    one += r.one;
    many += r.many;
  }
  const double n = threads;
  auto serialFraction = [n](double t1, double tn) { return (tn / t1 - 1.0 / n) / (1.0 - 1.0 / n); };
  std::printf("%dx%d, %d threads (wall ms, best of %d)\n", w, h, threads, kRuns);
  std::printf("%-20s %9s %9s %7s %8s\n", "stage", "1 thread", "banded", "share", "serial f");
  for (const Row& r : rows)
    std::printf("%-20s %9.2f %9.2f %6.1f%% %8.2f%s\n", r.name.c_str(), r.one, r.many, 100.0 * r.one / one,
                serialFraction(r.one, r.many), r.scales ? "" : "  (one thread)");
  std::printf("%-20s %9.2f %9.2f %6.1f%% %8.2f\n", "all stages", one, many, 100.0, serialFraction(one, many));
  return 0;
}

int Scaling(int w, int h, const TSpecs& specs, int threads, int rounds) {
  constexpr int kClip = 8;  // distinct source frames, so temporal smoothing sees motion and grain
  std::vector<std::vector<uint8_t>> sources;
  for (int i = 0; i < kClip; ++i) sources.push_back(bench::SyntheticFrame(w, h, i));
  std::vector<uint8_t> dst(static_cast<size_t>(w) * h * 4);
  bench::Renderer one(specs, kOpFinal, 1), many(specs, kOpFinal, threads);
  std::vector<double> oneMs, manyMs;
  auto timed = [&](bench::Renderer& r, int frame) {
    const auto start = std::chrono::steady_clock::now();
    r.Render(sources[frame % kClip].data(), dst.data(), w, h);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  };
  // The first frames set up planes, history and the threads.
  for (int f = 0; f < 3; ++f) {
    timed(one, f);
    timed(many, f);
  }
  for (int f = 3; f < 3 + rounds; ++f) {
    // Alternating who goes first keeps either from always finding the
    // caches as the other left them.
    if (f % 2) {
      oneMs.push_back(timed(one, f));
      manyMs.push_back(timed(many, f));
    } else {
      manyMs.push_back(timed(many, f));
      oneMs.push_back(timed(one, f));
    }
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  const double a = median(oneMs), b = median(manyMs);
  std::printf("%dx%d, %d rounds by turns (wall ms, median): 1 thread %.2f, %d threads %.2f: %.2fx\n", w, h, rounds,
              a, threads, b, a / b);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tarvo;
  if (argc >= 4 && std::string(argv[1]) == "--stages") {
    const int w = std::atoi(argv[2]), h = std::atoi(argv[3]);
    TSpecs specs;
    if (w < 8 || h < 8 || !bench::RecordByName(argc > 4 ? argv[4] : "typical", specs)) {
      std::fprintf(stderr, "usage: %s --stages WIDTH HEIGHT [light|typical|heavy] [THREADS]\n", argv[0]);
      return 2;
    }
    return Stages(w, h, specs, argc > 5 ? std::max(2, std::atoi(argv[5])) : 2);
  }
  if (argc >= 4 && std::string(argv[1]) == "--scaling") {
    const int w = std::atoi(argv[2]), h = std::atoi(argv[3]);
    TSpecs specs;
    if (w < 8 || h < 8 || w > kMaxOwnFrameWidth || h > kMaxOwnFrameHeight ||
        !bench::RecordByName(argc > 4 ? argv[4] : "typical", specs)) {
      std::fprintf(stderr, "usage: %s --scaling WIDTH HEIGHT [light|typical|heavy] [THREADS] [ROUNDS]\n", argv[0]);
      return 2;
    }
    return Scaling(w, h, specs, argc > 5 ? std::max(2, std::atoi(argv[5])) : 2,
                   argc > 6 ? std::max(1, std::atoi(argv[6])) : 101);
  }
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s WIDTH HEIGHT INPUT.bgra [light|typical|heavy] [OUTPUT.bgra]\n", argv[0]);
    return 2;
  }
  const int w = std::atoi(argv[1]), h = std::atoi(argv[2]);
  if (w <= 0 || h <= 0 || w > kMaxOwnFrameWidth || h > kMaxOwnFrameHeight) {
    std::fprintf(stderr, "bad frame size %s x %s\n", argv[1], argv[2]);
    return 2;
  }
  const std::string recordName = argc > 4 ? argv[4] : "typical";
  TSpecs specs;
  if (!bench::RecordByName(recordName, specs)) {
    std::fprintf(stderr, "unknown record '%s' (light, typical, heavy)\n", recordName.c_str());
    return 2;
  }
  std::FILE* in = std::fopen(argv[3], "rb");
  if (!in) {
    std::perror(argv[3]);
    return 1;
  }
  std::FILE* out = nullptr;
  if (argc > 5 && !(out = std::fopen(argv[5], "wb"))) {
    std::perror(argv[5]);
    return 1;
  }
  const size_t frameBytes = static_cast<size_t>(w) * h * 4;
  std::vector<uint8_t> src(frameBytes), dst(frameBytes);
  const char* threadsEnv = std::getenv("TARVO_THREADS");
  const int threads = threadsEnv ? std::atoi(threadsEnv) : 1;
  bench::Renderer renderer(specs, kOpFinal, threads);
  int frames = 0;
  const auto start = std::chrono::steady_clock::now();
  const std::clock_t cpuStart = std::clock();
  while (std::fread(src.data(), 1, frameBytes, in) == frameBytes) {
    renderer.Render(src.data(), dst.data(), w, h);
    if (out && std::fwrite(dst.data(), 1, frameBytes, out) != frameBytes) {
      std::perror(argv[5]);
      return 1;
    }
    ++frames;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpuSeconds = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  std::fclose(in);
  if (out && std::fclose(out) != 0) {
    std::perror(argv[5]);
    return 1;
  }
  if (frames == 0) {
    std::fprintf(stderr, "%s holds no whole %d x %d frame\n", argv[3], w, h);
    return 1;
  }
  // Processor time is what counts on a shared machine; wall time for
  // reference.
  const int used = renderer.pipeline().Threads();
  std::printf("%d frames, %.3f s processor time: %.2f fps; %.3f s wall: %.2f fps (record %s, %dx%d, %d thread%s)\n",
              frames, cpuSeconds, frames / cpuSeconds, seconds, frames / seconds, recordName.c_str(), w, h, used,
              used >= 2 ? "s" : "");
  return 0;
}
