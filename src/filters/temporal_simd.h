// The parts of the temporal filter's vector kernels that are the same at every
// register width: the sorted columns of the 3 x 3 median and the walk over a
// row in chunks of vectors. Each vector unit (temporal_avx2.cpp,
// temporal_avx512.cpp) includes this header and instantiates it with its own
// lane operations, so every copy is compiled with its unit's instruction set.
// Everything here has internal linkage for that reason.
//
// A lane order O provides: V (vector type), kBytes (its width), Load and
// Store (unaligned), and Min and Max over the lanes of one sample type.
#pragma once

#include <xmmintrin.h>

#include <cstddef>
#include <cstdint>

#include "filters/median3x3.h"

namespace tarvo::temporal_detail {
namespace {

inline ptrdiff_t MinSpan(ptrdiff_t a, ptrdiff_t b) { return a < b ? a : b; }

// Asks for the cache lines `offset` samples beyond two pointers. A hint only:
// it never faults, and the address is formed as an integer so that it may lie
// past the end of the buffer.
template <typename Cell>
inline void Prefetch(const Cell* a, const Cell* b, ptrdiff_t offset) {
  const auto at = [offset](const Cell* p) {
    return reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(p) + static_cast<uintptr_t>(offset) * sizeof(Cell));
  };
  _mm_prefetch(at(a), _MM_HINT_T0);
  _mm_prefetch(at(b), _MM_HINT_T0);
}

// Sorted columns of the stored differences for a stretch of one row: entry q
// describes linear column c - 1 + q. Each column is sorted once and shared by
// the three samples whose blocks contain it.
template <typename CellT, int Chunk, class O>
struct SortedColumns {
  using Cell = CellT;
  using V = typename O::V;
  static constexpr int kChunk = Chunk;
  static constexpr int kLanes = O::kBytes / static_cast<int>(sizeof(Cell));
  alignas(O::kBytes) Cell lo[Chunk + kLanes], mid[Chunk + kLanes], hi[Chunk + kLanes];

  void SortAt(const Cell* h, ptrdiff_t w, ptrdiff_t k, ptrdiff_t q) {
    V l, m, u;
    median3x3::SortColumn<O>(O::Load(h + k - w), O::Load(h + k), O::Load(h + k + w), l, m, u);
    O::Store(lo + q, l);
    O::Store(mid + q, m);
    O::Store(hi + q, u);
  }
  // Columns c - 1 .. c + n for a multiple n of kLanes; the last vector
  // overlaps its predecessor so that nothing past column c + n is read.
  void Build(const Cell* h, ptrdiff_t w, ptrdiff_t c, ptrdiff_t n) {
    ptrdiff_t q = 0;
    for (; q + kLanes <= n + 2; q += kLanes) SortAt(h, w, c - 1 + q, q);
    if (q < n + 2) SortAt(h, w, c - 1 + (n + 2 - kLanes), n + 2 - kLanes);
  }
  // Median of the blocks of the kLanes samples from c + o.
  V Median(ptrdiff_t o) const {
    return median3x3::MedianOfColumns<O>(O::Load(lo + o), O::Load(lo + o + 1), O::Load(lo + o + 2),
                                         O::Load(mid + o), O::Load(mid + o + 1), O::Load(mid + o + 2),
                                         O::Load(hi + o), O::Load(hi + o + 1), O::Load(hi + o + 2));
  }
};

// Calls step(o, i) for the whole vectors of samples i = c + o in a..b, in
// chunks of up to Cols::kChunk samples; with Flags != 0 `cols` holds the
// sorted columns of the chunk (offset o) by then. Returns the first sample
// the vectors leave over, b + 1 when there is none.
template <int Flags, class Cols, typename Cell, class Step>
inline ptrdiff_t ForEachVector(Cols& cols, const Cell* cur, const Cell* hist, ptrdiff_t w, ptrdiff_t a,
                               ptrdiff_t b, Step&& step) {
  constexpr int kLanes = Cols::kLanes;
  constexpr int kLineCells = 64 / static_cast<int>(sizeof(Cell));
  static_assert(sizeof(typename Cols::Cell) == sizeof(Cell));
  ptrdiff_t c = a;
  while (c + kLanes - 1 <= b) {
    const ptrdiff_t n = MinSpan(Cols::kChunk, ((b - c + 1) / kLanes) * kLanes);
    if (Flags != 0) cols.Build(reinterpret_cast<const typename Cols::Cell*>(hist), w, c, n);
    for (ptrdiff_t o = 0; o < n; o += kLanes) {
      const ptrdiff_t i = c + o;
      // Row y + 2 is differenced next; asking for it now, once per cache
      // line, overlaps the fetch with this row's arithmetic.
      if (kLanes >= kLineCells || (o & (kLineCells - 1)) == 0) Prefetch(cur, hist, i + 2 * w);
      step(o, i);
    }
    c += n;
  }
  return c;
}

}  // namespace
}  // namespace tarvo::temporal_detail
