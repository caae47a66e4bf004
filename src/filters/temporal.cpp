#include "filters/temporal.h"

#include <algorithm>
#include <cmath>

#include "filters/kernel_set.h"
#include "filters/median3x3.h"
#include "filters/temporal_kernels.h"
#include "filters/temporal_tables.h"
#include "util/band_runner.h"

namespace tarvo {

using namespace temporal_detail;

namespace temporal_detail {

TemporalSettings ClampSettings(const TemporalSettings& s) {
  TemporalSettings c;
  c.threshold = std::clamp(s.threshold, 0, 100);
  c.recursion = std::clamp(s.recursion, 0, 100);
  c.onset = std::clamp(s.onset, 0, 100);
  c.limit = std::clamp(s.limit, 0, 100);
  c.response = std::clamp(s.response, 0, 100);
  c.flags = s.flags & 3;
  return c;
}

void BuildTemporalTables(const TemporalLevels& levels, int32_t flags, TemporalTables& out) {
  out.T = levels.T;
  out.flags = flags & 3;
  const int32_t m15 = levels.motion[15];
  // Every |med| >= kMedianClamp must share one answer: full motion.
  out.usable = 9 * kMedianClamp >= m15;
  for (int a = 0; a < 128; ++a) {
    int level = 0;
    if ((flags & 1) && a != 0) {
      const int32_t am = 9 * a;
      if (am >= m15) {
        level = kFullMotion;
      } else {
        level = 15;
        for (int i = 0; i < 16; ++i) {
          if (am < levels.motion[i]) {
            level = i;
            break;
          }
        }
      }
    }
    out.levelByMedian[a] = static_cast<uint8_t>(level);
  }
  for (int level = 0; level <= kFullMotion; ++level) {
    for (int j = 0; j < kTransferColumns; ++j) {
      const bool onCurve = level < kFullMotion && j <= levels.T;
      out.transfer[level * kTransferColumns + j] = onCurve ? levels.curve[level][j] : j;
      out.transferBytes[level * kTransferColumns + j] = static_cast<uint8_t>(out.transfer[level * kTransferColumns + j]);
    }
  }
  for (int j = 0; j < 128; ++j) out.transfer0[j] = static_cast<uint8_t>(out.transfer[j]);
  out.fullFromMedian = kMedianClamp;
  if (flags & 1) {
    while (out.fullFromMedian > 1 && out.levelByMedian[out.fullFromMedian - 1] == kFullMotion) --out.fullFromMedian;
  }
  // Below full motion |d| <= T - 1 and |med| <= K - 1 bound |s|.
  const int32_t K = out.fullFromMedian;
  int32_t jMax = out.T - 1;
  if (flags & 2) {
    const int32_t reach = 7 * (out.T - 1) + 9 * (K - 1);
    jMax = std::max(reach >> 4, -((-reach) >> 4));
  }
  out.jointRow = jMax + 1;
  out.smallJoint = (flags & 1) && out.T > 0 && K <= 15 && K * out.jointRow <= 128;
  if (out.smallJoint) {
    for (int a = 0; a < K; ++a) {
      out.jointStart[a] = static_cast<uint8_t>(a * out.jointRow);
      for (int j = 0; j < out.jointRow; ++j)
        out.joint[a * out.jointRow + j] = out.transferBytes[out.levelByMedian[a] * kTransferColumns + j];
    }
    out.jointStart[K] = 0x80;
    out.jointSlices = (K * out.jointRow + 15) / 16;
  }
  out.hasWideJoint = (flags & 1) && out.T > 0 && K * out.jointRow <= 512;
  if (out.hasWideJoint) {
    for (int a = 0; a < K; ++a)
      for (int j = 0; j < out.jointRow; ++j)
        out.wideJoint[a * out.jointRow + j] = out.transferBytes[out.levelByMedian[a] * kTransferColumns + j];
  }
}

namespace {

template <int Depth>
struct Cells;

template <>
struct Cells<1> {
  using T = uint8_t;
  static int32_t Diff(const uint8_t* h, ptrdiff_t k) { return static_cast<int8_t>(h[k]); }
  static uint8_t StoreDiff(int32_t d) { return static_cast<uint8_t>(std::clamp(d, -128, 127) & 0xFF); }
  static uint8_t StoreOut(int32_t v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }
};

template <>
struct Cells<2> {
  using T = int16_t;
  static int32_t Diff(const int16_t* h, ptrdiff_t k) { return h[k]; }
  static int16_t StoreDiff(int32_t d) { return Wrap16(d); }
  static int16_t StoreOut(int32_t v) { return Wrap16(v); }
};

template <int Depth>
void DiffScalar(const typename Cells<Depth>::T* cur, typename Cells<Depth>::T* hist, ptrdiff_t a, ptrdiff_t b) {
  for (ptrdiff_t i = a; i <= b; ++i)
    hist[i] = Cells<Depth>::StoreDiff(static_cast<int32_t>(cur[i]) - static_cast<int32_t>(hist[i]));
}

// Branch-free (the differences are noise, so comparisons are unpredictable)
// minimum and maximum for the shared median block.
struct ScalarOps {
  static int32_t Min(int32_t a, int32_t b) { return std::min(a, b); }
  static int32_t Max(int32_t a, int32_t b) { return std::max(a, b); }
};

// The median of a 3x3 block is the median of (largest column minimum, median
// of column medians, smallest column maximum) once each column is sorted; the
// column sorts are computed once per column and shared by the three samples
// whose blocks contain that column.
template <int Depth>
void MainScalar(typename Cells<Depth>::T* cur, const typename Cells<Depth>::T* hist, ptrdiff_t w, ptrdiff_t a,
                ptrdiff_t b, const TemporalTables& t) {
  using C = Cells<Depth>;
  constexpr ptrdiff_t kChunk = 256;
  int32_t lo[kChunk + 2], mid[kChunk + 2], hi[kChunk + 2];
  for (ptrdiff_t c = a; c <= b; c += kChunk) {
    const ptrdiff_t n = std::min(kChunk, b - c + 1);
    for (ptrdiff_t q = 0; q < n + 2; ++q) {
      const ptrdiff_t k = c - 1 + q;
      median3x3::SortColumn<ScalarOps>(C::Diff(hist, k - w), C::Diff(hist, k), C::Diff(hist, k + w), lo[q], mid[q],
                                       hi[q]);
    }
    for (ptrdiff_t q = 0; q < n; ++q) {
      const ptrdiff_t i = c + q;
      const int32_t d = C::Diff(hist, i);
      if (Abs32(d) >= t.T) continue;
      const int32_t med = median3x3::MedianOfColumns<ScalarOps>(lo[q], lo[q + 1], lo[q + 2], mid[q], mid[q + 1],
                                                                mid[q + 2], hi[q], hi[q + 1], hi[q + 2]);
      cur[i] = C::StoreOut(static_cast<int32_t>(cur[i]) - d + TransferDelta(d, med, t));
    }
  }
}

// Work and history must be distinct buffers of one size and Depth 1 or 2, at
// least 3 x 3 (smaller planes have no inner samples whose blocks stay inside
// the buffer).
bool PlanesUsable(const TChannel& work, const TChannel& history) {
  if (work.Depth() != 1 && work.Depth() != 2) return false;
  if (history.Depth() != work.Depth() || history.Width() != work.Width() || history.Height() != work.Height())
    return false;
  if (work.Width() < 3 || work.Height() < 3) return false;
  if (!work.HasBuffer() || !history.HasBuffer() || work.Data() == history.Data()) return false;
  return true;
}

// Linear index range of row y inside the processed range W+1 .. W*(H-1)-2.
struct RowSpan {
  ptrdiff_t a, b;
};
RowSpan SpanOfRow(ptrdiff_t w, ptrdiff_t h, ptrdiff_t y) {
  return {std::max(y * w, w + 1), std::min(y * w + w - 1, w * (h - 1) - 2)};
}

template <typename Cell, typename DiffFn, typename MainFn>
void RunRows(Cell* cur, Cell* hist, ptrdiff_t w, ptrdiff_t h, const TemporalTables& t, DiffFn diff, MainFn main) {
  // Row y is smoothed as soon as every difference its blocks reach is stored:
  // up to index b + w + 1, which for the last sample of a row is the first
  // sample of row y + 2. Each row is then read from memory about once, while
  // it is still in cache.
  const ptrdiff_t first = w + 1, last = w * (h - 1) - 2;
  ptrdiff_t stored = first - 1;  // differences are stored for first..stored
  for (ptrdiff_t y = 1; y <= h - 2; ++y) {
    const RowSpan s = SpanOfRow(w, h, y);
    const ptrdiff_t need = std::min(s.b + w + 1, last);
    if (need > stored) {
      diff(cur, hist, stored + 1, need);
      stored = need;
    }
    if (t.T > 0) main(cur, hist, w, s.a, s.b, t);
  }
}

// RunRows in row bands. A row's blocks reach the differences of the two rows
// above and below it, so a band's first two and last two rows are shared
// with its neighbours: their differences are stored for every band first.
// Then each band runs like RunRows, storing the differences of its inner rows
// just ahead of the smoothing, while they are in cache. A band writes only
// its own rows of both planes, and reads the current plane only in its own
// rows, before smoothing them.
template <typename Cell, typename DiffFn, typename MainFn>
void RunBands(Cell* cur, Cell* hist, ptrdiff_t w, ptrdiff_t h, const TemporalTables& t, DiffFn diff, MainFn main,
              const BandRunner& runner) {
  const ptrdiff_t first = w + 1, end = w * (h - 1) - 1;  // processed range, one past
  auto diffRows = [&](ptrdiff_t from, ptrdiff_t to) {
    const LinearSpan s = SpanInBand(RowRange{static_cast<int32_t>(from), static_cast<int32_t>(to)}, w, first, end);
    if (!s.Empty()) diff(cur, hist, s.a, s.b - 1);
  };
  const int32_t rows = static_cast<int32_t>(h), bands = std::min(runner.Parallelism(), rows);
  // A few rows per band: on the calling thread, which saves the threads a
  // meeting for so little work.
  for (int32_t i = 0; i < bands; ++i) {
    const RowRange b = BandRows(rows, bands, i);
    diffRows(b.begin, std::min(b.begin + 2, b.end));
    diffRows(std::max(b.end - 2, b.begin + 2), b.end);
  }
  if (t.T <= 0) return;
  ForEachBand(runner, rows, bands, [&](RowRange b) {
    // The inner rows begin + 2 .. end - 3, as a linear range; differences are
    // stored up to index `stored`.
    const LinearSpan inner = SpanInBand(RowRange{b.begin + 2, b.end - 2}, w, first, end);
    ptrdiff_t stored = inner.a - 1;
    for (ptrdiff_t y = b.begin; y < b.end; ++y) {
      const LinearSpan s = SpanInBand(RowRange{static_cast<int32_t>(y), static_cast<int32_t>(y + 1)}, w, first, end);
      if (s.Empty()) continue;
      // Row y reads differences up to the first sample of row y + 2.
      const ptrdiff_t need = std::min(s.b + w, inner.b - 1);
      if (need > stored) {
        diff(cur, hist, stored + 1, need);
        stored = need;
      }
      main(cur, hist, w, s.a, s.b - 1, t);
    }
  });
}

}  // namespace

void Diff8Scalar(const uint8_t* cur, uint8_t* hist, ptrdiff_t a, ptrdiff_t b) { DiffScalar<1>(cur, hist, a, b); }
void Diff16Scalar(const int16_t* cur, int16_t* hist, ptrdiff_t a, ptrdiff_t b) { DiffScalar<2>(cur, hist, a, b); }
void Main8Scalar(uint8_t* cur, const uint8_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b, const TemporalTables& t) {
  MainScalar<1>(cur, hist, w, a, b, t);
}
void Main16Scalar(int16_t* cur, const int16_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b,
                  const TemporalTables& t) {
  MainScalar<2>(cur, hist, w, a, b, t);
}

namespace {
constexpr Kernels kScalar = {Diff8Scalar, Diff16Scalar, Main8Scalar, Main16Scalar};
}  // namespace

const Kernels& ScalarKernels() { return kScalar; }

}  // namespace temporal_detail

int temporal_detail::MotionLevel(const TemporalLevels& levels, int32_t m) {
  if (m == 0) return 0;
  const int32_t am = std::abs(m);
  if (am >= levels.motion[15]) return kFullMotion;
  int level = 0;
  while (am >= levels.motion[level]) ++level;
  return level;
}

TemporalLevels BuildTemporalLevels(const TemporalSettings& settings) {
  const TemporalSettings s = ClampSettings(settings);
  TemporalLevels lv;
  const int32_t T = s.threshold * 123 / 100;
  lv.T = T;
  const long double A = 2.0L * powl(2.0L, s.recursion * 0.02L);
  const int32_t O = (3 * T * s.onset) / 100;
  const int32_t L = ((9 * T - O) * s.limit) / 100 + O;
  const long double R = s.response * 0.01L + 1.0L;
  const long double Q = powl(static_cast<long double>(L - O), 1.0L - R);
  const long double G = powl(A, 0.0625L);
  // With L = O and an exponent above 1 the normaliser 0^(1-R) is infinite;
  // the thresholds then all sit at the onset, as they do for R = 1.
  const bool flat = L == O;
  long double B = 1.0L / A;
  const int32_t third = T / 3;
  for (int i = 0; i < 16; ++i) {
    const int32_t v = ((L - O) * i) / 15;
    lv.motion[i] = flat ? O : static_cast<int32_t>(FastRnd(powl(static_cast<long double>(v), R) * Q + O));
    const long double D = (3.0L - B) * 0.5L;
    for (int32_t j = 0; j <= T; ++j) {
      const int64_t f = j <= third ? FastRnd(B * j) : FastRnd(D * j - (D - 1.0L) * T);
      lv.curve[i][j] = static_cast<uint8_t>(std::clamp<int64_t>(f, 0, 255));
    }
    B = B * G;
  }
  return lv;
}

void TemporalSmoothReference(TChannel& work, TChannel& history, const TemporalSettings& settings,
                             bool historyValid) {
  if (!historyValid || !PlanesUsable(work, history)) return;
  const TemporalSettings st = ClampSettings(settings);
  const TemporalLevels lv = BuildTemporalLevels(st);
  const int32_t T = lv.T;
  const ptrdiff_t w = work.Width(), h = work.Height();
  const ptrdiff_t first = w + 1, last = w * (h - 1) - 2;
  const bool deep = work.Depth() == 2;
  uint8_t* c8 = work.Data();
  uint8_t* h8 = history.Data();
  int16_t* c16 = work.Data16();
  int16_t* h16 = history.Data16();
  auto current = [&](ptrdiff_t k) -> int32_t { return deep ? c16[k] : c8[k]; };
  auto stored = [&](ptrdiff_t k) -> int32_t { return deep ? h16[k] : static_cast<int8_t>(h8[k]); };

  // Differences, stored in place of the history samples.
  for (ptrdiff_t i = first; i <= last; ++i) {
    const int32_t d = current(i) - (deep ? h16[i] : h8[i]);
    if (deep)
      h16[i] = Wrap16(d);
    else
      h8[i] = static_cast<uint8_t>(std::clamp(d, -128, 127) & 0xFF);
  }

  const ptrdiff_t offsets[9] = {-w - 1, -w, -w + 1, -1, 0, 1, w - 1, w, w + 1};
  for (ptrdiff_t i = first; i <= last; ++i) {
    const int32_t d = stored(i);
    if (std::abs(d) >= T) continue;
    int32_t block[9];
    for (int k = 0; k < 9; ++k) block[k] = stored(i + offsets[k]);
    std::sort(block, block + 9);
    const int32_t m = 9 * block[4];
    const int32_t s = (st.flags & 2) ? (7 * d + m) >> 4 : d;

    const int level = (st.flags & 1) ? MotionLevel(lv, m) : 0;
    const bool full = level == kFullMotion;

    int32_t out;
    if (full) {
      out = s == d ? current(i) : current(i) - d + s;
    } else {
      // The curves end on the identity at T; a larger |s| (smoothing without
      // motion detection) transfers as the identity too.
      const int32_t j = std::abs(s);
      const int32_t f = j <= T ? lv.curve[level][j] : j;
      out = s >= 0 ? current(i) - d + f : current(i) - d - f;
    }
    if (deep)
      c16[i] = Wrap16(out);
    else
      c8[i] = static_cast<uint8_t>(std::clamp(out, 0, 255));
  }
}

void TemporalSmooth(TChannel& work, TChannel& history, const TemporalSettings& settings, bool historyValid,
                    const temporal_detail::Kernels& kernels, const BandRunner& runner) {
  if (!historyValid || !PlanesUsable(work, history)) return;
  const TemporalSettings st = ClampSettings(settings);
  const TemporalLevels lv = BuildTemporalLevels(st);
  TemporalTables tables;
  BuildTemporalTables(lv, st.flags, tables);
  if (!tables.usable) {
    TemporalSmoothReference(work, history, st, historyValid);
    return;
  }
  const ptrdiff_t w = work.Width(), h = work.Height();
  const int32_t bands = runner.Parallelism();
  if (bands <= 1) {
    if (work.Depth() == 1)
      RunRows(work.Data(), history.Data(), w, h, tables, kernels.diff8, kernels.main8);
    else
      RunRows(work.Data16(), history.Data16(), w, h, tables, kernels.diff16, kernels.main16);
    return;
  }
  if (work.Depth() == 1)
    RunBands(work.Data(), history.Data(), w, h, tables, kernels.diff8, kernels.main8, runner);
  else
    RunBands(work.Data16(), history.Data16(), w, h, tables, kernels.diff16, kernels.main16, runner);
}

void TemporalSmooth(TChannel& work, TChannel& history, const TemporalSettings& settings, bool historyValid,
                    const temporal_detail::Kernels& kernels) {
  TemporalSmooth(work, history, settings, historyValid, kernels, SerialRunner());
}

void TemporalSmooth(TChannel& work, TChannel& history, const TemporalSettings& settings, bool historyValid) {
  TemporalSmooth(work, history, settings, historyValid, *ActiveKernelSet().temporal);
}

}  // namespace tarvo
