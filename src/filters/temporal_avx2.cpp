// AVX2 kernels of the temporal filter: 32 samples per step on Depth 1, 16 on
// Depth 2. Row tails go to the scalar kernels.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "filters/temporal_kernels.h"
#include "filters/temporal_simd.h"

namespace tarvo::temporal_detail {
namespace {

// Loads and stores of one register, for the parts in temporal_simd.h.
struct Vec256 {
  using V = __m256i;
  static constexpr int kBytes = 32;
  static V Load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
  static void Store(void* p, V v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
};
inline __m256i Load(const void* p) { return Vec256::Load(p); }
inline void Store(void* p, __m256i v) { Vec256::Store(p, v); }

// A 128-entry byte table for vpshufb in eight 16-entry slices, slice k
// stored as t_k XOR t_(k-1): for an index j < 16 n, XOR-ing the lookups of
// slices 0..n-1 with the index lowered by 16 per slice leaves t_(j/16)[j%16],
// because vpshufb yields 0 once the lowered index turns negative.
struct Lut128 {
  __m256i slice[8];
  explicit Lut128(const uint8_t* t) {
    for (int k = 0; k < 8; ++k) {
      const __m128i cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + 16 * k));
      const __m128i prev = k ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + 16 * (k - 1))) : _mm_setzero_si128();
      slice[k] = _mm256_broadcastsi128_si256(_mm_xor_si128(cur, prev));
    }
  }
  // idx bytes 0 .. 16 * slices - 1 (any byte lane whose high bit is set reads 0).
  __m256i Lookup(__m256i idx, int slices) const {
    const __m256i sixteen = _mm256_set1_epi8(16);
    __m256i r = _mm256_shuffle_epi8(slice[0], idx);
    for (int k = 1; k < slices; ++k) {
      idx = _mm256_sub_epi8(idx, sixteen);
      r = _mm256_xor_si256(r, _mm256_shuffle_epi8(slice[k], idx));
    }
    return r;
  }
};

// Lane orders for the shared median block: signed bytes and signed 16-bit
// samples.
struct OrderS8 : Vec256 {
  static __m256i Min(__m256i a, __m256i b) { return _mm256_min_epi8(a, b); }
  static __m256i Max(__m256i a, __m256i b) { return _mm256_max_epi8(a, b); }
};
struct OrderS16 : Vec256 {
  static __m256i Min(__m256i a, __m256i b) { return _mm256_min_epi16(a, b); }
  static __m256i Max(__m256i a, __m256i b) { return _mm256_max_epi16(a, b); }
};

// Transfer magnitudes table[level * 256 + j] for 16-bit lane pairs (j, level)
// given as 16-bit values j + 256 level; results in 16-bit lanes, same order.
inline __m256i GatherTransfer16(const int32_t* table, __m256i idx16) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i lo = _mm256_i32gather_epi32(table, _mm256_unpacklo_epi16(idx16, zero), 4);
  const __m256i hi = _mm256_i32gather_epi32(table, _mm256_unpackhi_epi16(idx16, zero), 4);
  return _mm256_packus_epi32(lo, hi);
}

inline int SlicesFor(int maxIndex) { return maxIndex / 16 + 1; }

}  // namespace

namespace {

void Diff8Avx2(const uint8_t* cur, uint8_t* hist, ptrdiff_t a, ptrdiff_t b) {
  const __m256i c127 = _mm256_set1_epi8(127), c128 = _mm256_set1_epi8(static_cast<char>(128));
  ptrdiff_t i = a;
  for (; i + 31 <= b; i += 32) {
    const __m256i c = Load(cur + i), h = Load(hist + i);
    // cur - hist limited to -128..127: the positive and negative parts
    // saturate separately, then their difference wraps into a signed byte.
    const __m256i pos = _mm256_min_epu8(_mm256_subs_epu8(c, h), c127);
    const __m256i neg = _mm256_min_epu8(_mm256_subs_epu8(h, c), c128);
    Store(hist + i, _mm256_sub_epi8(pos, neg));
  }
  if (i <= b) Diff8Scalar(cur, hist, i, b);
}

void Diff16Avx2(const int16_t* cur, int16_t* hist, ptrdiff_t a, ptrdiff_t b) {
  ptrdiff_t i = a;
  for (; i + 15 <= b; i += 16) Store(hist + i, _mm256_sub_epi16(Load(cur + i), Load(hist + i)));
  if (i <= b) Diff16Scalar(cur, hist, i, b);
}

struct Consts8 {
  __m256i top, ones, vTm1, vT, vK, weights, jointStart;
  int levelSlices, noiseSlices, curveSlices;
  explicit Consts8(const TemporalTables& t)
      : top(_mm256_set1_epi8(static_cast<char>(0x80))),
        ones(_mm256_set1_epi8(-1)),
        vTm1(_mm256_set1_epi8(static_cast<char>(t.T - 1))),
        vT(_mm256_set1_epi8(static_cast<char>(t.T))),
        vK(_mm256_set1_epi8(static_cast<char>(t.fullFromMedian))),
        weights(_mm256_set1_epi16(7 | (9 << 8))),
        jointStart(_mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(t.jointStart)))),
        levelSlices(SlicesFor(t.fullFromMedian)),
        noiseSlices(SlicesFor(t.T - 1)),
        curveSlices(SlicesFor(t.T)) {}
};

