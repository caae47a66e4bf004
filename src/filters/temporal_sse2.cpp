// SSE2 kernels of the temporal filter. SSE2 has no byte shuffle for the table
// lookups, so the vectors find the noise samples and their block medians and
// the transfer is looked up per noise sample.
#include <emmintrin.h>

#include <algorithm>

#include "filters/temporal_kernels.h"

namespace tarvo::temporal_detail {
namespace {

inline __m128i Load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline void Store(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }

template <typename MinFn, typename MaxFn>
inline __m128i Median9(__m128i (&col)[3][3], MinFn mn, MaxFn mx) {
  __m128i lo[3], mid[3], hi[3];
  for (int c = 0; c < 3; ++c) {
    const __m128i a = mn(col[c][0], col[c][1]), b = mx(col[c][0], col[c][1]);
    lo[c] = mn(a, col[c][2]);
    mid[c] = mx(a, mn(b, col[c][2]));
    hi[c] = mx(b, col[c][2]);
  }
  const __m128i maxLo = mx(mx(lo[0], lo[1]), lo[2]);
  const __m128i minHi = mn(mn(hi[0], hi[1]), hi[2]);
  const __m128i medMid = mx(mn(mid[0], mid[1]), mn(mx(mid[0], mid[1]), mid[2]));
  return mx(mn(maxLo, medMid), mn(mx(maxLo, medMid), minHi));
}

}  // namespace

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

void Main8Sse2(uint8_t* cur, const uint8_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b, const TemporalTables& t) {
  // Signed bytes are ordered as unsigned ones after flipping the top bit.
  const __m128i bias = _mm_set1_epi8(static_cast<char>(0x80));
  const __m128i vT = _mm_set1_epi8(static_cast<char>(t.T)), vNegT = _mm_set1_epi8(static_cast<char>(-t.T));
  const auto mn = [](__m128i x, __m128i y) { return _mm_min_epu8(x, y); };
  const auto mx = [](__m128i x, __m128i y) { return _mm_max_epu8(x, y); };
  alignas(16) int8_t med[16];
  ptrdiff_t i = a;
  for (; i + 15 <= b; i += 16) {
    const __m128i d = Load(hist + i);
    const int act = _mm_movemask_epi8(_mm_and_si128(_mm_cmpgt_epi8(d, vNegT), _mm_cmpgt_epi8(vT, d)));
    if (act == 0) continue;
    if (t.flags != 0) {
      __m128i col[3][3];
      for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r) col[c][r] = _mm_xor_si128(Load(hist + i - 1 + c + (r - 1) * w), bias);
      Store(med, _mm_xor_si128(Median9(col, mn, mx), bias));
    } else {
      Store(med, _mm_setzero_si128());
    }
    for (int bits = act; bits != 0; bits &= bits - 1) {
      const int k = __builtin_ctz(static_cast<unsigned>(bits));
      const int32_t dk = static_cast<int8_t>(hist[i + k]);
      const int32_t out = cur[i + k] - dk + TransferDelta(dk, med[k], t);
      cur[i + k] = static_cast<uint8_t>(std::clamp(out, 0, 255));
    }
  }
  if (i <= b) Main8Scalar(cur, hist, w, i, b, t);
}

void Main16Sse2(int16_t* cur, const int16_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b,
                const TemporalTables& t) {
  const __m128i vT = _mm_set1_epi16(static_cast<int16_t>(t.T)), vNegT = _mm_set1_epi16(static_cast<int16_t>(-t.T));
  const auto mn = [](__m128i x, __m128i y) { return _mm_min_epi16(x, y); };
  const auto mx = [](__m128i x, __m128i y) { return _mm_max_epi16(x, y); };
  alignas(16) int16_t med[8];
  ptrdiff_t i = a;
  for (; i + 7 <= b; i += 8) {
    const __m128i d = Load(hist + i);
    const int act =
        _mm_movemask_epi8(_mm_packs_epi16(_mm_and_si128(_mm_cmpgt_epi16(d, vNegT), _mm_cmpgt_epi16(vT, d)), _mm_setzero_si128()));
    if (act == 0) continue;
    if (t.flags != 0) {
      __m128i col[3][3];
      for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r) col[c][r] = Load(hist + i - 1 + c + (r - 1) * w);
      Store(med, Median9(col, mn, mx));
    } else {
      Store(med, _mm_setzero_si128());
    }
    for (int bits = act; bits != 0; bits &= bits - 1) {
      const int k = __builtin_ctz(static_cast<unsigned>(bits));
      const int32_t dk = hist[i + k];
      cur[i + k] = Wrap16(cur[i + k] - dk + TransferDelta(dk, med[k], t));
    }
  }
  if (i <= b) Main16Scalar(cur, hist, w, i, b, t);
}

}  // namespace tarvo::temporal_detail
