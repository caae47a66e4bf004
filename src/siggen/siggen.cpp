// Test patterns. Every pattern is a set of horizontal lines: one line of W
// pixels is composed in a working buffer, band-limited when rendering for the
// host, and copied into a run of rows. All geometry and levels are integer or
// extended-precision expressions rounded with Rnd, so a pattern is the same
// bit for bit on every run.
#include "siggen/siggen.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "types/rounding.h"
#include "util/thread_scratch.h"

namespace tarvo {
namespace {

struct Rgb {
  int32_t r, g, b;
};

// The levels every pattern derives from the clip's settings.
struct Levels {
  int32_t black, white, floor, span;
};

Levels LevelsOf(const TestSignalSettings& s) { return Levels{s.black, s.white, s.floor, s.white - s.black}; }

// Nearest(Span x p x 0.01) for an integer percentage: the integer product first.
int32_t PercentOfSpan(int32_t span, int32_t p) {
  return static_cast<int32_t>(Rnd(static_cast<long double>(span * p) * 0.01L));
}

// Nearest(Span x p x 0.01) for a fractional percentage, left to right in
// extended precision.
int32_t FractionalPercentOfSpan(int32_t span, long double p) {
  return static_cast<int32_t>(Rnd(static_cast<long double>(span) * p * 0.01L));
}

uint8_t Low8(int32_t v) { return static_cast<uint8_t>(v & 0xFF); }

// The working line. Its storage is the thread's scratch, which only ever
// grows, so drawing frames of a constant size allocates once.
class Line {
 public:
  explicit Line(int32_t width) : width_(width) {
    px_ = ThreadScratch(ScratchUse::kSignal, static_cast<size_t>(width) * 4);
  }

  // Sets pixels [from, to) to (r, g, b) with fourth byte 255; the range is
  // clipped to the line, and an empty or reversed range writes nothing.
  void Fill(int32_t from, int32_t to, Rgb c) {
    from = std::clamp(from, 0, width_);
    to = std::clamp(to, 0, width_);
    const uint8_t b = Low8(c.b), g = Low8(c.g), r = Low8(c.r);
    for (int32_t x = from; x < to; ++x) {
      uint8_t* p = px_ + static_cast<size_t>(x) * 4;
      p[0] = b;
      p[1] = g;
      p[2] = r;
      p[3] = 255;
    }
  }
  void Grey(int32_t from, int32_t to, int32_t v) { Fill(from, to, Rgb{v, v, v}); }
  void Set(int32_t x, int32_t v) { Grey(x, x + 1, v); }

  // Bars of width u: the first widened by the margin m, the last running to
  // the right edge, so the bars cover the whole line.
  void Bars(int32_t u, int32_t m, const Rgb* colours, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
      const int32_t from = i == 0 ? 0 : m + i * u;
      const int32_t to = i == count - 1 ? width_ : m + (i + 1) * u;
      Fill(from, to, colours[i]);
    }
  }

  void BandLimit(bool enabled) {
    if (enabled) BandLimitLine(px_, width_);
  }

  // Copies the line into rows [from, to) of the frame (clipped to its height).
  void CopyTo(const FrameView& frame, int32_t from, int32_t to) const {
    const int32_t h = FrameHeight(frame);
    from = std::clamp(from, 0, h);
    to = std::clamp(to, 0, h);
    const size_t stride = static_cast<size_t>(FrameStride(frame));
    for (int32_t j = from; j < to; ++j)
      std::memcpy(frame.Pixels + static_cast<size_t>(j) * stride, px_, static_cast<size_t>(width_) * 4);
  }

