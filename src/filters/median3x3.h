// The 3 x 3 median building block shared by every optimised median: a block's
// median is the median of (largest column minimum, median of the column
// medians, smallest column maximum) once each of its three columns is sorted.
// Sorted columns can be computed once and shared by the three blocks that
// contain them.
//
// Written over an Ops type with a value type V and static Min and Max (one
// per instruction-set width and sample type). Everything here has internal
// linkage, so units built for different instruction sets never share a copy.
#pragma once

namespace tarvo::median3x3 {
namespace {

// (x, y, z) sorted into lo <= mid <= hi.
template <class O, class V>
inline void SortColumn(V x, V y, V z, V& lo, V& mid, V& hi) {
  const V a = O::Min(x, y), b = O::Max(x, y);
  lo = O::Min(a, z);
  mid = O::Max(a, O::Min(b, z));
  hi = O::Max(b, z);
}

template <class O, class V>
inline V Med3(V a, V b, V c) {
  return O::Max(O::Min(a, b), O::Min(O::Max(a, b), c));
}

// Median of a block from its three sorted columns.
template <class O, class V>
inline V MedianOfColumns(V lo0, V lo1, V lo2, V mid0, V mid1, V mid2, V hi0, V hi1, V hi2) {
  const V maxLo = O::Max(O::Max(lo0, lo1), lo2);
  const V minHi = O::Min(O::Min(hi0, hi1), hi2);
  return Med3<O>(maxLo, Med3<O>(mid0, mid1, mid2), minHi);
}

// Median of nine values given as three columns (c0 top..bottom, c1, c2).
template <class O, class V>
inline V Median9(V a0, V a1, V a2, V b0, V b1, V b2, V c0, V c1, V c2) {
  V lo0, mid0, hi0, lo1, mid1, hi1, lo2, mid2, hi2;
  SortColumn<O>(a0, a1, a2, lo0, mid0, hi0);
  SortColumn<O>(b0, b1, b2, lo1, mid1, hi1);
  SortColumn<O>(c0, c1, c2, lo2, mid2, hi2);
  return MedianOfColumns<O>(lo0, lo1, lo2, mid0, mid1, mid2, hi0, hi1, hi2);
}

}  // namespace
}  // namespace tarvo::median3x3
