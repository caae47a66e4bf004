// Detail masks: edge strength, smoothing, blending and the weight view.
//
// Small planes: the edge operator needs a 3x3 neighbourhood and the radius-3
// smoothing a 5x5 one. A plane narrower or lower than 3 samples gets an edge
// plane (and so a mask) of all zeros; radius 3 on a plane narrower or lower
// than 5 samples smooths with the 3x3 box of radius 2. No sample outside the
// plane is ever read or written.
#include "filters/mask.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "filters/kernel_set.h"
#include "filters/masksharp_kernels.h"
#include "util/band_runner.h"

namespace tarvo {
namespace {

using masksharp::WeightParams;

bool Empty(const TChannel& c) { return c.ByteSize() == 0 || !c.HasBuffer(); }

void Require(bool ok, const char* what) {
  if (!ok) throw std::invalid_argument(what);
}

void CheckSource(const TChannel& source) {
  Require(source.Depth() == 1 || source.Depth() == 2, "mask source must have Depth 1 or 2");
}

void CheckMaskLike(const TChannel& mask, const TChannel& plane, const char* what) {
  Require(!Empty(mask) && mask.Depth() == 1 && mask.Width() == plane.Width() && mask.Height() == plane.Height(), what);
}

int ClampRadius(int radius) { return radius < 1 ? 1 : radius > 3 ? 3 : radius; }

// The smoothing radius actually used on a W x H plane (see the file comment).
int EffectiveRadius(int radius, int w, int h) {
  radius = ClampRadius(radius);
  if (radius == 3 && (w < 5 || h < 5)) radius = 2;
  if (w < 3 || h < 3) radius = 1;  // the edge plane is all zeros: nothing to smooth
  return radius;
}

void PrepareEdge(const TChannel& source, TChannel& mask, TChannel& edge) {
  CheckSource(source);
  CheckMaskLike(mask, source, "mask plane must be Depth 1 and sized like the source");
  Require(&edge != &source && &edge != &mask, "the edge scratch plane must be a plane of its own");
  edge.SetSize(source.Width(), source.Height(), 1);
}

}  // namespace

int32_t MaskWeight(int32_t m, int32_t amount, int32_t offset) {
  // Amounts below 1 act as 1 (callers pass 1..4); from 9 on every non-zero
  // difference saturates, so larger amounts are limited there to keep the
  // arithmetic in range.
  const int32_t a = amount < 1 ? 1 : amount > 9 ? 9 : amount;
  const int64_t d = static_cast<int64_t>(m) - (static_cast<int64_t>(offset) + 128);
  const int64_t v = d * (int64_t{1} << (a - 1)) + 128;
  return static_cast<int32_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// ---- Reference versions: one sample at a time, straight from the rules -----

void CreateMaskReference(const TChannel& source, TChannel& mask, int radius, TChannel& edge) {
  if (Empty(source)) return;
  PrepareEdge(source, mask, edge);
  const int w = source.Width(), h = source.Height(), n = w * h;
  uint8_t* e = edge.Data();
  for (int i = 0; i < n; ++i) e[i] = 0;
  if (w >= 3 && h >= 3) {
    auto s = [&](int i) -> int32_t { return source.Depth() == 1 ? source.Data()[i] : source.Data16()[i]; };
    for (int i = w + 1; i <= w * (h - 1) - 2; ++i) {
      const int32_t gy = 2 * s(i - w) + s(i - w - 1) + s(i - w + 1) - 2 * s(i + w) - s(i + w - 1) - s(i + w + 1);
      const int32_t gx = 2 * s(i - 1) + s(i - w - 1) + s(i + w - 1) - 2 * s(i + 1) - s(i - w + 1) - s(i + w + 1);
      const int32_t v = (gx < 0 ? -gx : gx) + (gy < 0 ? -gy : gy);
      e[i] = static_cast<uint8_t>(v < 255 ? v : 255);
    }
  }
  uint8_t* m = mask.Data();
  const int r = EffectiveRadius(radius, w, h);
  // Everything outside the smoothed range is a copy of the edge plane.
  for (int i = 0; i < n; ++i) m[i] = e[i];
  if (r == 2) {
    for (int i = w + 1; i <= w * (h - 1) - 2; ++i) {
      int sum = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) sum += e[i + dy * w + dx];
      m[i] = static_cast<uint8_t>(sum / 9);
    }
  } else if (r == 3) {
    for (int i = 2 * w + 2; i <= w * (h - 2) - 3; ++i) {
      int sum = 0;
      for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx) sum += e[i + dy * w + dx];
      m[i] = static_cast<uint8_t>(sum / 25);
    }
  }
}