 private:
  int32_t width_;
  uint8_t* px_ = nullptr;
};

// Luminance and the two colour differences of one pixel, scaled by 256.
struct Ypq {
  int32_t y, p, q;
};

Ypq ToYpq(const uint8_t* px) {
  const int32_t b = px[0], g = px[1], r = px[2];
  const int32_t y = 29 * b + 150 * g + 77 * r;
  return Ypq{y, 256 * b - y, 256 * r - y};
}

// num / den (den > 0) rounded to the nearest integer, halves to even.
template <int32_t den>
int32_t DivNearestEven(int32_t num) {
  int32_t q = num / den, rem = num % den;
  if (rem < 0) rem += den, --q;  // floor division
  if (2 * rem > den || (2 * rem == den && (q & 1) != 0)) ++q;
  return q;
}

// The rounded channel stays within a hundredth of a code of the exact filtered
// value, which lies in 0..255 for 8-bit input; the clamp only keeps a stray
// value from wrapping round.
uint8_t ClampByte(int64_t v) { return static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255)); }

}  // namespace

// The line filter is defined on extended-precision values (see the reference
// below); every one of them is exact or a single division, so it reduces to
// integer arithmetic with the same rounding:
// - (Y[k-1] x 0.5 + Y[k] + Y[k+1] x 0.5) x 0.5 is exactly (Y[k-1] + 2 Y[k] + Y[k+1]) / 4;
// - b = (Pf + Yf) / 256 and r = (Qf + Yf) / 256 are exact;
// - g = (Yf - 29 b - 77 r) / 150 = (150 Yf - 29 Pf - 77 Qf) / 38400, whose
//   only rounding error (about 2^-55) is far smaller than the distance from a
//   value that is not a half to the nearest half (at least 1/38400).
void BandLimitLine(uint8_t* line, int32_t n) {
  if (line == nullptr || n <= 2) return;
  // Each output pixel depends on the original values of its neighbours only.
  // The left neighbour's values are kept from before it was rewritten; the
  // right neighbour is not rewritten yet.
  Ypq prev = ToYpq(line), cur = ToYpq(line + 4);
  for (int32_t k = 1; k <= n - 2; ++k) {
    uint8_t* px = line + static_cast<size_t>(k) * 4;
    const Ypq next = ToYpq(px + 4);
    const int32_t yf = DivNearestEven<4>(prev.y + 2 * cur.y + next.y);
    const int32_t pf = DivNearestEven<4>(prev.p + 2 * cur.p + next.p);
    const int32_t qf = DivNearestEven<4>(prev.q + 2 * cur.q + next.q);
    px[0] = ClampByte(DivNearestEven<256>(pf + yf));
    px[1] = ClampByte(DivNearestEven<38400>(150 * yf - 29 * pf - 77 * qf));
    px[2] = ClampByte(DivNearestEven<256>(qf + yf));
    prev = cur;
    cur = next;
  }
}

void BandLimitLineReference(uint8_t* line, int32_t n) {
  if (line == nullptr || n <= 2) return;
  std::vector<Ypq> v(static_cast<size_t>(n));
  for (int32_t k = 0; k < n; ++k) v[k] = ToYpq(line + static_cast<size_t>(k) * 4);
  auto smooth = [](int32_t l, int32_t c, int32_t r) { return Rnd((l * 0.5L + c + r * 0.5L) * 0.5L); };
  for (int32_t k = 1; k <= n - 2; ++k) {
    const int64_t yf = smooth(v[k - 1].y, v[k].y, v[k + 1].y);
    const int64_t pf = smooth(v[k - 1].p, v[k].p, v[k + 1].p);
    const int64_t qf = smooth(v[k - 1].q, v[k].q, v[k + 1].q);
    const long double b = static_cast<long double>(pf + yf) / 256.0L;
    const long double r = static_cast<long double>(qf + yf) / 256.0L;
    const long double g = (static_cast<long double>(yf) - 29.0L * b - 77.0L * r) / 150.0L;
    uint8_t* px = line + static_cast<size_t>(k) * 4;
    px[0] = ClampByte(Rnd(b));
    px[1] = ClampByte(Rnd(g));
    px[2] = ClampByte(Rnd(r));
  }
}