template <int Flags, bool Joint>
void Main8Impl(uint8_t* cur, const uint8_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b, const TemporalTables& t) {
  constexpr int kChunk = 2048;
  const Lut128 levelLut(t.levelByMedian), curveLut(t.transfer0), jointLut(t.joint);
  const Consts8 k(t);
  SortedColumns<int8_t, kChunk, OrderS8> cols;
  const ptrdiff_t c = ForEachVector<Flags>(cols, cur, hist, w, a, b, [&](ptrdiff_t o, ptrdiff_t i) {
    const __m256i d = Load(hist + i);
    const __m256i ad = _mm256_abs_epi8(d);
    const __m256i act = _mm256_cmpeq_epi8(_mm256_min_epu8(ad, k.vTm1), ad);  // |d| < T
    if (_mm256_testz_si256(act, act)) return;
    const __m256i cv = Load(cur + i);
    // The history sample wherever |d| < T, offset by -128 so that a signed
    // saturating add clamps the result to 0..255.
    const __m256i hv = _mm256_sub_epi8(_mm256_xor_si256(cv, k.top), d);
    __m256i s = d, f;
    if constexpr (Flags == 0) {
      f = curveLut.Lookup(ad, k.noiseSlices);
    } else {
      const __m256i med = cols.Median(o);
      if constexpr ((Flags & 2) != 0) {
        // s = (7 d + 9 med) >> 4: byte pairs (d, med) times (7, 9) summed
        // into 16-bit lanes; |s| <= 126 wherever |d| < T.
        const __m256i lo = _mm256_maddubs_epi16(k.weights, _mm256_unpacklo_epi8(d, med));
        const __m256i hi = _mm256_maddubs_epi16(k.weights, _mm256_unpackhi_epi8(d, med));
        s = _mm256_packs_epi16(_mm256_srai_epi16(lo, 4), _mm256_srai_epi16(hi, 4));
      }
      const __m256i j = (Flags & 2) ? _mm256_abs_epi8(s) : ad;
      if constexpr ((Flags & 1) != 0) {
        const __m256i am = _mm256_min_epu8(_mm256_abs_epi8(med), k.vK);
        if constexpr (Joint) {
          // Below full motion j < jointRow, so jointStart[am] + j indexes
          // the joint table; full motion transfers as the identity.
          const __m256i full = _mm256_cmpeq_epi8(am, k.vK);
          const __m256i idx = _mm256_add_epi8(_mm256_shuffle_epi8(k.jointStart, am), j);
          f = _mm256_blendv_epi8(jointLut.Lookup(idx, t.jointSlices), j, full);
        } else {
          const __m256i level = levelLut.Lookup(am, k.levelSlices);
          const __m256i fl = GatherTransfer16(t.transfer, _mm256_unpacklo_epi8(j, level));
          const __m256i fh = GatherTransfer16(t.transfer, _mm256_unpackhi_epi8(j, level));
          f = _mm256_packus_epi16(fl, fh);
        }
      } else {
        const __m256i beyond = _mm256_xor_si256(_mm256_cmpeq_epi8(_mm256_min_epu8(j, k.vT), j), k.ones);  // j > T
        f = _mm256_blendv_epi8(curveLut.Lookup(j, k.curveSlices), j, beyond);
      }
    }
    // f <= 126, so the signed transfer fits a byte.
    const __m256i out = _mm256_xor_si256(_mm256_adds_epi8(hv, _mm256_sign_epi8(f, s)), k.top);
    Store(cur + i, _mm256_blendv_epi8(cv, out, act));
  });
  if (c <= b) Main8Scalar(cur, hist, w, c, b, t);
}

struct Consts16 {
  __m256i ones, c255, vT, vNegT, vK, highOff, weights, jointStart;
  int levelSlices, noiseSlices, curveSlices;
  explicit Consts16(const TemporalTables& t)
      : ones(_mm256_set1_epi16(-1)),
        c255(_mm256_set1_epi16(255)),
        vT(_mm256_set1_epi16(static_cast<int16_t>(t.T))),
        vNegT(_mm256_set1_epi16(static_cast<int16_t>(-t.T))),
        vK(_mm256_set1_epi16(static_cast<int16_t>(t.fullFromMedian))),
        highOff(_mm256_set1_epi16(static_cast<int16_t>(0xFF00))),  // byte lookups read 0 into the high byte
        weights(_mm256_set1_epi32(7 | (9 << 16))),
        jointStart(_mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(t.jointStart)))),
        levelSlices(SlicesFor(t.fullFromMedian)),
        noiseSlices(SlicesFor(t.T - 1)),
        curveSlices(SlicesFor(t.T)) {}
};