void ApplyMaskReference(const TChannel& filtered, TChannel& target, const TChannel& mask, int offset, int amount) {
  if (Empty(target)) return;
  Require(filtered.Width() == target.Width() && filtered.Height() == target.Height() &&
              filtered.Depth() == target.Depth() && !Empty(filtered),
          "filtered and target planes must have the same size and Depth");
  const int n = target.Samples();
  if (amount < 1) {
    for (size_t i = 0; i < target.ByteSize(); ++i) target.Data()[i] = filtered.Data()[i];
    return;
  }
  CheckMaskLike(mask, target, "mask plane must be Depth 1 and sized like the target");
  for (int i = 0; i < n; ++i) {
    const int32_t w = MaskWeight(mask.Data()[i], amount, offset);
    if (target.Depth() == 1) {
      const int32_t t = target.Data()[i], f = filtered.Data()[i];
      target.Data()[i] = static_cast<uint8_t>((t * (w + 1) + f * (255 - w) + 128) >> 8);
    } else {
      const int32_t t = target.Data16()[i], f = filtered.Data16()[i];
      target.Data16()[i] = static_cast<int16_t>((t * (w + 1) + f * (255 - w) + 128) >> 8);
    }
  }
}

void ShowMaskReference(const TChannel& mask, TChannel& output, int amount, int offset) {
  if (Empty(mask)) return;
  Require(mask.Depth() == 1, "mask plane must have Depth 1");
  Require(output.Width() == mask.Width() && output.Height() == mask.Height() &&
              (output.Depth() == 1 || output.Depth() == 2) && !Empty(output),
          "output plane must be sized like the mask with Depth 1 or 2");
  for (int i = 0; i < mask.Samples(); ++i) {
    const int32_t w = MaskWeight(mask.Data()[i], amount, offset);
    if (output.Depth() == 1)
      output.Data()[i] = static_cast<uint8_t>(w);
    else
      output.Data16()[i] = static_cast<int16_t>(w);
  }
}

// ---- Optimised versions ------------------------------------------------------

void CreateMask(const TChannel& source, TChannel& mask, int radius, TChannel& edge, const masksharp::Kernels& k,
                const BandRunner& runner) {
  if (Empty(source)) return;
  PrepareEdge(source, mask, edge);
  const ptrdiff_t w = source.Width(), h = source.Height(), n = w * h;
  const int r = EffectiveRadius(radius, static_cast<int>(w), static_cast<int>(h));
  const int32_t bands = runner.Parallelism();
  // Depth 1, radius 2 and 3: one sweep without the edge plane, in about 40 %
  // of the time of the two passes below. Not when the mask is the source: a
  // mask row is written while the rows below it still read the source row it
  // replaces. In bands, each band sweeps from a few rows above its own with a
  // scratch ring of its own.
  if (r >= 2 && source.Depth() == 1 && source.Data() != mask.Data() && k.oneSweep8[r - 2] != nullptr) {
    // Scratch rings: slices of the edge plane's buffer when it is large
    // enough (it is not otherwise needed), else, for one band, the stack for
    // narrow planes; planes too low for the rings take the two sweeps below.
    // Each band's ring starts on a cache line of its own.
    const ptrdiff_t need = (k.oneSweepScratch(w) + 31) & ~ptrdiff_t{31};
    const int32_t sweepBands = std::min<int32_t>(bands, static_cast<int32_t>(h));
    constexpr ptrdiff_t kStackEntries = 10 * (512 + 64);
    alignas(32) int16_t local[kStackEntries];
    int16_t* scratch = static_cast<ptrdiff_t>(edge.ByteSize()) >= 2 * need * sweepBands ? edge.Data16()
                       : sweepBands == 1 && need <= kStackEntries                        ? local
                                                                                         : nullptr;
    if (scratch != nullptr) {
      const auto sweep = k.oneSweep8[r - 2];
      ForEachIndexedBand(runner, static_cast<int32_t>(h), sweepBands, [&](RowRange band, int32_t index) {
        sweep(source.Data(), mask.Data(), w, h, band.begin, band.end, scratch + need * index);
      });
      return;
    }
  }
  uint8_t* e = edge.Data();
  if (w < 3 || h < 3) {
    std::memset(e, 0, static_cast<size_t>(n));
  } else {
    // Two banded passes: the whole edge plane first, then the smoothing,
    // which reads edge values up to two rows beyond its band.
    ForEachBand(runner, static_cast<int32_t>(h), bands, [&](RowRange band) {
      const ptrdiff_t first = w + 1, end = w * (h - 1) - 1;
      const LinearSpan head = SpanInBand(band, w, 0, first), tail = SpanInBand(band, w, end, n);
      if (!head.Empty()) std::memset(e + head.a, 0, static_cast<size_t>(head.b - head.a));
      if (!tail.Empty()) std::memset(e + tail.a, 0, static_cast<size_t>(tail.b - tail.a));
      const LinearSpan inner = SpanInBand(band, w, first, end);
      if (inner.Empty()) return;
      if (source.Depth() == 1)
        k.edge8(source.Data(), e, w, inner.a, inner.b);
      else
        k.edge16(source.Data16(), e, w, inner.a, inner.b);
    });
  }
  if (r == 1) {
    // The mask is the edge plane itself: take its buffer (equal sizes).
    mask.Exchange(edge);
    return;
  }
  uint8_t* m = mask.Data();
  // The samples outside the smoothed range take the edge plane's values (0
  // for radius 2, whose range is the edge plane's).
  const ptrdiff_t border = r == 2 ? w + 1 : 2 * w + 2;
  ForEachBand(runner, static_cast<int32_t>(h), bands, [&](RowRange band) {
    const LinearSpan head = SpanInBand(band, w, 0, border), tail = SpanInBand(band, w, n - border, n);
    if (!head.Empty()) std::memcpy(m + head.a, e + head.a, static_cast<size_t>(head.b - head.a));
    if (!tail.Empty()) std::memcpy(m + tail.a, e + tail.a, static_cast<size_t>(tail.b - tail.a));
    const LinearSpan inner = SpanInBand(band, w, border, n - border);
    if (inner.Empty()) return;
    if (r == 2)
      k.box3(e, m, w, inner.a, inner.b);
    else
      k.box5(e, m, w, inner.a, inner.b);
  });
}

