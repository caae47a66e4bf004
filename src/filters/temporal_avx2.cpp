// AVX2 kernels of the temporal filter: 32 samples per step on Depth 1, 16 on
// Depth 2. Row tails go to the scalar kernels.
#include <immintrin.h>

#include "filters/temporal_kernels.h"

namespace tarvo::temporal_detail {
namespace {

inline __m256i Load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
inline void Store(void* p, __m256i v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }

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

// Sorted column (x, y, z) -> (lo, mid, hi).
template <typename MinFn, typename MaxFn>
inline void SortColumn(__m256i x, __m256i y, __m256i z, __m256i& lo, __m256i& mid, __m256i& hi, MinFn mn, MaxFn mx) {
  const __m256i a = mn(x, y), b = mx(x, y);
  lo = mn(a, z);
  mid = mx(a, mn(b, z));
  hi = mx(b, z);
}

// Median of the 3 x 3 blocks of n consecutive samples from i: median of the
// largest column minimum, the median of the column medians and the smallest
// column maximum.
template <typename Cell, typename MinFn, typename MaxFn>
inline __m256i Median9(const Cell* h, ptrdiff_t i, ptrdiff_t w, MinFn mn, MaxFn mx) {
  __m256i lo[3], mid[3], hi[3];
  for (int c = 0; c < 3; ++c) {
    const ptrdiff_t k = i - 1 + c;
    SortColumn(Load(h + k - w), Load(h + k), Load(h + k + w), lo[c], mid[c], hi[c], mn, mx);
  }
  const __m256i maxLo = mx(mx(lo[0], lo[1]), lo[2]);
  const __m256i minHi = mn(mn(hi[0], hi[1]), hi[2]);
  const __m256i medMid = mx(mn(mid[0], mid[1]), mn(mx(mid[0], mid[1]), mid[2]));
  return mx(mn(maxLo, medMid), mn(mx(maxLo, medMid), minHi));
}

const auto kMin8 = [](__m256i a, __m256i b) { return _mm256_min_epi8(a, b); };
const auto kMax8 = [](__m256i a, __m256i b) { return _mm256_max_epi8(a, b); };
const auto kMin16 = [](__m256i a, __m256i b) { return _mm256_min_epi16(a, b); };
const auto kMax16 = [](__m256i a, __m256i b) { return _mm256_max_epi16(a, b); };

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

void Main8Avx2(uint8_t* cur, const uint8_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b, const TemporalTables& t) {
  const int T = t.T, flags = t.flags;
  const Lut128 levelLut(t.levelByMedian), curveLut(t.transfer0);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i vTm1 = _mm256_set1_epi8(static_cast<char>(T - 1)), vT = _mm256_set1_epi8(static_cast<char>(T));
  const __m256i clampMed = _mm256_set1_epi8(kMedianClamp);
  const int noiseSlices = SlicesFor(T - 1), curveSlices = SlicesFor(T);
  ptrdiff_t i = a;
  for (; i + 31 <= b; i += 32) {
    const __m256i d = Load(hist + i);
    const __m256i ad = _mm256_abs_epi8(d);
    const __m256i act = _mm256_cmpeq_epi8(_mm256_min_epu8(ad, vTm1), ad);  // |d| < T
    if (_mm256_testz_si256(act, act)) continue;
    const __m256i c = Load(cur + i);
    const __m256i hv = _mm256_sub_epi8(c, d);  // the history sample wherever |d| < T
    __m256i s = d, f;
    if (flags == 0) {
      f = curveLut.Lookup(ad, noiseSlices);
    } else {
      const __m256i med = Median9(hist, i, w, kMin8, kMax8);
      if (flags & 2) {
        // s = (7 d + 9 med) >> 4 in 16-bit lanes; |s| <= 126 for |d| < T.
        const __m256i dl = _mm256_srai_epi16(_mm256_unpacklo_epi8(d, d), 8);
        const __m256i dh = _mm256_srai_epi16(_mm256_unpackhi_epi8(d, d), 8);
        const __m256i ml = _mm256_srai_epi16(_mm256_unpacklo_epi8(med, med), 8);
        const __m256i mh = _mm256_srai_epi16(_mm256_unpackhi_epi8(med, med), 8);
        const __m256i sl = _mm256_sub_epi16(_mm256_slli_epi16(dl, 3), dl);
        const __m256i sh = _mm256_sub_epi16(_mm256_slli_epi16(dh, 3), dh);
        const __m256i tl = _mm256_add_epi16(_mm256_slli_epi16(ml, 3), ml);
        const __m256i th = _mm256_add_epi16(_mm256_slli_epi16(mh, 3), mh);
        s = _mm256_packs_epi16(_mm256_srai_epi16(_mm256_add_epi16(sl, tl), 4),
                               _mm256_srai_epi16(_mm256_add_epi16(sh, th), 4));
      }
      const __m256i j = _mm256_abs_epi8(s);
      if (flags & 1) {
        const __m256i level = levelLut.Lookup(_mm256_min_epu8(_mm256_abs_epi8(med), clampMed), 8);
        const __m256i fl = GatherTransfer16(t.transfer, _mm256_unpacklo_epi8(j, level));
        const __m256i fh = GatherTransfer16(t.transfer, _mm256_unpackhi_epi8(j, level));
        f = _mm256_packus_epi16(fl, fh);
      } else {
        const __m256i beyond = _mm256_xor_si256(_mm256_cmpeq_epi8(_mm256_min_epu8(j, vT), j), _mm256_set1_epi8(-1));
        f = _mm256_blendv_epi8(curveLut.Lookup(j, curveSlices), j, beyond);
      }
    }
    const __m256i neg = _mm256_cmpgt_epi8(zero, s);
    const __m256i out = _mm256_blendv_epi8(_mm256_adds_epu8(hv, f), _mm256_subs_epu8(hv, f), neg);
    Store(cur + i, _mm256_blendv_epi8(c, out, act));
  }
  if (i <= b) Main8Scalar(cur, hist, w, i, b, t);
}

void Main16Avx2(int16_t* cur, const int16_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b,
                const TemporalTables& t) {
  const int T = t.T, flags = t.flags;
  const Lut128 levelLut(t.levelByMedian), curveLut(t.transfer0);
  const __m256i vT = _mm256_set1_epi16(static_cast<int16_t>(T)), vNegT = _mm256_set1_epi16(static_cast<int16_t>(-T));
  const __m256i highOff = _mm256_set1_epi16(static_cast<int16_t>(0xFF00));  // lookups read 0 for the high byte
  const __m256i clampMed = _mm256_set1_epi16(kMedianClamp), c255 = _mm256_set1_epi16(255);
  const __m256i weights = _mm256_set1_epi32(7 | (9 << 16));
  const int noiseSlices = SlicesFor(T - 1), curveSlices = SlicesFor(T);
  ptrdiff_t i = a;
  for (; i + 15 <= b; i += 16) {
    const __m256i d = Load(hist + i);
    const __m256i act = _mm256_and_si256(_mm256_cmpgt_epi16(d, vNegT), _mm256_cmpgt_epi16(vT, d));
    if (_mm256_testz_si256(act, act)) continue;
    const __m256i c = Load(cur + i);
    const __m256i hv = _mm256_sub_epi16(c, d);  // modulo 2^16, as the stored difference
    __m256i s = d, f;
    if (flags == 0) {
      f = curveLut.Lookup(_mm256_or_si256(_mm256_abs_epi16(d), highOff), noiseSlices);
    } else {
      const __m256i med = Median9(hist, i, w, kMin16, kMax16);
      if (flags & 2) {
        // 7 d + 9 med in 32-bit lanes; the shifted result fits 16 bits.
        const __m256i lo = _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(d, med), weights), 4);
        const __m256i hi = _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(d, med), weights), 4);
        s = _mm256_packs_epi32(lo, hi);
      }
      const __m256i j = _mm256_abs_epi16(s);  // unsigned 0..32768
      if (flags & 1) {
        const __m256i am = _mm256_min_epu16(_mm256_abs_epi16(med), clampMed);
        const __m256i lv = levelLut.Lookup(_mm256_or_si256(am, highOff), 8);
        const __m256i idx = _mm256_or_si256(_mm256_min_epu16(j, c255), _mm256_slli_epi16(lv, 8));
        const __m256i beyond = _mm256_xor_si256(_mm256_cmpeq_epi16(_mm256_min_epu16(j, c255), j), _mm256_set1_epi16(-1));
        f = _mm256_blendv_epi8(GatherTransfer16(t.transfer, idx), j, beyond);
      } else {
        const __m256i beyond = _mm256_xor_si256(_mm256_cmpeq_epi16(_mm256_min_epu16(j, vT), j), _mm256_set1_epi16(-1));
        const __m256i small = _mm256_or_si256(_mm256_min_epu16(j, vT), highOff);
        f = _mm256_blendv_epi8(curveLut.Lookup(small, curveSlices), j, beyond);
      }
    }
    const __m256i out = _mm256_add_epi16(hv, _mm256_sign_epi16(f, s));
    Store(cur + i, _mm256_blendv_epi8(c, out, act));
  }
  if (i <= b) Main16Scalar(cur, hist, w, i, b, t);
}

}  // namespace tarvo::temporal_detail