void DrawColourBars(const FrameView& frame, const TestSignalSettings& settings, bool bandLimit) {
  if (!FrameIsUsable(frame)) return;
  const int32_t w = FrameWidth(frame);
  const Levels lv = LevelsOf(settings);
  const int32_t u = 2 * (w * 704 / 11520);
  const int32_t m = 2 * ((w - 8 * u) / 4);
  const int32_t k = lv.white, o = lv.black;
  const Rgb bars[8] = {{k, k, k}, {k, k, o}, {o, k, k}, {o, k, o}, {k, o, k}, {k, o, o}, {o, o, k}, {o, o, o}};
  Line line(w);
  line.Bars(u, m, bars, 8);
  line.BandLimit(bandLimit);
  line.CopyTo(frame, 0, FrameHeight(frame));
}

void DrawSmpteBars(const FrameView& frame, const TestSignalSettings& settings, bool bandLimit) {
  if (!FrameIsUsable(frame)) return;
  const int32_t w = FrameWidth(frame), h = FrameHeight(frame);
  const Levels lv = LevelsOf(settings);
  const int32_t u = 2 * (w * 700 / 10080);
  const int32_t m = 2 * ((w - 7 * u) / 4);
  const int32_t l75 = lv.black + static_cast<int32_t>(Rnd(lv.span * 0.75L));
  const int32_t o = lv.black;

  // Row j takes line A while j < H x 0.25, line B while j < H x 1/3.
  const long double limitA = h * 0.25L, limitB = h * (1.0L / 3);
  int32_t endA = 0;
  while (endA < h && endA < limitA) ++endA;
  int32_t endB = endA;
  while (endB < h && endB < limitB) ++endB;

  Line line(w);
  // Line A: black, white, black, then the PLUGE group below, at and above black.
  const int32_t third = static_cast<int32_t>(Rnd(u * (1.0L / 3)));
  const int32_t step = static_cast<int32_t>(Rnd(lv.span * 0.05L));
  const int32_t group = m + 5 * u;
  line.Grey(0, w, o);
  line.Grey(m + static_cast<int32_t>(Rnd(5 * u * 0.25L)), m + static_cast<int32_t>(Rnd(5 * u * 0.5L)), lv.white);
  line.Grey(group, group + third, std::max(o - step, lv.floor));
  line.Grey(group + u - third, group + u, o + step);
  line.BandLimit(bandLimit);
  line.CopyTo(frame, 0, endA);

  const Rgb barsB[7] = {{o, o, l75}, {o, o, o}, {l75, o, l75}, {o, o, o}, {o, l75, l75}, {o, o, o}, {l75, l75, l75}};
  line.Bars(u, m, barsB, 7);
  line.BandLimit(bandLimit);
  line.CopyTo(frame, endA, endB);

  const Rgb barsC[7] = {{l75, l75, l75}, {l75, l75, o}, {o, l75, l75}, {o, l75, o},
                        {l75, o, l75},   {l75, o, o},   {o, o, l75}};
  line.Bars(u, m, barsC, 7);
  line.BandLimit(bandLimit);
  line.CopyTo(frame, endB, h);
}

void DrawGreyscale(const FrameView& frame, const TestSignalSettings& settings, bool bandLimit) {
  if (!FrameIsUsable(frame)) return;
  const int32_t w = FrameWidth(frame);
  const Levels lv = LevelsOf(settings);
  const int32_t u = w * 704 / 7920;
  const int32_t m = 2 * ((w - 11 * u) / 4);
  Line line(w);
  line.Grey(0, u + m, lv.black);
  for (int32_t i = 1; i <= 9; ++i) line.Grey(m + i * u, m + (i + 1) * u, lv.black + PercentOfSpan(lv.span, 10 * i));
  line.Grey(m + 10 * u, w, lv.white);
  line.BandLimit(bandLimit);
  line.CopyTo(frame, 0, FrameHeight(frame));
}

