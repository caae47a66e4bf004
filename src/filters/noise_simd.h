// Vectorised despeckle and median kernels, written once over a small set of
// lane operations and instantiated per instruction set (noise_sse2.cpp,
// noise_avx2.cpp). Everything here has internal linkage and uses no library
// code, so that code compiled for one instruction set is never shared with a
// unit compiled for another.
//
// An Ops type provides: T (sample type), V (vector type), kLanes, Load, Store,
// Set1, Min, Max, AddS, SubS (saturating), CmpEq, And, AndNot (~a & b), Or,
// MakeStep and Raise/Lower (one despeckle step) and FloorAvg ((a + b) >> 1
// without overflow).
#pragma once

#include <cstddef>
#include <cstdint>

#include "filters/median3x3.h"
#include "filters/noise_kernels.h"
#include "filters/noise_passes.h"

namespace tarvo::noise {
namespace {

inline int MinInt(int a, int b) { return a < b ? a : b; }
inline int MaxInt(int a, int b) { return a > b ? a : b; }
inline long long MinLL(long long a, long long b) { return a < b ? a : b; }
inline long long MaxLL(long long a, long long b) { return a > b ? a : b; }

// The plain entries for what a vector entry leaves to them.
inline void MedianFallback(const uint8_t* src, uint8_t* dst, int w, int h, int y0, int y1, int maxStep, int threshold,
                           bool weighted) {
  MedianScalar8(src, dst, w, h, y0, y1, maxStep, threshold, weighted);
}
inline void MedianFallback(const int16_t* src, int16_t* dst, int w, int h, int y0, int y1, int maxStep, int threshold,
                           bool weighted) {
  MedianScalar16(src, dst, w, h, y0, y1, maxStep, threshold, weighted);
}

// ---------------------------------------------------------------- despeckle

// out[i] = one step of in[i] against nb[i] for i < count. out never aliases in
// or nb, so the last vector may overlap the one before it.
template <class O, bool kRaise>
void PassRow(typename O::T* out, const typename O::T* in, const typename O::T* nb, int count, int step) {
  using T = typename O::T;
  if (count < O::kLanes) {
    for (int i = 0; i < count; ++i) {
      const int p = in[i], n = nb[i];
      out[i] = static_cast<T>(kRaise ? (p + step < n ? p + step : p) : (n < p - step ? p - step : p));
    }
    return;
  }
  const auto k = O::MakeStep(step);
  auto one = [&](int i) {
    const auto p = O::Load(in + i);
    const auto n = O::Load(nb + i);
    O::Store(out + i, kRaise ? O::Raise(p, n, k) : O::Lower(p, n, k));
  };
  int i = 0;
#pragma GCC unroll 4
  for (; i + O::kLanes <= count; i += O::kLanes) one(i);
  if (i < count) one(count - O::kLanes);
}

// PassRow into a ring row in whole vectors: count rounded up to a multiple
// of kLanes. The lanes beyond count compute values nobody reads, from samples
// that the ring's padding and its next rows hold; this saves the remainder
// and the overlapping last vector on the short rows of the strip kernel.
template <class O, bool kRaise>
inline void PassRowWhole(typename O::T* out, const typename O::T* in, const typename O::T* nb, int count,
                         int step) {
  const auto k = O::MakeStep(step);
#pragma GCC unroll 4
  for (int i = 0; i < count; i += O::kLanes) {
    const auto p = O::Load(in + i);
    const auto q = O::Load(nb + i);
    O::Store(out + i, kRaise ? O::Raise(p, q, k) : O::Lower(p, q, k));
  }
}

struct TStage {
  int offset;  // dy * width + dx
  int step;
  bool raise;
  int dy, dx;
};

// A group of consecutive passes runs as one pipeline over the rows. Each pass is a
// simultaneous update (new[i] from old[i] and old[i + offset], offset at most
// one row and one sample away), so pass s can work on row r once pass s - 1
// has finished rows up to r + 2: pass s trails pass s - 1 by kLag = 2 rows,
// and within one step of the pipeline the passes run in order. Passes write
// alternately into a ring of rows (`ring`) and into the destination plane,
// never into the plane they read. The next writer of the plane that pass s
// reads is pass s + 1, which in the same step writes row r - 2 only after pass
// s has read it; so every read sees exactly the previous pass's result. The
// live rows of the pipeline stay in the core's cache, so the plane streams
// through memory once for the whole group of passes.
//
// The ring holds ringRows row slots plus copies of slots 0..3 behind the last
// slot, so rows r - 2 .. r + 2 around any slot are contiguous and linear
// neighbour offsets work unchanged (side columns wrap into adjacent rows).
constexpr int kLag = 2;

template <class O>
void RunDespecklePipeline(const typename O::T* in, typename O::T* dst, int width, int height, const TStage* stages,
                          int stageCount) {
  using T = typename O::T;
  // Rows from the oldest one still read (by the last pass) to the newest one
  // written (by the first) span kLag * stageCount + 2 rows.
  const int ringRows = kLag * stageCount + 4;
  const size_t rowBytes = static_cast<size_t>(width) * sizeof(T);
  T* ring = reinterpret_cast<T*>(Scratch((ringRows + 4) * rowBytes));
  auto slot = [&](int y) { return y % ringRows; };
  auto readRow = [&](int y) {
    const int s = slot(y);
    return ring + static_cast<size_t>(s < 2 ? s + ringRows : s) * width;
  };
  auto writeRow = [&](int y) { return ring + static_cast<size_t>(slot(y)) * width; };
  auto mirror = [&](int y) {
    const int s = slot(y);
    if (s < 4)
      __builtin_memcpy(ring + static_cast<size_t>(s + ringRows) * width, ring + static_cast<size_t>(s) * width,
                       rowBytes);
  };
  const size_t lastRow = static_cast<size_t>(height - 1) * width;
  if (in != dst) {
    // Samples the passes never write keep the source values.
    __builtin_memcpy(dst, in, rowBytes);
    __builtin_memcpy(dst + lastRow, in + lastRow, rowBytes);
    dst[width] = in[width];
    dst[lastRow - 1] = in[lastRow - 1];
  }
  const int first = width + 1;               // first filtered index
  const int end = width * (height - 1) - 1;  // one past the last
  const int lastT = (height - 1) + kLag * (stageCount - 1);
  for (int t = 0; t <= lastT; ++t) {
    for (int s = 0; s < stageCount; ++s) {
      const int r = t - kLag * s;
      if (r < 0) break;
      if (r > height - 1) continue;
      if (s == 0 && (r == 0 || r == height - 1)) {
        __builtin_memcpy(writeRow(r), in + static_cast<size_t>(r) * width, rowBytes);
        mirror(r);
        continue;
      }
      if (r == 0 || r == height - 1) continue;
      const int a = MaxInt(r * width, first);
      const int b = MinInt(r * width + width, end);
      const int x0 = a - r * width;
      const TStage& st = stages[s];
      const T* src;
      T* out;
      if (s % 2 == 0) {  // plane -> ring
        src = (s == 0 ? in : dst) + a;
        out = writeRow(r) + x0;
      } else {  // ring -> plane
        src = readRow(r) + x0;
        out = dst + a;
      }
      if (st.raise)
        PassRow<O, true>(out, src, src + st.offset, b - a, st.step);
      else
        PassRow<O, false>(out, src, src + st.offset, b - a, st.step);
      if (s % 2 == 0) {
        if (s == 0) {
          T* row = writeRow(r);
          if (r == 1) row[0] = in[width];
          if (r == height - 2) row[width - 1] = in[lastRow - 1];
        }
        mirror(r);
      }
    }
  }
}

// The strip form of a group of passes. The live rows of a whole group over
// rows of full width outgrow the core's first-level cache, and groups small
// enough to fit it sweep the plane through the outer caches many times; so
// the plane is cut into strips of columns c0 .. c1 - 1, and each strip runs
// the whole group as one pipeline down its rows, on rows short enough to stay
// in the first-level cache.
//
// Column c of strip row r is linear index r * width + c, for any integer c:
// neighbour offsets are linear (dy * width + dx), so the neighbour of (r, c)
// is (r + dy, c + dx) also where c + dx leaves 0 .. width - 1 and the index
// wraps into the next or previous row. A pass reads one column further to
// either side than the pass after it needs, so pass s of a group of n
// computes the columns c0 - h .. c1 + h - 1 with h = n - 1 - s, a halo the
// later passes consume.
//
// Each pass writes its rows into a ring of three rows of its own, which the
// next pass reads two rows behind it: at step t input row t is gathered into
// ring 0 and pass s works on row r = t - 1 - 2 s, reading the rows r - 1 ..
// r + 1 that pass s - 1 made in earlier steps. The passes of a step run from
// the last to the first, so pass s - 1 overwrites row r - 1 with row r + 2
// only after pass s has read it, and a row is read a whole step after it was
// written (reading it while its stores are still in flight would stall). Rows -1
// and height take part so that the halo columns of rows 0 and height - 1
// (which wrap into them) exist. Only the filtered range [width + 1,
// width * (height - 1) - 1) is computed; every other index inside the plane
// keeps its input value, and indices outside the plane are never read. The
// last pass writes the strip's own columns of the destination.
//
// In place, a strip's gather would read input that earlier strips have
// already overwritten: the n columns left of c0 (written by the strip before)
// and, in the last strip, the n columns beyond the end of a row (the first
// columns of the next row, written by the first strip). Those inputs are
// saved, a row at a time, just before a strip overwrites them.
constexpr int kStripMaxPasses = kDespeckleStripMaxPasses;

// Columns per strip for a group of n passes on samples of `bytes` bytes: the
// rings of all passes (three rows of the strip and its halos each) fill
// about `budget` bytes.
inline int DespeckleStripColumns(int n, int bytes, size_t budget) {
  const long long cols = static_cast<long long>(budget) / (3LL * n * bytes) - 2LL * n;
  return static_cast<int>(cols < 64 ? 64 : cols);
}

// Rows narrower than this take the row pipeline: a strip must be at least as
// wide as the halo it saves for its neighbour, and short rows fit the
// first-level cache anyway.
constexpr int kStripMinWidth = kDespeckleStripMinWidth;

//
// A band computes only the rows rowBegin .. rowEnd - 1 of the result (src and
// dst are then different planes): pass s works on the rows its successors
// reach, rowBegin - h .. rowEnd + h - 1, and the band's halo rows are
// recomputed privately, as in RunDespeckleBand.
//
// A band may also run in place (`halo` given, src == dst): its input beyond
// its own rows then comes from the halo copies, and inside them as in the
// whole-plane case (the band's last pass writes only its own rows, in the
// same order).
template <class O>
void RunDespeckleStrips(const typename O::T* src, typename O::T* dst, int width, int height, const TStage* stages,
                        int n, int stripCols, int rowBegin, int rowEnd, const DespeckleBand* halo = nullptr) {
  using T = typename O::T;
  const long long first = width + 1, end = static_cast<long long>(width) * (height - 1) - 1;
  const long long size = static_cast<long long>(width) * height;
  // The samples read from the plane itself: in a band run in place, only
  // those of its own rows.
  const long long planeLo = halo ? static_cast<long long>(rowBegin) * width : 0;
  const long long planeHi = halo ? static_cast<long long>(rowEnd) * width : size;
  const int strips = (width + stripCols - 1) / stripCols;
  const bool save = src == dst && strips > 1;
  // Ring s holds the columns c0 - n + s .. c1 + n - s - 1 (the input of pass
  // s, which pass s - 1 computes) from the start of a row, so that every
  // pass stores from a cache-line boundary. Rows are whole cache lines, plus
  // one so that the rows of different rings fall on different cache sets.
  constexpr int kLine = 64 / static_cast<int>(sizeof(T));
  const int widest = (width + strips - 1) / strips;
  const size_t pitch = static_cast<size_t>(((widest + 2 * n + kLine - 1) / kLine + 1) * kLine);
  const size_t ringSize = 3 * pitch;
  const size_t saveSize = save ? static_cast<size_t>(height) * n : 0;
  uint8_t* raw = Scratch((n * ringSize + 3 * saveSize) * sizeof(T) + 64);
  T* const rings = reinterpret_cast<T*>(raw + (64 - reinterpret_cast<uintptr_t>(raw) % 64) % 64);
  // Saved inputs: the n columns left of the next strip (two buffers, the one
  // the current strip reads and the one it fills) and the first n columns of
  // every row, which the last strip reads.
  T* const saved[2] = {rings + n * ringSize, rings + n * ringSize + saveSize};
  T* const wrap = rings + n * ringSize + 2 * saveSize;

  for (int k = 0; k < strips; ++k) {
    const int c0 = static_cast<int>(static_cast<long long>(width) * k / strips);
    const int c1 = static_cast<int>(static_cast<long long>(width) * (k + 1) / strips);
    const T* const leftSaved = saved[k & 1];
    T* const nextSaved = saved[(k + 1) & 1];
    const bool last = k == strips - 1;
    // Row r (-1 .. height) of ring s, at column c.
    auto ring = [&](int s, int r, long long c) {
      return rings + s * ringSize + static_cast<size_t>((r + 3) % 3) * pitch + (c - (c0 - n + s));
    };
    // Columns ca .. cb - 1 of input row r into ring 0, from `from(c)`, the
    // input at column c; the part outside the plane is left out.
    auto piece = [&](int r, int ca, int cb, auto from) {
      const long long base = static_cast<long long>(r) * width;
      const long long ja = base + ca > planeLo ? base + ca : planeLo, jb = base + cb < planeHi ? base + cb : planeHi;
      if (ja < jb)
        __builtin_memcpy(ring(0, r, ja - base), from(static_cast<int>(ja - base)),
                         static_cast<size_t>(jb - ja) * sizeof(T));
    };
    auto gather = [&](int r) {
      const long long base = static_cast<long long>(r) * width;
      if (halo) {
        // The parts beyond the band's rows, from the halo copies.
        const long long ja = base + c0 - n > 0 ? base + c0 - n : 0;
        const long long jb = base + c1 + n < size ? base + c1 + n : size;
        if (ja < planeLo) CopyBandInput(ring(0, r, ja - base), src, ja, MinLL(jb, planeLo), width, *halo, true);
        if (jb > planeHi) {
          const long long f = MaxLL(ja, planeHi);
          CopyBandInput(ring(0, r, f - base), src, f, jb, width, *halo, true);
        }
      }
      auto plane = [&](int c) { return src + (base + c); };
      const bool savedLeft = save && k > 0, savedRight = save && last;
      if (savedLeft)
        piece(r, c0 - n, c0, [&](int c) { return leftSaved + static_cast<size_t>(r) * n + (c - (c0 - n)); });
      piece(r, savedLeft ? c0 : c0 - n, savedRight ? c1 : c1 + n, plane);
      if (savedRight)
        piece(r, c1, c1 + n, [&](int c) { return wrap + static_cast<size_t>(r + 1) * n + (c - width); });
    };
    // Pass s on strip row r.
    auto pass = [&](int s, int r) {
      const int h = n - 1 - s;
      const long long base = static_cast<long long>(r) * width;
      const long long lo = base + c0 - h, hi = base + c1 + h;
      const bool toPlane = s == n - 1;
      if (toPlane && save) {
        if (!last) __builtin_memcpy(nextSaved + static_cast<size_t>(r) * n, src + base + c1 - n, n * sizeof(T));
        if (k == 0) __builtin_memcpy(wrap + static_cast<size_t>(r) * n, src + base, n * sizeof(T));
      }
      auto out = [&](long long c) { return toPlane ? dst + (base + c) : ring(s + 1, r, c); };
      const long long a = lo > first ? lo : first, b = hi < end ? hi : end;
      if (a != lo || b != hi) {
        // In-plane samples outside the filtered range keep their input
        // value, which every ring holds there.
        auto keep = [&](long long from, long long to) {
          if (from < to)
            __builtin_memcpy(out(from - base), ring(s, r, from - base), static_cast<size_t>(to - from) * sizeof(T));
        };
        const long long lo0 = lo > 0 ? lo : 0, hi0 = hi < size ? hi : size;
        if (a >= b) {
          keep(lo0, hi0);
          return;
        }
        keep(lo0, a);
        keep(b, hi0);
      }
      const TStage& st = stages[s];
      const long long x = a - base;
      const T* nb = ring(s, r + st.dy, x + st.dx);
      if (st.raise)
        PassRow<O, true>(out(x), ring(s, r, x), nb, static_cast<int>(b - a), st.step);
      else
        PassRow<O, false>(out(x), ring(s, r, x), nb, static_cast<int>(b - a), st.step);
    };
    const int gatherFirst = MaxInt(-1, rowBegin - n), gatherLast = MinInt(height, rowEnd + n - 1);
    const int fastFirst = MaxInt(2, rowBegin), fastLast = MinInt(height - 3, rowEnd + n - 2);
    for (int t = gatherFirst; t <= rowEnd + 2 * n - 2; ++t) {
      if (t <= gatherLast) {
        // The input rows a few steps ahead, which the cache's own prefetcher
        // does not foresee across the jump from one strip row to the next. A
        // hint only: it never faults, and the addresses are formed as
        // integers, since the last ones may lie past the end of the plane.
        if (t + 4 <= gatherLast && t + 4 < height) {
          const uintptr_t p = reinterpret_cast<uintptr_t>(src + static_cast<long long>(t + 4) * width +
                                                          (c0 > n ? c0 - n : 0));
          for (int c = 0; c < c1 - c0 + 2 * n; c += kLine)
            __builtin_prefetch(reinterpret_cast<const void*>(p + static_cast<uintptr_t>(c) * sizeof(T)));
        }
        gather(t);
      }
      if (t - 1 - 2 * (n - 1) >= fastFirst && t - 1 <= fastLast) {
        // Every pass on a row inside the filtered range: no edges to mind.
        const int r = t - 1 - 2 * (n - 1);
        if (save) {
          const long long base = static_cast<long long>(r) * width;
          if (!last) __builtin_memcpy(nextSaved + static_cast<size_t>(r) * n, src + base + c1 - n, n * sizeof(T));
          if (k == 0) __builtin_memcpy(wrap + static_cast<size_t>(r) * n, src + base, n * sizeof(T));
        }
        int slot = (r + 3) % 3;  // of row t - 1 - 2 s, for s = n - 1
        const int cols = c1 - c0;
        for (int s = n - 1; s >= 0; --s) {
          const TStage& st = stages[s];
          const int h = n - 1 - s;
          const T* const ringIn = rings + s * ringSize;
          const int nbSlot = slot + st.dy < 0 ? slot + st.dy + 3 : slot + st.dy > 2 ? slot + st.dy - 3 : slot + st.dy;
          const T* in = ringIn + static_cast<size_t>(slot) * pitch + 1;
          const T* nb = ringIn + static_cast<size_t>(nbSlot) * pitch + 1 + st.dx;
          T* out = s == n - 1 ? dst + (static_cast<long long>(r) * width + c0)
                              : rings + (s + 1) * ringSize + static_cast<size_t>(slot) * pitch;
          if (s == n - 1) {
            if (st.raise)
              PassRow<O, true>(out, in, nb, cols, st.step);
            else
              PassRow<O, false>(out, in, nb, cols, st.step);
          } else if (st.raise) {
            PassRowWhole<O, true>(out, in, nb, cols + 2 * h, st.step);
          } else {
            PassRowWhole<O, false>(out, in, nb, cols + 2 * h, st.step);
          }
          slot = slot == 0 ? 2 : slot - 1;  // row r + 2
        }
        continue;
      }
      for (int s = n - 1; s >= 0; --s) {
        const int r = t - 1 - 2 * s, h = n - 1 - s;
        if (r < MaxInt(-1, rowBegin - h) || r > MinInt(height, rowEnd + h - 1)) continue;
        if (s == n - 1 && (r < 0 || r >= height)) continue;
        pass(s, r);
      }
    }
  }
}

template <class O>
void DespeckleVector(const typename O::T* in, typename O::T* out, int width, int height, int strength) {
  using T = typename O::T;
  const int scale = static_cast<int>(sizeof(T));
  int steps[3];
  const int cycles = DespeckleSteps(strength, steps);
  TStage stages[48];
  int n = 0;
  for (int c = 0; c < cycles; ++c)
    for (const TPassDir& d : kPasses) stages[n++] = TStage{d.dy * width + d.dx, steps[c] * scale, d.raise, d.dy, d.dx};
  // Rows of kStripMinWidth samples or more run in column strips, sixteen
  // passes per sweep over the plane. Narrower planes run the row pipeline in
  // groups small enough that the rows live in one group stay in the core's
  // cache; each group is one streaming sweep over the plane, with an even
  // number of passes so that its last pass writes the plane.
  if (width >= kStripMinWidth) {
    const int group = MinInt(kStripMaxPasses, n);
    const int cols = DespeckleStripColumns(group, static_cast<int>(sizeof(T)), kDespeckleStripBudget);
    for (int s0 = 0; s0 < n; s0 += group)
      RunDespeckleStrips<O>(s0 == 0 ? in : out, out, width, height, stages + s0, MinInt(group, n - s0), cols, 0,
                            height);
    return;
  }
  const int group = DespeckleGroupPasses(static_cast<size_t>(width) * sizeof(T), static_cast<size_t>(height));
  for (int s0 = 0; s0 < n; s0 += group)
    RunDespecklePipeline<O>(s0 == 0 ? in : out, out, width, height, stages + s0, MinInt(group, n - s0));
}

// The banded form of the pipeline: rows [rowBegin, rowEnd) of the result of
// a group of passes over the read-only plane `in`, written into `out` (a
// different plane) and nowhere else in it. Pass s computes the linear range
// DespeckleBandRange gives (the band widened by width + 1 samples for every
// later pass), so the halo rows beyond the band are recomputed privately.
// Passes alternate between two rings of rows (even passes into ring 0, odd
// ones into ring 1) instead of writing intermediate rows into a plane that
// other bands own; the last pass writes `out`. The schedule and the ring
// lifetimes are those of RunDespecklePipeline: pass s trails pass s - 1 by
// kLag rows, every ring holds the rows from the oldest one its reader still
// needs to the newest one its writers make, and rows 0 and height - 1 and the
// two unfiltered samples beside them are copied into a ring from `in` when a
// pass reaches them, so a later pass reads them as it would in the plane.
template <class O>
void RunDespeckleBand(const typename O::T* in, typename O::T* out, int width, int height, const TStage* stages,
                      int stageCount, int rowBegin, int rowEnd) {
  using T = typename O::T;
  const size_t rowBytes = static_cast<size_t>(width) * sizeof(T);
  const int end = width * (height - 1) - 1;  // one past the last filtered index
  // Samples of the band the passes never write keep the input values.
  if (rowBegin == 0) __builtin_memcpy(out, in, rowBytes);
  if (rowEnd == height) {
    const size_t lastRow = static_cast<size_t>(height - 1) * width;
    __builtin_memcpy(out + lastRow, in + lastRow, rowBytes);
  }
  if (rowBegin <= 1 && 1 < rowEnd) out[width] = in[width];
  if (rowBegin <= height - 2 && height - 2 < rowEnd) out[end] = in[end];
  int range[48][2];
  for (int s = 0; s < stageCount; ++s)
    DespeckleBandRange(width, height, stageCount, s, rowBegin, rowEnd, range[s][0], range[s][1]);
  if (range[stageCount - 1][0] >= range[stageCount - 1][1]) return;  // nothing filtered in the band

  const int ringRows = kLag * stageCount + 4;
  const size_t ringSize = static_cast<size_t>(ringRows + 4) * width;
  T* rings = reinterpret_cast<T*>(Scratch(2 * ringSize * sizeof(T)));
  auto slot = [&](int y) { return y % ringRows; };
  auto readRow = [&](int k, int y) {
    const int s = slot(y);
    return rings + k * ringSize + static_cast<size_t>(s < 2 ? s + ringRows : s) * width;
  };
  auto writeRow = [&](int k, int y) { return rings + k * ringSize + static_cast<size_t>(slot(y)) * width; };
  auto mirror = [&](int k, int y) {
    const int s = slot(y);
    if (s < 4)
      __builtin_memcpy(rings + k * ringSize + static_cast<size_t>(s + ringRows) * width,
                       rings + k * ringSize + static_cast<size_t>(s) * width, rowBytes);
  };
  // Rows some pass works on: from the row before the first pass's range (the
  // rows its successor reads) to the row after it.
  const int rowLo = MaxInt(0, range[0][0] / width - 1);
  const int rowHi = MinInt(height, (range[0][1] - 1) / width + 2);
  const int lastT = (rowHi - 1 - rowLo) + kLag * (stageCount - 1);
  for (int t = 0; t <= lastT; ++t) {
    for (int s = 0; s < stageCount; ++s) {
      const int r = rowLo + t - kLag * s;
      if (r < rowLo) break;
      if (r >= rowHi) continue;
      const bool last = s == stageCount - 1;
      if (r == 0 || r == height - 1) {
        if (!last) {
          __builtin_memcpy(writeRow(s & 1, r), in + static_cast<size_t>(r) * width, rowBytes);
          mirror(s & 1, r);
        }
        continue;
      }
      const int a = MaxInt(r * width, range[s][0]);
      const int b = MinInt(r * width + width, range[s][1]);
      if (a < b) {
        const int x0 = a - r * width;
        const TStage& st = stages[s];
        const T* src = s == 0 ? in + a : readRow((s - 1) & 1, r) + x0;
        T* dst = last ? out + a : writeRow(s & 1, r) + x0;
        if (st.raise)
          PassRow<O, true>(dst, src, src + st.offset, b - a, st.step);
        else
          PassRow<O, false>(dst, src, src + st.offset, b - a, st.step);
      }
      if (!last) {
        T* row = writeRow(s & 1, r);
        if (r == 1) row[0] = in[width];
        if (r == height - 2) row[width - 1] = in[end];
        mirror(s & 1, r);
      }
    }
  }
}

// The stages of passes first .. first + count - 1 of the sequence for a
// strength of 1..4; returns the number of stages written.
inline int DespeckleStages(int width, int scale, int strength, int first, int count, TStage stages[48]) {
  int steps[3];
  const int cycles = DespeckleSteps(strength < 1 ? 1 : strength > 4 ? 4 : strength, steps);
  int n = 0;
  for (int p = first; p < first + count && p < 16 * cycles; ++p) {
    const TPassDir& d = kPasses[p % 16];
    stages[n++] = TStage{d.dy * width + d.dx, steps[p / 16] * scale, d.raise, d.dy, d.dx};
  }
  return n;
}

template <class O>
void DespeckleBandVector(const typename O::T* in, typename O::T* out, int width, int height,
                         const DespeckleBand& band) {
  using T = typename O::T;
  TStage stages[48];
  const int first = MaxInt(band.first, 0);
  const int n = DespeckleStages(width, static_cast<int>(sizeof(T)), band.strength, first, band.count, stages);
  const int rowBegin = MaxInt(band.rowBegin, 0), rowEnd = MinInt(band.rowEnd, height);
  if (rowBegin >= rowEnd) return;
  if (n == 0) {
    if (in != out)
      __builtin_memcpy(out + static_cast<size_t>(rowBegin) * width, in + static_cast<size_t>(rowBegin) * width,
                       static_cast<size_t>(rowEnd - rowBegin) * width * sizeof(T));
    return;
  }
  const bool inPlace = in == out;
  if (width >= kStripMinWidth && n <= kStripMaxPasses) {
    const int cols = DespeckleStripColumns(n, static_cast<int>(sizeof(T)), kDespeckleStripBudget);
    RunDespeckleStrips<O>(in, out, width, height, stages, n, cols, rowBegin, rowEnd, inPlace ? &band : nullptr);
    return;
  }
  if (inPlace) {
    // Narrow rows in place: banded despeckle cuts them into bands of their
    // own planes, so this is the plain version's rare case.
    if constexpr (sizeof(T) == 1)
      DespeckleBandScalar8(in, out, width, height, band);
    else
      DespeckleBandScalar16(in, out, width, height, band);
    return;
  }
  RunDespeckleBand<O>(in, out, width, height, stages, n, rowBegin, rowEnd);
}

// ------------------------------------------------------------------- median

template <class V, class O>
inline void Sort2(V& a, V& b) {
  const V lo = O::Min(a, b);
  b = O::Max(a, b);
  a = lo;
}

// Moves v toward m by at most maxStep when m lies further than threshold from
// v; the saturating bounds are exact because m is itself a sample value.
template <class O>
inline typename O::V Limit(typename O::V v, typename O::V m, typename O::V maxStep, typename O::V threshold) {
  const auto inside = O::CmpEq(O::Min(O::Max(m, O::SubS(v, threshold)), O::AddS(v, threshold)), m);
  const auto moved = O::Min(O::Max(m, O::SubS(v, maxStep)), O::AddS(v, maxStep));
  return O::Or(O::And(inside, v), O::AndNot(inside, moved));
}

template <class O, bool kWeighted>
inline typename O::V MedianAt(const typename O::T* s, int w) {
  using V = typename O::V;
  if constexpr (!kWeighted) {
    return median3x3::Median9<O>(O::Load(s - w - 1), O::Load(s - 1), O::Load(s + w - 1),  //
                                 O::Load(s - w), O::Load(s), O::Load(s + w),              //
                                 O::Load(s - w + 1), O::Load(s + 1), O::Load(s + w + 1));
  } else {
    // Centre, left and right count twice: the twelve values are the sorted
    // triple a1 a1 a2 a2 a3 a3 and the sorted six y1..y6 of the other
    // neighbours. The k-th smallest of two sorted runs is the least over all
    // splits i + j = k of max(x_i, y_j); dropping dominated splits leaves
    //   6th = min(y6, max(a1, y4), max(a2, y2), a3)
    //   7th = min(max(a1, y5), max(a2, y3), max(a3, y1)).
    V a1 = O::Load(s - 1), a2 = O::Load(s), a3 = O::Load(s + 1);
    Sort2<V, O>(a1, a2); Sort2<V, O>(a2, a3); Sort2<V, O>(a1, a2);
    V y1 = O::Load(s - w - 1), y2 = O::Load(s - w), y3 = O::Load(s - w + 1);
    V y4 = O::Load(s + w - 1), y5 = O::Load(s + w), y6 = O::Load(s + w + 1);
    Sort2<V, O>(y2, y3); Sort2<V, O>(y1, y3); Sort2<V, O>(y1, y2);
    Sort2<V, O>(y5, y6); Sort2<V, O>(y4, y6); Sort2<V, O>(y4, y5);
    Sort2<V, O>(y1, y4); Sort2<V, O>(y2, y5); Sort2<V, O>(y3, y6);
    Sort2<V, O>(y3, y5); Sort2<V, O>(y2, y4); Sort2<V, O>(y3, y4);
    const V s6 = O::Min(O::Min(y6, O::Max(a1, y4)), O::Min(O::Max(a2, y2), a3));
    const V s7 = O::Min(O::Min(O::Max(a1, y5), O::Max(a2, y3)), O::Max(a3, y1));
    return O::FloorAvg(s6, s7);
  }
}

// Filters indices [first, end) of src into dst (different buffers); the range
// holds at least kLanes samples.
template <class O, bool kWeighted>
void MedianRange(const typename O::T* src, typename O::T* dst, int width, int first, int end, int maxStep,
                 int threshold) {
  const auto ms = O::Set1(maxStep);
  const auto th = O::Set1(threshold);
  auto one = [&](int i) {
    const auto m = MedianAt<O, kWeighted>(src + i, width);
    O::Store(dst + i, Limit<O>(O::Load(src + i), m, ms, th));
  };
  int i = first;
  for (; i + O::kLanes <= end; i += O::kLanes) one(i);
  if (i < end) one(end - O::kLanes);
}

// Row by row with shared triples: every output row needs its own row and the
// rows above and below, each as the sorted triple (x - 1, x, x + 1) at every
// position (linear neighbours, so side columns wrap like everywhere else).
// Each row's triples are sorted once into a ring of three rows and used by
// three output rows. Then
//   plain median = med3(max of the three minima, med3 of the three middles,
//                       min of the three maxima);
//   weighted: the centre triple is a1..a3 and the other six are the merge of
//   the triples above (u) and below (d), each order statistic of a merge being
//   the least over all splits of the larger of the two parts.
template <class O>
struct TTriples {
  typename O::T* lo;
  typename O::T* mid;
  typename O::T* hi;
};

// Sorted triples of src at linear indices [a, b) into t at [a - base, b - base).
template <class O>
void SortTriples(const typename O::T* src, const TTriples<O>& t, int base, int a, int b) {
  auto one = [&](int i) {
    typename O::V x, y, z;
    median3x3::SortColumn<O>(O::Load(src + i - 1), O::Load(src + i), O::Load(src + i + 1), x, y, z);
    O::Store(t.lo + i - base, x);
    O::Store(t.mid + i - base, y);
    O::Store(t.hi + i - base, z);
  };
  int i = a;
  for (; i + O::kLanes <= b; i += O::kLanes) one(i);
  if (i < b) one(b - O::kLanes);
}

template <class O, bool kWeighted>
void MedianRows(const typename O::T* src, typename O::T* dst, int width, int height, int y0, int y1,
                TTriples<O> ring[3], int maxStep, int threshold) {
  using V = typename O::V;
  const int total = width * height;
  const int end = width * (height - 1) - 1;
  auto sortRow = [&](int y) {
    SortTriples<O>(src, ring[y % 3], y * width, MaxInt(y * width, 1), MinInt(y * width + width, total - 1));
  };
  const V ms = O::Set1(maxStep), th = O::Set1(threshold);
  const int from = MaxInt(y0, 1), to = MinInt(y1, height - 1);
  if (from >= to) return;
  sortRow(from - 1);
  sortRow(from);
  for (int y = from; y < to; ++y) {
    sortRow(y + 1);
    const TTriples<O>& u = ring[(y - 1) % 3];
    const TTriples<O>& c = ring[y % 3];
    const TTriples<O>& d = ring[(y + 1) % 3];
    const int base = y * width;
    auto one = [&](int i) {
      const int x = i - base;
      V m;
      if constexpr (!kWeighted) {
        m = median3x3::MedianOfColumns<O>(O::Load(u.lo + x), O::Load(c.lo + x), O::Load(d.lo + x), O::Load(u.mid + x),
                                          O::Load(c.mid + x), O::Load(d.mid + x), O::Load(u.hi + x), O::Load(c.hi + x),
                                          O::Load(d.hi + x));
      } else {
        const V u1 = O::Load(u.lo + x), u2 = O::Load(u.mid + x), u3 = O::Load(u.hi + x);
        const V d1 = O::Load(d.lo + x), d2 = O::Load(d.mid + x), d3 = O::Load(d.hi + x);
        const V y1 = O::Min(u1, d1);
        const V y2 = O::Min(O::Min(u2, d2), O::Max(u1, d1));
        const V y3 = O::Min(O::Min(u3, d3), O::Min(O::Max(u2, d1), O::Max(u1, d2)));
        const V y4 = O::Min(O::Min(O::Max(u3, d1), O::Max(u2, d2)), O::Max(u1, d3));
        const V y5 = O::Min(O::Max(u3, d2), O::Max(u2, d3));
        const V y6 = O::Max(u3, d3);
        const V a1 = O::Load(c.lo + x), a2 = O::Load(c.mid + x), a3 = O::Load(c.hi + x);
        const V s6 = O::Min(O::Min(y6, O::Max(a1, y4)), O::Min(O::Max(a2, y2), a3));
        const V s7 = O::Min(O::Min(O::Max(a1, y5), O::Max(a2, y3)), O::Max(a3, y1));
        m = O::FloorAvg(s6, s7);
      }
      O::Store(dst + i, Limit<O>(O::Load(src + i), m, ms, th));
    };
    const int a = MaxInt(base, width + 1), b = MinInt(base + width, end);
    int i = a;
    for (; i + O::kLanes <= b; i += O::kLanes) one(i);
    if (i < b) one(b - O::kLanes);
  }
}

// Ranges shorter than a vector and limits too large for the lanes (never
// produced by the pipeline) go to the plain entry, and so do bands of planes
// too narrow to go row by row (a vector there could reach into another band).
template <class O>
void MedianVector(bool weighted, const typename O::T* src, typename O::T* dst, int width, int height, int y0, int y1,
                  int maxStep, int threshold, uint8_t* ringScratch) {
  using T = typename O::T;
  const int first = width + 1, end = width * (height - 1) - 1;
  // Rows of at least a vector plus the two unfiltered samples go row by row.
  const bool rows = width >= O::kLanes + 2;
  const bool whole = y0 == 0 && y1 == height;
  if (end - first < O::kLanes || maxStep > 32767 || threshold > 32767 || (!rows && !whole)) {
    MedianFallback(src, dst, width, height, y0, y1, maxStep, threshold, weighted);
    return;
  }
  const size_t rowBytes = static_cast<size_t>(width) * sizeof(T);
  const size_t copyBytes = src == dst ? static_cast<size_t>(height) * rowBytes : 0;
  const int depth = static_cast<int>(sizeof(T));
  uint8_t* scratch = ringScratch != nullptr && copyBytes == 0
                         ? ringScratch
                         : Scratch(copyBytes + (rows ? MedianRingBytes(width, depth) : 0));
  if (src == dst) {
    // Filtering in place would read samples already written: work from a copy.
    __builtin_memcpy(scratch, src, copyBytes);
    src = reinterpret_cast<const T*>(scratch);
  }
  // The unfiltered samples of the band keep their values.
  const int lo = y0 * width, hi = y1 * width;
  if (lo < first) __builtin_memcpy(dst + lo, src + lo, static_cast<size_t>(MinInt(first, hi) - lo) * sizeof(T));
  if (hi > end) {
    const int a = MaxInt(end, lo);
    __builtin_memcpy(dst + a, src + a, static_cast<size_t>(hi - a) * sizeof(T));
  }
  if (rows) {
    T* t = reinterpret_cast<T*>(scratch + copyBytes);
    const size_t pitch = MedianRingRowBytes(width, depth) / sizeof(T);
    TTriples<O> ring[3];
    for (int k = 0; k < 3; ++k)
      ring[k] = TTriples<O>{t + (3 * k) * pitch, t + (3 * k + 1) * pitch, t + (3 * k + 2) * pitch};
    if (weighted)
      MedianRows<O, true>(src, dst, width, height, y0, y1, ring, maxStep, threshold);
    else
      MedianRows<O, false>(src, dst, width, height, y0, y1, ring, maxStep, threshold);
  } else if (weighted) {
    MedianRange<O, true>(src, dst, width, first, end, maxStep, threshold);
  } else {
    MedianRange<O, false>(src, dst, width, first, end, maxStep, threshold);
  }
}

// The kernel table of one instruction set, from its 8-bit and 16-bit lane
// types.
template <class U8, class S16>
struct VectorKernels {
  static void Despeckle8(const uint8_t* src, uint8_t* dst, int w, int h, int strength) {
    DespeckleVector<U8>(src, dst, w, h, strength);
  }
  static void Despeckle16(const int16_t* src, int16_t* dst, int w, int h, int strength) {
    DespeckleVector<S16>(src, dst, w, h, strength);
  }
  static void DespeckleBand8(const uint8_t* in, uint8_t* out, int w, int h, const DespeckleBand& band) {
    DespeckleBandVector<U8>(in, out, w, h, band);
  }
  static void DespeckleBand16(const int16_t* in, int16_t* out, int w, int h, const DespeckleBand& band) {
    DespeckleBandVector<S16>(in, out, w, h, band);
  }
  template <bool kWeighted>
  static void Median8(const uint8_t* src, uint8_t* dst, int w, int h, int y0, int y1, int maxStep, int threshold,
                      uint8_t* ring) {
    MedianVector<U8>(kWeighted, src, dst, w, h, y0, y1, maxStep, threshold, ring);
  }
  template <bool kWeighted>
  static void Median16(const int16_t* src, int16_t* dst, int w, int h, int y0, int y1, int maxStep, int threshold,
                       uint8_t* ring) {
    MedianVector<S16>(kWeighted, src, dst, w, h, y0, y1, maxStep, threshold, ring);
  }
  static constexpr Kernels kTable = {Despeckle8,
                                     Despeckle16,
                                     DespeckleBand8,
                                     DespeckleBand16,
                                     {Median8<false>, Median8<true>},
                                     {Median16<false>, Median16<true>}};
};

}  // namespace
}  // namespace tarvo::noise