template <int Flags, bool Joint>
void Main16Impl(int16_t* cur, const int16_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b, const TemporalTables& t) {
  constexpr int kChunk = 1024;
  const Lut128 levelLut(t.levelByMedian), curveLut(t.transfer0), jointLut(t.joint);
  const Consts16 k(t);
  SortedColumns<int16_t, kChunk, OrderS16> cols;
  const ptrdiff_t c = ForEachVector<Flags>(cols, cur, hist, w, a, b, [&](ptrdiff_t o, ptrdiff_t i) {
    const __m256i d = Load(hist + i);
    const __m256i act = _mm256_and_si256(_mm256_cmpgt_epi16(d, k.vNegT), _mm256_cmpgt_epi16(k.vT, d));
    if (_mm256_testz_si256(act, act)) return;
    const __m256i cv = Load(cur + i);
    const __m256i hv = _mm256_sub_epi16(cv, d);  // modulo 2^16, as the stored difference
    __m256i s = d, f;
    if constexpr (Flags == 0) {
      f = curveLut.Lookup(_mm256_or_si256(_mm256_abs_epi16(d), k.highOff), k.noiseSlices);
    } else {
      const __m256i med = cols.Median(o);
      if constexpr ((Flags & 2) != 0) {
        // 7 d + 9 med in 32-bit lanes; the shifted result fits 16 bits.
        const __m256i lo = _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(d, med), k.weights), 4);
        const __m256i hi = _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(d, med), k.weights), 4);
        s = _mm256_packs_epi32(lo, hi);
      }
      const __m256i j = _mm256_abs_epi16(s);  // unsigned 0..32768
      if constexpr ((Flags & 1) != 0) {
        const __m256i am = _mm256_min_epu16(_mm256_abs_epi16(med), k.vK);
        if constexpr (Joint) {
          // As on Depth 1; the high bytes of the index stay 0xFF.
          const __m256i full = _mm256_cmpeq_epi16(am, k.vK);
          const __m256i start = _mm256_shuffle_epi8(k.jointStart, _mm256_or_si256(am, k.highOff));
          const __m256i idx = _mm256_or_si256(_mm256_add_epi16(start, j), k.highOff);
          f = _mm256_blendv_epi8(jointLut.Lookup(idx, t.jointSlices), j, full);
        } else {
          const __m256i lv = levelLut.Lookup(_mm256_or_si256(am, k.highOff), k.levelSlices);
          const __m256i idx = _mm256_or_si256(_mm256_min_epu16(j, k.c255), _mm256_slli_epi16(lv, 8));
          const __m256i wide = _mm256_xor_si256(_mm256_cmpeq_epi16(_mm256_min_epu16(j, k.c255), j), k.ones);
          f = _mm256_blendv_epi8(GatherTransfer16(t.transfer, idx), j, wide);
        }
      } else {
        const __m256i small = _mm256_or_si256(_mm256_min_epu16(j, k.vT), k.highOff);
        const __m256i beyond = _mm256_xor_si256(_mm256_cmpeq_epi16(_mm256_min_epu16(j, k.vT), j), k.ones);  // j > T
        f = _mm256_blendv_epi8(curveLut.Lookup(small, k.curveSlices), j, beyond);
      }
    }
    const __m256i out = _mm256_add_epi16(hv, _mm256_sign_epi16(f, s));
    Store(cur + i, _mm256_blendv_epi8(cv, out, act));
  });
  if (c <= b) Main16Scalar(cur, hist, w, c, b, t);
}

template <typename Cell>
using MainFn = void (*)(Cell*, const Cell*, ptrdiff_t, ptrdiff_t, ptrdiff_t, const TemporalTables&);

template <typename Cell, template <int, bool> class Pick>
MainFn<Cell> Select(const TemporalTables& t) {
  switch (t.flags) {
    case 0: return Pick<0, false>::fn;
    case 1: return t.smallJoint ? Pick<1, true>::fn : Pick<1, false>::fn;
    case 2: return Pick<2, false>::fn;
    default: return t.smallJoint ? Pick<3, true>::fn : Pick<3, false>::fn;
  }
}
template <int F, bool J>
struct Pick8 {
  static constexpr MainFn<uint8_t> fn = Main8Impl<F, J>;
};
template <int F, bool J>
struct Pick16 {
  static constexpr MainFn<int16_t> fn = Main16Impl<F, J>;
};

void Main8Avx2(uint8_t* cur, const uint8_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b, const TemporalTables& t) {
  Select<uint8_t, Pick8>(t)(cur, hist, w, a, b, t);
}

void Main16Avx2(int16_t* cur, const int16_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b,
                const TemporalTables& t) {
  Select<int16_t, Pick16>(t)(cur, hist, w, a, b, t);
}

constexpr Kernels kTable = {Diff8Avx2, Diff16Avx2, Main8Avx2, Main16Avx2};

}  // namespace

const Kernels& Avx2Kernels() { return kTable; }

}  // namespace tarvo::temporal_detail