void DrawSawtooth(const FrameView& frame, const TestSignalSettings& settings, bool bandLimit) {
  if (!FrameIsUsable(frame)) return;
  const int32_t w = FrameWidth(frame);
  const Levels lv = LevelsOf(settings);
  const int32_t u = w * 704 / 7920;
  const int32_t m = 2 * ((w - 11 * u) / 4);
  Line line(w);
  line.Grey(0, u + m, lv.black);
  // The ramp rises over 9u pixels; it is empty when u is 0.
  const int32_t rampEnd = std::min(10 * u + m, w);
  for (int32_t x = u + m; x < rampEnd; ++x)
    line.Set(x, lv.black + static_cast<int32_t>(Rnd(static_cast<long double>((x - u - m) * lv.span) / (9 * u))));
  line.Grey(10 * u + m, w, lv.white);
  line.BandLimit(bandLimit);
  line.CopyTo(frame, 0, FrameHeight(frame));
}

void DrawPluge(const FrameView& frame, const TestSignalSettings& settings, bool bandLimit) {
  if (!FrameIsUsable(frame)) return;
  const int32_t w = FrameWidth(frame), h = FrameHeight(frame);
  const Levels lv = LevelsOf(settings);
  const int32_t two = PercentOfSpan(lv.span, 2);
  int32_t background, lower, upper;
  if (settings.signal == 6) {  // stripes at 0, +2 and +4 %
    background = lv.black + two;
    lower = lv.black;
    upper = lv.black + PercentOfSpan(lv.span, 4);
  } else {  // stripes at -2, 0 and +2 %
    background = lv.black;
    lower = std::max(lv.black - two, lv.floor);
    upper = lv.black + two;
  }
  auto col = [w](int32_t p) { return static_cast<int32_t>(Rnd(static_cast<long double>(w * p) * 0.01L)); };
  auto row = [](long double r) { return static_cast<int32_t>(Rnd(r)); };
  const int32_t band[6] = {row(h * (1.0L / 6)),     row(h * (1.0L / 3)),     row(h * 0.5L),
                           row(h * 2 * (1.0L / 3)), row(h * 5 * (1.0L / 6)), h};
  const int32_t patchFrom = col(56), patchTo = col(78);

  Line line(w);
  line.Grey(0, w, background);
  line.BandLimit(bandLimit);
  line.CopyTo(frame, 0, band[0]);

  line.Grey(0, col(22), background);
  line.Grey(col(22), col(26), lower);
  line.Grey(col(26), col(30), background);
  line.Grey(col(30), col(34), upper);
  line.Grey(col(34), patchFrom, background);
  line.Grey(patchFrom, patchTo, lv.black + FractionalPercentOfSpan(lv.span, 15.7L));
  line.Grey(patchTo, w, background);
  line.BandLimit(bandLimit);
  line.CopyTo(frame, band[0], band[1]);

  // The next bands change only the patch and filter the whole line again.
  const int32_t patch[3] = {lv.black + FractionalPercentOfSpan(lv.span, 28.6L),
                            lv.black + FractionalPercentOfSpan(lv.span, 64.3L), lv.white};
  for (int32_t i = 0; i < 3; ++i) {
    line.Grey(patchFrom, patchTo, patch[i]);
    line.BandLimit(bandLimit);
    line.CopyTo(frame, band[i + 1], band[i + 2]);
  }

  line.Grey(0, w, background);
  line.CopyTo(frame, band[4], band[5]);
}

void DrawTestSignal(const FrameView& frame, const TestSignalSettings& settings, bool bandLimit) {
  switch (settings.signal) {
    case 2:
      DrawColourBars(frame, settings, bandLimit);
      break;
    case 3:
      DrawSmpteBars(frame, settings, bandLimit);
      break;
    case 4:
      DrawGreyscale(frame, settings, bandLimit);
      break;
    case 5:
      DrawSawtooth(frame, settings, bandLimit);
      break;
    case 6:
    case 7:
      DrawPluge(frame, settings, bandLimit);
      break;
    default:  // 0: processing the clip, 1: monitor views only
      break;
  }
}

}  // namespace tarvo