void CreateMask(const TChannel& source, TChannel& mask, int radius, TChannel& edge, const masksharp::Kernels& k) {
  CreateMask(source, mask, radius, edge, k, SerialRunner());
}

void ApplyMask(const TChannel& filtered, TChannel& target, const TChannel& mask, int offset, int amount,
               const masksharp::Kernels& k, const BandRunner& runner) {
  if (Empty(target)) return;
  Require(filtered.Width() == target.Width() && filtered.Height() == target.Height() &&
              filtered.Depth() == target.Depth() && !Empty(filtered),
          "filtered and target planes must have the same size and Depth");
  if (amount < 1) {
    if (&filtered != &target) std::memcpy(target.Data(), filtered.Data(), target.ByteSize());
    return;
  }
  CheckMaskLike(mask, target, "mask plane must be Depth 1 and sized like the target");
  const WeightParams wp = masksharp::MakeWeightParams(amount, offset);
  const ptrdiff_t w = target.Width();
  ForEachBand(runner, target.Height(), runner.Parallelism(), [&](RowRange band) {
    const ptrdiff_t at = band.begin * w, count = (band.end - band.begin) * w;
    if (target.Depth() == 1)
      k.applyMask8(filtered.Data() + at, target.Data() + at, mask.Data() + at, count, wp);
    else
      k.applyMask16(filtered.Data16() + at, target.Data16() + at, mask.Data() + at, count, wp);
  });
}

void ApplyMask(const TChannel& filtered, TChannel& target, const TChannel& mask, int offset, int amount,
               const masksharp::Kernels& k) {
  ApplyMask(filtered, target, mask, offset, amount, k, SerialRunner());
}

void ShowMask(const TChannel& mask, TChannel& output, int amount, int offset, const masksharp::Kernels& k,
              const BandRunner& runner) {
  if (Empty(mask)) return;
  Require(mask.Depth() == 1, "mask plane must have Depth 1");
  Require(output.Width() == mask.Width() && output.Height() == mask.Height() &&
              (output.Depth() == 1 || output.Depth() == 2) && !Empty(output),
          "output plane must be sized like the mask with Depth 1 or 2");
  const WeightParams wp = masksharp::MakeWeightParams(amount, offset);
  const ptrdiff_t w = mask.Width();
  ForEachBand(runner, mask.Height(), runner.Parallelism(), [&](RowRange band) {
    const ptrdiff_t at = band.begin * w, count = (band.end - band.begin) * w;
    if (output.Depth() == 1)
      k.showMask8(mask.Data() + at, output.Data() + at, count, wp);
    else
      k.showMask16(mask.Data() + at, output.Data16() + at, count, wp);
  });
}

void ShowMask(const TChannel& mask, TChannel& output, int amount, int offset, const masksharp::Kernels& k) {
  ShowMask(mask, output, amount, offset, k, SerialRunner());
}

// The forms that choose the kernels of ActiveKernelLevel() on every call.
void CreateMask(const TChannel& source, TChannel& mask, int radius, TChannel& edge) {
  CreateMask(source, mask, radius, edge, *ActiveKernelSet().masksharp);
}

void ApplyMask(const TChannel& filtered, TChannel& target, const TChannel& mask, int offset, int amount) {
  ApplyMask(filtered, target, mask, offset, amount, *ActiveKernelSet().masksharp);
}

void ShowMask(const TChannel& mask, TChannel& output, int amount, int offset) {
  ShowMask(mask, output, amount, offset, *ActiveKernelSet().masksharp);
}

}  // namespace tarvo
