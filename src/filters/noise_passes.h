// The despeckle cycle: its sixteen passes and the steps per strength, shared by
// the plain and the vector kernels. Internal linkage only (the header is
// included by units built for different instruction sets).
#pragma once

#include <cstddef>
#include <cstring>

#include "filters/noise_kernels.h"

namespace tarvo::noise {
namespace {

// The sixteen despeckle passes of one cycle, in order: the neighbour compared
// with, as (dy, dx) with linear offset dy * Width + dx, and the kind of pass.
struct TPassDir {
  int dy;
  int dx;
  bool raise;
};
constexpr TPassDir kPasses[16] = {
    {-1, 0, true},  {1, 0, true},  {-1, 0, false},  {1, 0, false},   // up, down
    {0, -1, true},  {0, 1, true},  {0, -1, false},  {0, 1, false},   // left, right
    {-1, -1, true}, {1, 1, true},  {-1, -1, false}, {1, 1, false},   // up-left, down-right
    {-1, 1, true},  {1, -1, true}, {-1, 1, false},  {1, -1, false},  // up-right, down-left
};

// Steps of the despeckle cycles for a clamped strength 1..4 (8-bit units);
// returns the number of cycles.
inline int DespeckleSteps(int strength, int steps[3]) {
  if (strength == 1) {
    steps[0] = 1;
    return 1;
  }
  int n = 0;
  for (int k = strength; k >= 2; --k) steps[n++] = k;
  return n;
}

// Number of passes in the whole sequence for a clamped strength 1..4.
inline int DespecklePassCount(int strength) {
  int steps[3];
  return 16 * DespeckleSteps(strength, steps);
}

// Linear index range [a, b) that pass `pass` (0-based) of a group of `count`
// passes must compute so that, after the last pass of the group, rows
// [rowBegin, rowEnd) are exact. A pass reads neighbours at most width + 1
// samples away, so each earlier pass covers width + 1 more samples on either
// side; the range never leaves the filtered range [width + 1, width *
// (height - 1) - 1). Empty when a >= b.
inline void DespeckleBandRange(int width, int height, int count, int pass, int rowBegin, int rowEnd, int& a, int& b) {
  const long long reach = static_cast<long long>(count - 1 - pass) * (width + 1);
  const long long first = width + 1, end = static_cast<long long>(width) * (height - 1) - 1;
  const long long lo = static_cast<long long>(rowBegin) * width - reach;
  const long long hi = static_cast<long long>(rowEnd) * width + reach;
  a = static_cast<int>(lo > first ? lo : first);
  b = static_cast<int>(hi < end ? hi : end);
}

// Rows beyond its own on either side whose input a band of a group of
// `count` passes may read: each pass reaches width + 1 samples further, and
// the first one reads its neighbours; one row more for good measure.
inline int DespeckleHaloRows(int width, int count) {
  const long long reach = static_cast<long long>(count + 1) * (width + 1);
  return static_cast<int>((reach + width - 1) / width) + 1;
}

// Copies the input samples [a, b) (linear indices) that a band reads into
// `to`. A band that reads a separate plane takes them all from `plane`; a band
// run in place takes those beyond its own rows from its halo copies, since its
// neighbours may already have filtered them.
template <typename T>
void CopyBandInput(T* to, const T* plane, long long a, long long b, int width, const DespeckleBand& band,
                   bool inPlace) {
  if (a >= b) return;
  const long long lo = inPlace ? static_cast<long long>(band.rowBegin) * width : a;
  const long long hi = inPlace ? static_cast<long long>(band.rowEnd) * width : b;
  if (a < lo) {
    const long long e = b < lo ? b : lo;
    std::memcpy(to, static_cast<const T*>(band.above) + (a - static_cast<long long>(band.aboveRow) * width),
                static_cast<size_t>(e - a) * sizeof(T));
  }
  const long long s = a > lo ? a : lo, e = b < hi ? b : hi;
  if (s < e) std::memcpy(to + (s - a), plane + s, static_cast<size_t>(e - s) * sizeof(T));
  if (b > hi) {
    const long long f = a > hi ? a : hi;
    std::memcpy(to + (f - a), static_cast<const T*>(band.below) + (f - static_cast<long long>(band.belowRow) * width),
                static_cast<size_t>(b - f) * sizeof(T));
  }
}

// Passes of one streaming sweep over a plane whose rows hold rowBytes bytes
// when the rows live in one group (about 2 * 2 rows per pass in the plane and
// in the ring of rows) are to fit in `budget` bytes. An even number, 2..48.
inline int DespeckleGroupPassesWithin(size_t rowBytes, size_t budget) {
  const long long rowsInBudget = static_cast<long long>(budget / (rowBytes == 0 ? 1 : rowBytes));
  long long groupRows = (rowsInBudget - 8) / 4;
  groupRows = groupRows < 2 ? 2 : groupRows > 48 ? 48 : groupRows;
  return static_cast<int>(groupRows) & ~1;
}

// The level-1 budget keeps a group's live rows in the core's first-level
// cache; the level-2 budget trades that for fewer sweeps over the plane.
constexpr size_t kDespeckleLevel1Budget = 48 * 1024;
constexpr size_t kDespeckleLevel2Budget = 512 * 1024;
// Planes up to this size are swept cheaply from the outer caches, so the
// whole-plane kernel keeps the level-1 groups; larger ones (4K frames) cost a
// trip through memory per sweep, and fewer, larger groups win.
constexpr size_t kDespeckleSweepCheapBytes = 6 * 1024 * 1024;
// The same for one band of the banded kernel, counting the band's rows of
// both planes it alternates between: sweeps of several cores at once share
// the outer caches, so the limit is the size of one core's level-2 cache.
constexpr size_t kDespeckleBandCheapBytes = 2 * 1024 * 1024;

// The strip kernel (noise_simd.h) of the vector levels: rows at least
// kDespeckleStripMinWidth samples long run in column strips, groups of up to
// kDespeckleStripMaxPasses passes in one sweep, and the rings of a group's
// passes are to fill about kDespeckleStripBudget bytes of the core's
// first-level cache.
constexpr int kDespeckleStripMinWidth = 256;
constexpr int kDespeckleStripMaxPasses = 16;
constexpr size_t kDespeckleStripBudget = 36 * 1024;

// Passes per sweep of the whole-plane kernel for a plane of `rows` rows.
inline int DespeckleGroupPasses(size_t rowBytes, size_t rows) {
  const bool cheap = rowBytes * rows <= kDespeckleSweepCheapBytes;
  return DespeckleGroupPassesWithin(rowBytes, cheap ? kDespeckleLevel1Budget : kDespeckleLevel2Budget);
}

}  // namespace
}  // namespace tarvo::noise
