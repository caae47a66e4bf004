#include "planes/inout.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "planes/inout_kernels.h"
#include "util/band_runner.h"
#include "util/cpu_features.h"
#include "types/rounding.h"

namespace tarvo::inout_kernels {

void AllowAvx512(bool allowed) { AllowWideVectors(allowed); }

bool Avx512Supported() {
#if defined(__x86_64__)
  static const bool supported = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                                __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi");
#else
  static const bool supported = false;
#endif
  return supported;
}

bool Avx512Usable() { return Avx512Supported() && WideVectorsAllowed(); }

namespace {
void InputScalar(const InputTables& t, const InputJob& job) { InputPlain(t, job, 0); }
void OutputScalar(const OutputJob& job) { OutputPlain(job, 0); }
constexpr Kernels kScalar = {InputScalar, OutputScalar};
}  // namespace

const Kernels& ScalarKernels() { return kScalar; }

}  // namespace tarvo::inout_kernels

namespace tarvo {
namespace {

// Table values far outside 0..255 only ever end up clamped; bounding them
// before rounding keeps the conversion to an integer defined whatever the
// record holds. NaN cannot arise from the build below, but would read as 0.
int64_t RndBounded(long double z) {
  constexpr long double kLimit = 1.0e12L;
  if (std::isnan(z)) return 0;
  if (z > kLimit) z = kLimit;
  if (z < -kLimit) z = -kLimit;
  return Rnd(z);
}

// Largest magnitude of a chroma table entry: keeps every colour difference
// (the difference of two entries) inside a 16-bit sample. With Sat in its
// range (0..200) the entries stay within -510..510 and this never applies.
constexpr int64_t kChromaLimit = 16383;

// Horizontal and vertical chroma subsampling shifts of each ProcMode.
struct Subsampling {
  int hs;  // log2 of pixels per chroma sample across
  int vs;  // log2 of rows per chroma sample
};
constexpr Subsampling kSubsampling[4] = {{0, 0}, {1, 0}, {1, 1}, {2, 0}};

// One pixel of the output conversion: the limited blue and red levels, green
// from the luminance equation, each raised by Vmin. Bytes 0..2 of d.
inline void OutputPixel(int32_t y, int32_t u, int32_t v, int32_t range, int32_t vmin, uint8_t* d) {
  const int32_t b = std::clamp(y + u, 0, range);
  const int32_t r = std::clamp(y + v, 0, range);
  // y <= 255 keeps the numerator at or below 256 * 255 + 74 = 65354, inside
  // the range where DivideBy150 is exact.
  const int32_t n = std::max(256 * y - 29 * b - 77 * r + 74, 0);
  const int32_t g = std::min(DivideBy150(n), range);
  d[0] = static_cast<uint8_t>(b + vmin);
  d[1] = static_cast<uint8_t>(g + vmin);
  d[2] = static_cast<uint8_t>(r + vmin);
}

}  // namespace

OutputLevels OutputLevelsOf(const ColourSettings& settings) {
  const int32_t vmin = std::clamp<int32_t>(settings.vmin, 0, 255);
  const int32_t vmax = std::clamp<int32_t>(settings.vmax, 0, 255);
  return OutputLevels{vmin, std::max(vmax - vmin, 0)};
}

int32_t EffectiveProcMode(int32_t procMode, int32_t width, int32_t height) {
  switch (procMode) {
    case 1:
      return width % 2 == 0 ? 1 : 0;
    case 2:
      return width % 2 == 0 && height % 2 == 0 ? 2 : 0;
    case 3:
      return width % 4 == 0 ? 3 : 0;
    default:
      return 0;
  }
}

ColourConverter::ColourConverter() {
  for (int32_t i = 0; i < 256; ++i) {
    weightR_[i] = i * 77;
    weightG_[i] = i * 150;
    weightB_[i] = i * 29;
  }
}

const inout_kernels::Kernels& ColourConverter::KernelTable() const {
  if (kernels_ != nullptr) return *kernels_;
  if (ActiveKernelLevel() < KernelLevel::Avx2) return inout_kernels::ScalarKernels();
  return inout_kernels::Avx512Usable() ? inout_kernels::Avx512Kernels() : inout_kernels::Avx2Kernels();
}

void ColourConverter::BuildTables(const ColourSettings& s, bool neutral) {
  const OutputLevels levels = OutputLevelsOf(s);
  const int64_t vmin = levels.vmin;
  const int64_t range = levels.range;
  const int64_t vblack = s.vblack;
  // White span in 1/256 code units. The gamma normaliser Wspan^(1 - gamma)
  // needs a positive span; with white at or below black every channel is
  // built with gamma 1.0 (normaliser 1), a straight line through black.
  const int64_t wspan = (static_cast<int64_t>(s.vwhite) - s.vblack) * 256;
  const bool linear = neutral || wspan <= 0;

  const int64_t kneePoint = neutral ? range - (vblack - vmin)
                                    : RndBounded(static_cast<long double>(range) * s.knee * 0.01L) - (vblack - vmin);
  const long double slope = neutral ? 1.0L : s.slope * 0.01L;

  const int32_t lifts[3] = {s.liftR, s.liftG, s.liftB};
  const int32_t gains[3] = {s.gainR, s.gainG, s.gainB};
  const int32_t gammas[3] = {s.gammaR, s.gammaG, s.gammaB};
  uint8_t* tables[3] = {red_, green_, blue_};

  for (int ch = 0; ch < 3; ++ch) {
    const int64_t lift = neutral ? 0 : static_cast<int64_t>(s.lift) + lifts[ch];
    const int64_t gain = neutral ? 256 : RndBounded(static_cast<long double>(s.gain) * gains[ch] * 256 * 0.0001L);
    long double gamma = 1.0L;
    if (!linear) {
      gamma = std::pow(10.0L, (s.gamma + gammas[ch]) * 0.01L);
      gamma = std::clamp(gamma, 0.1L, 10.0L);
    }
    // Either gamma is 1.0, which makes the normaliser exactly 1 whatever the
    // span, or gamma is within 0.1..10 and the span within 256..16776960:
    // both powers are then finite and positive.
    const long double k = std::pow(static_cast<long double>(wspan), 1.0L - gamma);
    const long double blackSlope = std::pow(256.0L, gamma);

    uint8_t* table = tables[ch];
    for (int64_t i = 0; i < 256; ++i) {
      const int64_t x = (i + lift - vblack) * gain;
      int64_t v;
      if (x <= 0) {
        // Below black the curve continues as a straight line through black
        // (scaled by 256^gamma and the normaliser); the knee does not apply.
        v = RndBounded(blackSlope * static_cast<long double>(x) * k * (1.0L / 65536.0L));
      } else {
        v = RndBounded(std::pow(static_cast<long double>(x), gamma) * k / 256.0L);
        if (v > kneePoint) v = RndBounded(static_cast<long double>(v - kneePoint) * slope) + kneePoint;
      }
      v += vblack - vmin;
      table[i] = static_cast<uint8_t>(v <= 0 ? 0 : v >= range ? range : v);
    }
  }

  const int64_t satFactor = neutral ? 256 : RndBounded(s.sat * 256 * 0.01L);
  for (int32_t i = 0; i < 256; ++i)
    chroma_[i] = static_cast<int32_t>(
        std::clamp(RndBounded(static_cast<long double>(satFactor) * i / 256.0L), -kChromaLimit, kChromaLimit));

  for (int32_t i = 0; i < 256; ++i) {
    lumR_[i] = weightR_[red_[i]];
    lumG_[i] = weightG_[green_[i]];
    lumB_[i] = weightB_[blue_[i]] + 128;
    chromaR_[i] = chroma_[red_[i]];
    chromaB_[i] = chroma_[blue_[i]];
    packedR_[i] = static_cast<int32_t>(static_cast<uint32_t>(chromaR_[i]) << 16) + lumR_[i];
    packedB_[i] = static_cast<int32_t>(static_cast<uint32_t>(chromaB_[i]) << 16) + lumB_[i];
  }
  satFactor_ = static_cast<int32_t>(std::clamp<int64_t>(satFactor, -32768, 32767));
  chromaByFormula_ = true;
  for (int32_t i = 0; i < 256; ++i)
    if (chroma_[i] != inout_kernels::ChromaByFormula(satFactor_, i)) chromaByFormula_ = false;
  built_ = true;
  builtNeutral_ = neutral;
}

bool ColourConverter::Input(const FrameView& source, const FrameView& destination, const ColourSettings& settings,
                            bool& changed, TChannel& y, TChannel& u, TChannel& v) {
  const bool neutral = settings.neutral;
  if (neutral || changed || !built_ || builtNeutral_) BuildTables(settings, neutral);
  changed = false;

  const int32_t w = FrameWidth(destination), h = FrameHeight(destination);
  const int32_t stride = FrameStride(destination);
  if (!FrameIsUsable(destination) || !FrameIsUsable(source) || FrameWidth(source) < w || FrameHeight(source) < h ||
      FrameStride(source) < stride)
    return false;

  const int32_t mode = EffectiveProcMode(settings.procMode, w, h);
  const Subsampling sub = kSubsampling[mode];
  const int32_t cw = w >> sub.hs, chh = h >> sub.vs;
  y.SetSize(w, h, 1);
  u.SetSize(cw, chh, 2);
  v.SetSize(cw, chh, 2);

  const inout_kernels::InputTables tables{lumR_,   lumG_,    lumB_,    chromaR_,         chromaB_,
                                          chroma_, packedR_, packedB_, chromaByFormula_, satFactor_,
                                          red_,    green_,  blue_};
  const inout_kernels::InputJob job{source.Pixels, stride, w, h, mode, y.Data(), u.Data16(), v.Data16()};
  const inout_kernels::Kernels& kernels = KernelTable();
  if (runner_ == nullptr || runner_->Parallelism() <= 1) {
    kernels.input(tables, job);
    return true;
  }
  // Bands of whole chroma rows: each converts its own rows of the frame into
  // its own rows of the three planes.
  ForEachBand(*runner_, chh, runner_->Parallelism(), [&](RowRange band) {
    const int32_t row = band.begin << sub.vs;
    inout_kernels::InputJob part = job;
    part.src += static_cast<size_t>(row) * stride;
    part.h = (band.end - band.begin) << sub.vs;
    part.y += static_cast<size_t>(row) * w;
    part.u += static_cast<size_t>(band.begin) * cw;
    part.v += static_cast<size_t>(band.begin) * cw;
    kernels.input(tables, part);
  });
  return true;
}

bool ColourConverter::Output(const TChannel& y, const TChannel& u, const TChannel& v, const FrameView& destination,
                             const ColourSettings& settings, MonitorSink* sink, const FrameView* fourthFrom) {
  if (!FrameIsUsable(destination)) return false;
  const int32_t w = FrameWidth(destination), h = FrameHeight(destination);
  const int32_t stride = FrameStride(destination);
  if (fourthFrom != nullptr && (!FrameIsUsable(*fourthFrom) || FrameWidth(*fourthFrom) < w ||
                                FrameHeight(*fourthFrom) < h || FrameStride(*fourthFrom) < stride))
    return false;
  // The fourth bytes are read with the destination's stride, so a frame with
  // the destination's pixels already holds them: nothing to copy.
  const uint8_t* const fourth =
      fourthFrom != nullptr && fourthFrom->Pixels != destination.Pixels ? fourthFrom->Pixels : nullptr;
  const int32_t mode = EffectiveProcMode(settings.procMode, w, h);
  const Subsampling sub = kSubsampling[mode];
  const int32_t cw = w >> sub.hs, chh = h >> sub.vs;
  auto sized = [](const TChannel& p, int32_t pw, int32_t ph, int32_t depth) {
    return p.HasBuffer() && p.Width() == pw && p.Height() == ph && p.Depth() == depth;
  };
  if (!sized(y, w, h, 1) || !sized(u, cw, chh, 2) || !sized(v, cw, chh, 2)) return false;

  const OutputLevels levels = OutputLevelsOf(settings);
  const int32_t range = levels.range, vmin = levels.vmin;
  uint8_t* const dst = destination.Pixels;

  if (sink == nullptr) {
    const inout_kernels::OutputJob job{y.Data(), u.Data16(), v.Data16(), dst, stride, w, h, mode, range, vmin, fourth};
    const inout_kernels::Kernels& kernels = KernelTable();
    if (runner_ == nullptr || runner_->Parallelism() <= 1) {
      kernels.output(job);
      return true;
    }
    ForEachBand(*runner_, chh, runner_->Parallelism(), [&](RowRange band) {
      const int32_t row = band.begin << sub.vs;
      inout_kernels::OutputJob part = job;
      part.y += static_cast<size_t>(row) * w;
      part.u += static_cast<size_t>(band.begin) * cw;
      part.v += static_cast<size_t>(band.begin) * cw;
      part.dst += static_cast<size_t>(row) * stride;
      if (part.fourth != nullptr) part.fourth += static_cast<size_t>(row) * stride;
      part.h = (band.end - band.begin) << sub.vs;
      kernels.output(part);
    });
    return true;
  }

  // With a monitor sink the pixels are converted on the calling thread: the
  // sink accumulates them in order.
  //
  // The pixels sharing a chroma sample are converted and
  // handed over in their block order: (x, y), (x, y+1), (x+1, y+1), (x+1, y)
  // for 4:2:0, left to right otherwise.
  static constexpr int32_t kBlock420[4][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
  const int32_t across = 1 << sub.hs;
  for (int32_t cy = 0; cy < chh; ++cy) {
    for (int32_t cx = 0; cx < cw; ++cx) {
      const int32_t cu = u.Data16()[static_cast<size_t>(cy) * cw + cx];
      const int32_t cv = v.Data16()[static_cast<size_t>(cy) * cw + cx];
      const int32_t count = mode == 2 ? 4 : across;
      for (int32_t k = 0; k < count; ++k) {
        const int32_t px = (cx << sub.hs) + (mode == 2 ? kBlock420[k][0] : k);
        const int32_t py = (cy << sub.vs) + (mode == 2 ? kBlock420[k][1] : 0);
        const int32_t lum = y.Data()[static_cast<size_t>(py) * w + px];
        const size_t at = static_cast<size_t>(py) * stride + 4 * static_cast<size_t>(px);
        OutputPixel(lum, cu, cv, range, vmin, dst + at);
        if (fourth != nullptr) dst[at + 3] = fourth[at + 3];
        sink->Accumulate(lum, cu, cv, px);
      }
    }
  }
  return true;
}

namespace inout_kernels {

void InputPlain(const InputTables& t, const InputJob& job, int32_t x0) {
  const int32_t w = job.w, stride = job.stride, mode = job.mode;
  const Subsampling sub = kSubsampling[mode];
  const int32_t cw = w >> sub.hs;

  // One pixel: its level goes to *yOut, its colour differences are added to
  // su and sv.
  auto pixel = [&t](const uint8_t* s, uint8_t* yOut, int32_t& su, int32_t& sv) {
    const int32_t b = s[0], g = s[1], r = s[2];
    const int32_t lum = (t.lumB[b] + t.lumG[g] + t.lumR[r]) >> 8;
    const int32_t cy = t.chroma[lum];
    *yOut = static_cast<uint8_t>(lum);
    su += t.chromaB[b] - cy;
    sv += t.chromaR[r] - cy;
  };

  for (int32_t row = 0; row < job.h; row += 1 << sub.vs) {
    const size_t off = static_cast<size_t>(row) * stride;
    const uint8_t* s = job.src + off;
    uint8_t* ys = job.y + static_cast<size_t>(row) * w;
    int16_t* us = job.u + static_cast<size_t>(row >> sub.vs) * cw;
    int16_t* vs = job.v + static_cast<size_t>(row >> sub.vs) * cw;
    switch (mode) {
      case 0:
        for (int32_t x = x0; x < w; ++x) {
          int32_t su = 0, sv = 0;
          pixel(s + 4 * x, ys + x, su, sv);
          us[x] = static_cast<int16_t>(su);
          vs[x] = static_cast<int16_t>(sv);
        }
        break;
      case 1:
        for (int32_t x = x0; x < w; x += 2) {
          int32_t su = 0, sv = 0;
          pixel(s + 4 * x, ys + x, su, sv);
          pixel(s + 4 * x + 4, ys + x + 1, su, sv);
          us[x >> 1] = static_cast<int16_t>((su + 1) >> 1);
          vs[x >> 1] = static_cast<int16_t>((sv + 1) >> 1);
        }
        break;
      case 2:
        for (int32_t x = x0; x < w; x += 2) {
          int32_t su = 0, sv = 0;
          pixel(s + 4 * x, ys + x, su, sv);
          pixel(s + stride + 4 * x, ys + w + x, su, sv);
          pixel(s + stride + 4 * x + 4, ys + w + x + 1, su, sv);
          pixel(s + 4 * x + 4, ys + x + 1, su, sv);
          us[x >> 1] = static_cast<int16_t>((su + 2) >> 2);
          vs[x >> 1] = static_cast<int16_t>((sv + 2) >> 2);
        }
        break;
      default:
        for (int32_t x = x0; x < w; x += 4) {
          int32_t su = 0, sv = 0;
          for (int32_t k = 0; k < 4; ++k) pixel(s + 4 * (x + k), ys + x + k, su, sv);
          us[x >> 2] = static_cast<int16_t>((su + 2) >> 2);
          vs[x >> 2] = static_cast<int16_t>((sv + 2) >> 2);
        }
        break;
    }
  }
}

void OutputPlain(const OutputJob& job, int32_t x0) {
  const Subsampling sub = kSubsampling[job.mode];
  const int32_t w = job.w, cw = w >> sub.hs;
  // Every pixel is independent of the others, so rows are walked top to
  // bottom, left to right, whatever the chroma layout.
  for (int32_t row = 0; row < job.h; ++row) {
    const uint8_t* ys = job.y + static_cast<size_t>(row) * w;
    const int16_t* us = job.u + static_cast<size_t>(row >> sub.vs) * cw;
    const int16_t* vs = job.v + static_cast<size_t>(row >> sub.vs) * cw;
    uint8_t* d = job.dst + static_cast<size_t>(row) * job.stride;
    for (int32_t x = x0; x < w; ++x)
      OutputPixel(ys[x], us[x >> sub.hs], vs[x >> sub.hs], job.range, job.vmin, d + 4 * static_cast<size_t>(x));
    if (job.fourth != nullptr) {
      const uint8_t* k = job.fourth + static_cast<size_t>(row) * job.stride;
      for (int32_t x = x0; x < w; ++x) d[4 * static_cast<size_t>(x) + 3] = k[4 * static_cast<size_t>(x) + 3];
    }
  }
}

}  // namespace inout_kernels
}  // namespace tarvo
