// Unsharp-mask sharpening and softening, and the edge views.
//
// Small planes: the radius 1 and 2 kernels need 3x3 samples, the radius 3
// kernel 5x5. On a plane narrower or lower than that the blur is an exact copy
// of the source, so sharpening leaves the plane as it is (Depth 2 samples are
// still limited to -32767..32767) and the edge views show no detail (128 on
// Depth 1, 0 on Depth 2). No sample outside the plane is read or written.
#include "filters/sharpen.h"

#include <cstring>
#include <stdexcept>

#include "filters/kernel_set.h"
#include "filters/mask.h"
#include "filters/masksharp_kernels.h"
#include "util/band_runner.h"

namespace tarvo {
namespace {

using masksharp::WeightParams;

bool Empty(const TChannel& c) { return c.ByteSize() == 0 || !c.HasBuffer(); }

void Require(bool ok, const char* what) {
  if (!ok) throw std::invalid_argument(what);
}

int ClampRadius(int radius) { return radius < 1 ? 1 : radius > 3 ? 3 : radius; }

// True when the kernel of the radius fits the plane.
bool KernelFits(int radius, int w, int h) {
  const int need = radius == 3 ? 5 : 3;
  return w >= need && h >= need;
}

void PrepareBlur(const TChannel& source, TChannel& blur) {
  Require(source.Depth() == 1 || source.Depth() == 2, "plane to blur must have Depth 1 or 2");
  Require(&blur != &source, "the blur plane must be a plane of its own");
  blur.SizeLike(source);
}

void CheckBlur(const TChannel& plane, const TChannel& blur) {
  Require(plane.Depth() == 1 || plane.Depth() == 2, "plane to sharpen must have Depth 1 or 2");
  Require(
      blur.Width() == plane.Width() && blur.Height() == plane.Height() && blur.Depth() == plane.Depth() && !Empty(blur),
      "blur plane must be sized like the plane");
}

void CheckMask(const TChannel& plane, const TChannel& mask) {
  Require(mask.Width() == plane.Width() && mask.Height() == plane.Height() && mask.Depth() == 1 && !Empty(mask),
          "mask plane must be Depth 1 and sized like the plane");
}

// Kernel weights of the three radii on a 5x5 grid (row-major, centre at 12).
constexpr int kBlurWeights[3][25] = {
    {0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 3, 4, 3, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 0, 1, 2, 1, 0, 0, 2, 4, 2, 0, 0, 1, 2, 1, 0, 0, 0, 0, 0, 0},
    {0, 1, 1, 1, 0, 1, 1, 2, 1, 1, 1, 2, 8, 2, 1, 1, 1, 2, 1, 1, 0, 1, 1, 1, 0},
};

int Get(const TChannel& c, int i) { return c.Depth() == 1 ? c.Data()[i] : c.Data16()[i]; }
void Put(TChannel& c, int i, int v) {
  if (c.Depth() == 1)
    c.Data()[i] = static_cast<uint8_t>(v);
  else
    c.Data16()[i] = static_cast<int16_t>(v);
}

int RefGainLimit(int gain) { return gain > 2048 ? -2048 : gain < -256 ? 256 : -gain; }
int RefLevelFactor(int lv) { return lv < 0 ? 256 : lv > 255 ? 1 : 256 - lv; }

int RefSharpResult(const TChannel& plane, int p, int b, int k) {
  const int32_t f = b * k + p * (256 - k);
  if (plane.Depth() == 1) return (f < 0 ? 0 : f > 65280 ? 65280 : f) >> 8;
  const int32_t v = f >> 8;
  return v < -32767 ? -32767 : v > 32767 ? 32767 : v;
}

int RefEdgeResult(const TChannel& plane, int e) {
  if (plane.Depth() == 1) return e + 128 < 0 ? 0 : e + 128 > 255 ? 255 : e + 128;
  return e < -32767 ? -32767 : e > 32767 ? 32767 : e;
}

int RefLevelSum(const TChannel& plane, int b, int g) { return (plane.Depth() == 1 ? b : (b < 0 ? -b : b)) + g; }

// Amount as Sharpen and SharpenShowEdges use it: 0 without a mask.
int ClampAmount(int amount, const TChannel* mask) {
  if (amount < 0 || mask == nullptr) return 0;
  return amount > 4 ? 4 : amount;
}

}  // namespace

// ---- Reference versions -------------------------------------------------------

void BlurReference(const TChannel& source, TChannel& blur, int radius) {
  if (Empty(source)) return;
  PrepareBlur(source, blur);
  const int w = source.Width(), h = source.Height(), n = w * h;
  const int r = ClampRadius(radius);
  for (int i = 0; i < n; ++i) Put(blur, i, Get(source, i));
  if (!KernelFits(r, w, h)) return;
  const int shift = r == 3 ? 5 : 4;
  const int first = r == 3 ? 2 * w + 2 : w + 1;
  const int last = r == 3 ? w * (h - 2) - 3 : w * (h - 1) - 2;
  for (int i = first; i <= last; ++i) {
    int32_t sum = 0;
    for (int dy = -2; dy <= 2; ++dy)
      for (int dx = -2; dx <= 2; ++dx) {
        const int wt = kBlurWeights[r - 1][(dy + 2) * 5 + dx + 2];
        if (wt) sum += wt * Get(source, i + dy * w + dx);
      }
    Put(blur, i, sum >> shift);
  }
}

void PlainSharpenReference(TChannel& plane, const TChannel& blur, int gain, int levelValue) {
  if (gain == 0 || Empty(plane)) return;
  CheckBlur(plane, blur);
  const int k0 = RefGainLimit(gain), g = RefLevelFactor(levelValue);
  for (int i = 0; i < plane.Samples(); ++i) {
    const int p = Get(plane, i), b = Get(blur, i);
    const int s = RefLevelSum(plane, b, g);
    const int k = s >= 256 ? k0 : (k0 * s) >> 8;
    Put(plane, i, RefSharpResult(plane, p, b, k));
  }
}

void MaskSharpenReference(TChannel& plane, const TChannel& blur, const TChannel& mask, int offset, int amount,
                          int gain) {
  if (gain == 0 || Empty(plane)) return;
  CheckBlur(plane, blur);
  CheckMask(plane, mask);
  const int k0 = RefGainLimit(gain);
  for (int i = 0; i < plane.Samples(); ++i) {
    const int w = MaskWeight(mask.Data()[i], amount, offset);
    const int k = (k0 * w) >> 8;
    Put(plane, i, RefSharpResult(plane, Get(plane, i), Get(blur, i), k));
  }
}

void PlainShowEdgesReference(TChannel& plane, const TChannel& blur, int levelValue) {
  if (Empty(plane)) return;
  CheckBlur(plane, blur);
  const int g = RefLevelFactor(levelValue);
  for (int i = 0; i < plane.Samples(); ++i) {
    const int p = Get(plane, i), b = Get(blur, i);
    int e = (p - b) * 4;
    const int s = RefLevelSum(plane, b, g);
    if (s < 256) e = (e * s) >> 8;
    Put(plane, i, RefEdgeResult(plane, e));
  }
}

void MaskShowEdgesReference(TChannel& plane, const TChannel& blur, const TChannel& mask, int offset, int amount) {
  if (Empty(plane)) return;
  CheckBlur(plane, blur);
  CheckMask(plane, mask);
  for (int i = 0; i < plane.Samples(); ++i) {
    const int w = MaskWeight(mask.Data()[i], amount, offset);
    const int e = ((Get(plane, i) - Get(blur, i)) * w) >> 6;
    Put(plane, i, RefEdgeResult(plane, e));
  }
}

// ---- Optimised versions --------------------------------------------------------

void Blur(const TChannel& source, TChannel& blur, int radius, const masksharp::Kernels& k, const BandRunner& runner) {
  if (Empty(source)) return;
  PrepareBlur(source, blur);
  const ptrdiff_t w = source.Width(), h = source.Height();
  const int r = ClampRadius(radius);
  const size_t bytes = source.ByteSize();
  if (!KernelFits(r, static_cast<int>(w), static_cast<int>(h))) {
    std::memcpy(blur.Data(), source.Data(), bytes);
    return;
  }
  const ptrdiff_t border = r == 3 ? 2 * w + 2 : w + 1;  // copied samples at either end
  const ptrdiff_t n = w * h, end = n - border;
  const size_t depth = static_cast<size_t>(source.Depth());
  ForEachBand(runner, static_cast<int32_t>(h), runner.Parallelism(), [&](RowRange band) {
    for (const LinearSpan copy : {SpanInBand(band, w, 0, border), SpanInBand(band, w, end, n)})
      if (!copy.Empty())
        std::memcpy(blur.Data() + copy.a * depth, source.Data() + copy.a * depth,
                    static_cast<size_t>(copy.b - copy.a) * depth);
    const LinearSpan inner = SpanInBand(band, w, border, end);
    if (inner.Empty()) return;
    if (depth == 1)
      k.blur8[r - 1](source.Data(), blur.Data(), w, inner.a, inner.b);
    else
      k.blur16[r - 1](source.Data16(), blur.Data16(), w, inner.a, inner.b);
  });
}

void Blur(const TChannel& source, TChannel& blur, int radius, const masksharp::Kernels& k) {
  Blur(source, blur, radius, k, SerialRunner());
}

namespace {

// Runs fn(first sample, sample count) over the plane's rows in bands.
template <class Fn>
void SampleBands(const TChannel& plane, const BandRunner& runner, Fn&& fn) {
  const ptrdiff_t w = plane.Width();
  ForEachBand(runner, plane.Height(), runner.Parallelism(),
              [&](RowRange band) { fn(band.begin * w, (band.end - band.begin) * w); });
}

void PlainSharpen(TChannel& plane, const TChannel& blur, int gain, int levelValue, const masksharp::Kernels& k,
                  const BandRunner& runner) {
  if (gain == 0 || Empty(plane)) return;
  CheckBlur(plane, blur);
  const int32_t k0 = masksharp::GainLimit(gain), g = masksharp::LevelFactor(levelValue);
  SampleBands(plane, runner, [&](ptrdiff_t at, ptrdiff_t count) {
    if (plane.Depth() == 1)
      k.plainSharpen8(plane.Data() + at, blur.Data() + at, count, k0, g);
    else
      k.plainSharpen16(plane.Data16() + at, blur.Data16() + at, count, k0, g);
  });
}

void MaskSharpen(TChannel& plane, const TChannel& blur, const TChannel& mask, int offset, int amount, int gain,
                 const masksharp::Kernels& k, const BandRunner& runner) {
  if (gain == 0 || Empty(plane)) return;
  CheckBlur(plane, blur);
  CheckMask(plane, mask);
  const int32_t k0 = masksharp::GainLimit(gain);
  const WeightParams wp = masksharp::MakeWeightParams(amount, offset);
  SampleBands(plane, runner, [&](ptrdiff_t at, ptrdiff_t count) {
    if (plane.Depth() == 1)
      k.maskSharpen8(plane.Data() + at, blur.Data() + at, mask.Data() + at, count, k0, wp);
    else
      k.maskSharpen16(plane.Data16() + at, blur.Data16() + at, mask.Data() + at, count, k0, wp);
  });
}

void PlainShowEdges(TChannel& plane, const TChannel& blur, int levelValue, const masksharp::Kernels& k,
                    const BandRunner& runner) {
  if (Empty(plane)) return;
  CheckBlur(plane, blur);
  const int32_t g = masksharp::LevelFactor(levelValue);
  SampleBands(plane, runner, [&](ptrdiff_t at, ptrdiff_t count) {
    if (plane.Depth() == 1)
      k.plainEdges8(plane.Data() + at, blur.Data() + at, count, g);
    else
      k.plainEdges16(plane.Data16() + at, blur.Data16() + at, count, g);
  });
}

void MaskShowEdges(TChannel& plane, const TChannel& blur, const TChannel& mask, int offset, int amount,
                   const masksharp::Kernels& k, const BandRunner& runner) {
  if (Empty(plane)) return;
  CheckBlur(plane, blur);
  CheckMask(plane, mask);
  const WeightParams wp = masksharp::MakeWeightParams(amount, offset);
  SampleBands(plane, runner, [&](ptrdiff_t at, ptrdiff_t count) {
    if (plane.Depth() == 1)
      k.maskEdges8(plane.Data() + at, blur.Data() + at, mask.Data() + at, count, wp);
    else
      k.maskEdges16(plane.Data16() + at, blur.Data16() + at, mask.Data() + at, count, wp);
  });
}

}  // namespace

void PlainSharpen(TChannel& plane, const TChannel& blur, int gain, int levelValue, const masksharp::Kernels& k) {
  PlainSharpen(plane, blur, gain, levelValue, k, SerialRunner());
}

void MaskSharpen(TChannel& plane, const TChannel& blur, const TChannel& mask, int offset, int amount, int gain,
                 const masksharp::Kernels& k) {
  MaskSharpen(plane, blur, mask, offset, amount, gain, k, SerialRunner());
}

void PlainShowEdges(TChannel& plane, const TChannel& blur, int levelValue, const masksharp::Kernels& k) {
  PlainShowEdges(plane, blur, levelValue, k, SerialRunner());
}

void MaskShowEdges(TChannel& plane, const TChannel& blur, const TChannel& mask, int offset, int amount,
                   const masksharp::Kernels& k) {
  MaskShowEdges(plane, blur, mask, offset, amount, k, SerialRunner());
}

void Sharpen(TChannel& plane, const TChannel* mask, int radius, int offset, int amount, int levelValue, int gain,
             TChannel& blur, const masksharp::Kernels& k, const BandRunner& runner) {
  if (gain == 0 || Empty(plane)) return;
  // The whole blur first: a band's blur reads the rows around it, which the
  // sharpening of the neighbouring bands rewrites.
  Blur(plane, blur, radius, k, runner);
  const int a = ClampAmount(amount, mask);
  if (a != 0)
    MaskSharpen(plane, blur, *mask, offset, a, gain, k, runner);
  else
    PlainSharpen(plane, blur, gain, levelValue, k, runner);
}

void SharpenShowEdges(TChannel& plane, const TChannel* mask, int radius, int offset, int amount, int levelValue,
                      int gain, TChannel& blur, const masksharp::Kernels& k, const BandRunner& runner) {
  if (Empty(plane)) return;
  Blur(plane, blur, radius, k, runner);
  const int a = ClampAmount(amount, mask);
  if (a != 0)
    MaskShowEdges(plane, blur, *mask, offset, a, k, runner);
  else
    PlainShowEdges(plane, blur, levelValue, k, runner);
}

void Sharpen(TChannel& plane, const TChannel* mask, int radius, int offset, int amount, int levelValue, int gain,
             TChannel& blur, const masksharp::Kernels& k) {
  Sharpen(plane, mask, radius, offset, amount, levelValue, gain, blur, k, SerialRunner());
}

void SharpenShowEdges(TChannel& plane, const TChannel* mask, int radius, int offset, int amount, int levelValue,
                      int gain, TChannel& blur, const masksharp::Kernels& k) {
  SharpenShowEdges(plane, mask, radius, offset, amount, levelValue, gain, blur, k, SerialRunner());
}

// The forms that choose the kernels of ActiveKernelLevel() on every call.
void Blur(const TChannel& source, TChannel& blur, int radius) {
  Blur(source, blur, radius, *ActiveKernelSet().masksharp);
}

void PlainSharpen(TChannel& plane, const TChannel& blur, int gain, int levelValue) {
  PlainSharpen(plane, blur, gain, levelValue, *ActiveKernelSet().masksharp);
}

void MaskSharpen(TChannel& plane, const TChannel& blur, const TChannel& mask, int offset, int amount, int gain) {
  MaskSharpen(plane, blur, mask, offset, amount, gain, *ActiveKernelSet().masksharp);
}

void PlainShowEdges(TChannel& plane, const TChannel& blur, int levelValue) {
  PlainShowEdges(plane, blur, levelValue, *ActiveKernelSet().masksharp);
}

void MaskShowEdges(TChannel& plane, const TChannel& blur, const TChannel& mask, int offset, int amount) {
  MaskShowEdges(plane, blur, mask, offset, amount, *ActiveKernelSet().masksharp);
}

void Sharpen(TChannel& plane, const TChannel* mask, int radius, int offset, int amount, int levelValue, int gain,
             TChannel& blur) {
  Sharpen(plane, mask, radius, offset, amount, levelValue, gain, blur, *ActiveKernelSet().masksharp);
}

void SharpenShowEdges(TChannel& plane, const TChannel* mask, int radius, int offset, int amount, int levelValue,
                      int gain, TChannel& blur) {
  SharpenShowEdges(plane, mask, radius, offset, amount, levelValue, gain, blur, *ActiveKernelSet().masksharp);
}

}  // namespace tarvo
