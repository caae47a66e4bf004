// SSE2 kernels of the temporal filter. SSE2 has no byte shuffle for the table
// lookups, so the vectors do all the arithmetic and the transfer magnitudes
// are looked up lane by lane.
#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

#include "filters/median3x3.h"
#include "filters/temporal_kernels.h"

namespace tarvo::temporal_detail {
namespace {

inline __m128i Load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline void Store(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }

// Lane orders for the shared median block: unsigned bytes (signed ones with
// the top bit flipped) and signed 16-bit samples.
struct OrderU8 {
  static __m128i Min(__m128i x, __m128i y) { return _mm_min_epu8(x, y); }
  static __m128i Max(__m128i x, __m128i y) { return _mm_max_epu8(x, y); }
};
struct OrderS16 {
  static __m128i Min(__m128i x, __m128i y) { return _mm_min_epi16(x, y); }
  static __m128i Max(__m128i x, __m128i y) { return _mm_max_epi16(x, y); }
};

template <class O>
inline __m128i Median9(const __m128i (&col)[3][3]) {
  return median3x3::Median9<O>(col[0][0], col[0][1], col[0][2], col[1][0], col[1][1], col[1][2], col[2][0], col[2][1],
                               col[2][2]);
}

}  // namespace

namespace {

void Diff8Sse2(const uint8_t* cur, uint8_t* hist, ptrdiff_t a, ptrdiff_t b) {
  const __m128i c127 = _mm_set1_epi8(127), c128 = _mm_set1_epi8(static_cast<char>(128));
  ptrdiff_t i = a;
  for (; i + 15 <= b; i += 16) {
    const __m128i c = Load(cur + i), h = Load(hist + i);
    const __m128i pos = _mm_min_epu8(_mm_subs_epu8(c, h), c127);
    const __m128i neg = _mm_min_epu8(_mm_subs_epu8(h, c), c128);
    Store(hist + i, _mm_sub_epi8(pos, neg));
  }
  if (i <= b) Diff8Scalar(cur, hist, i, b);
}

void Diff16Sse2(const int16_t* cur, int16_t* hist, ptrdiff_t a, ptrdiff_t b) {
  ptrdiff_t i = a;
  for (; i + 7 <= b; i += 8) Store(hist + i, _mm_sub_epi16(Load(cur + i), Load(hist + i)));
  if (i <= b) Diff16Scalar(cur, hist, i, b);
}

template <int Flags>
void Main8Impl(uint8_t* cur, const uint8_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b, const TemporalTables& t) {
  // Signed bytes are ordered as unsigned ones after flipping the top bit; the
  // same flip lets a signed saturating add clamp an output to 0..255.
  const __m128i top = _mm_set1_epi8(static_cast<char>(0x80)), zero = _mm_setzero_si128();
  const __m128i vT = _mm_set1_epi8(static_cast<char>(t.T)), vNegT = _mm_set1_epi8(static_cast<char>(-t.T));
  const __m128i clampMed = _mm_set1_epi8(kMedianClamp);
  alignas(16) uint8_t jv[16], av[16], fv[16];
  ptrdiff_t i = a;
  for (; i + 15 <= b; i += 16) {
    const __m128i d = Load(hist + i);
    const __m128i act = _mm_and_si128(_mm_cmpgt_epi8(d, vNegT), _mm_cmpgt_epi8(vT, d));
    if (_mm_movemask_epi8(act) == 0) continue;
    const __m128i hv = _mm_sub_epi8(_mm_xor_si128(Load(cur + i), top), _mm_and_si128(d, act));
    __m128i s = d;
    if constexpr (Flags != 0) {
      __m128i col[3][3];
      for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r) col[c][r] = _mm_xor_si128(Load(hist + i - 1 + c + (r - 1) * w), top);
      const __m128i med = _mm_xor_si128(Median9<OrderU8>(col), top);
      if constexpr ((Flags & 2) != 0) {
        const __m128i dl = _mm_srai_epi16(_mm_unpacklo_epi8(d, d), 8), dh = _mm_srai_epi16(_mm_unpackhi_epi8(d, d), 8);
        const __m128i ml = _mm_srai_epi16(_mm_unpacklo_epi8(med, med), 8), mh = _mm_srai_epi16(_mm_unpackhi_epi8(med, med), 8);
        const __m128i sl = _mm_add_epi16(_mm_sub_epi16(_mm_slli_epi16(dl, 3), dl), _mm_add_epi16(_mm_slli_epi16(ml, 3), ml));
        const __m128i sh = _mm_add_epi16(_mm_sub_epi16(_mm_slli_epi16(dh, 3), dh), _mm_add_epi16(_mm_slli_epi16(mh, 3), mh));
        s = _mm_packs_epi16(_mm_srai_epi16(sl, 4), _mm_srai_epi16(sh, 4));
      }
      if constexpr ((Flags & 1) != 0) {
        const __m128i mneg = _mm_cmpgt_epi8(zero, med);
        Store(av, _mm_min_epu8(_mm_sub_epi8(_mm_xor_si128(med, mneg), mneg), clampMed));
      }
    }
    const __m128i neg = _mm_cmpgt_epi8(zero, s);
    Store(jv, _mm_sub_epi8(_mm_xor_si128(s, neg), neg));  // |s| <= 126 wherever |d| < T
    for (int k = 0; k < 16; ++k) {
      const int row = (Flags & 1) ? t.levelByMedian[av[k]] * kTransferColumns : 0;
      fv[k] = t.transferBytes[row + jv[k]];
    }
    const __m128i f = Load(fv);
    const __m128i tr = _mm_and_si128(_mm_sub_epi8(_mm_xor_si128(f, neg), neg), act);
    Store(cur + i, _mm_xor_si128(_mm_adds_epi8(hv, tr), top));
  }
  if (i <= b) Main8Scalar(cur, hist, w, i, b, t);
}

template <int Flags>
void Main16Impl(int16_t* cur, const int16_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b, const TemporalTables& t) {
  const __m128i zero = _mm_setzero_si128(), top = _mm_set1_epi16(static_cast<int16_t>(0x8000));
  const __m128i vT = _mm_set1_epi16(static_cast<int16_t>(t.T)), vNegT = _mm_set1_epi16(static_cast<int16_t>(-t.T));
  const __m128i clampMed = _mm_set1_epi16(static_cast<int16_t>(kMedianClamp ^ 0x8000));
  const __m128i weights = _mm_set1_epi32(7 | (9 << 16));
  alignas(16) uint16_t jv[8], av[8];
  alignas(16) int16_t fv[8];
  ptrdiff_t i = a;
  for (; i + 7 <= b; i += 8) {
    const __m128i d = Load(hist + i);
    const __m128i act = _mm_and_si128(_mm_cmpgt_epi16(d, vNegT), _mm_cmpgt_epi16(vT, d));
    if (_mm_movemask_epi8(act) == 0) continue;
    const __m128i hv = _mm_sub_epi16(Load(cur + i), _mm_and_si128(d, act));  // modulo 2^16
    __m128i s = d;
    if constexpr (Flags != 0) {
      __m128i col[3][3];
      for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r) col[c][r] = Load(hist + i - 1 + c + (r - 1) * w);
      const __m128i med = Median9<OrderS16>(col);
      if constexpr ((Flags & 2) != 0) {
        const __m128i lo = _mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(d, med), weights), 4);
        const __m128i hi = _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(d, med), weights), 4);
        s = _mm_packs_epi32(lo, hi);
      }
      if constexpr ((Flags & 1) != 0) {
        // |med| as an unsigned 16-bit value, limited with a signed minimum on
        // top-bit-flipped values.
        const __m128i mneg = _mm_cmpgt_epi16(zero, med);
        const __m128i am = _mm_sub_epi16(_mm_xor_si128(med, mneg), mneg);
        Store(av, _mm_xor_si128(_mm_min_epi16(_mm_xor_si128(am, top), clampMed), top));
      }
    }
    const __m128i neg = _mm_cmpgt_epi16(zero, s);
    Store(jv, _mm_sub_epi16(_mm_xor_si128(s, neg), neg));
    for (int k = 0; k < 8; ++k) {
      const int row = (Flags & 1) ? t.levelByMedian[av[k]] * kTransferColumns : 0;
      const int j = jv[k];
      fv[k] = static_cast<int16_t>(j < kTransferColumns ? t.transferBytes[row + j] : j);
    }
    const __m128i f = Load(fv);
    const __m128i tr = _mm_and_si128(_mm_sub_epi16(_mm_xor_si128(f, neg), neg), act);
    Store(cur + i, _mm_add_epi16(hv, tr));
  }
  if (i <= b) Main16Scalar(cur, hist, w, i, b, t);
}

void Main8Sse2(uint8_t* cur, const uint8_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b, const TemporalTables& t) {
  switch (t.flags) {
    case 0: return Main8Impl<0>(cur, hist, w, a, b, t);
    case 1: return Main8Impl<1>(cur, hist, w, a, b, t);
    case 2: return Main8Impl<2>(cur, hist, w, a, b, t);
    default: return Main8Impl<3>(cur, hist, w, a, b, t);
  }
}

void Main16Sse2(int16_t* cur, const int16_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b,
                const TemporalTables& t) {
  switch (t.flags) {
    case 0: return Main16Impl<0>(cur, hist, w, a, b, t);
    case 1: return Main16Impl<1>(cur, hist, w, a, b, t);
    case 2: return Main16Impl<2>(cur, hist, w, a, b, t);
    default: return Main16Impl<3>(cur, hist, w, a, b, t);
  }
}

constexpr Kernels kTable = {Diff8Sse2, Diff16Sse2, Main8Sse2, Main16Sse2};

}  // namespace

const Kernels& Sse2Kernels() { return kTable; }

}  // namespace tarvo::temporal_detail
