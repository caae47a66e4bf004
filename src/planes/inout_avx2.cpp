// AVX2 kernels of the colour conversion. Each gives exactly the plain
// kernel's result; columns left over after the last whole group of 16 pixels
// go through the plain kernel. Only standard-library-free code in this file:
// everything here is compiled with -mavx2.
#include <immintrin.h>

#include <cstddef>

#include "planes/inout_kernels.h"

namespace tarvo::inout_kernels {
namespace {

inline __m256i Load256(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
inline void Store256(void* p, __m256i v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
inline __m128i Load128(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline void Store128(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }

// chroma[level] of 8 levels (32-bit lanes, 0..255).
template <bool kFormula>
inline __m256i ChromaOfLevel(const InputTables& t, __m256i lum) {
  if constexpr (kFormula) {
    // rnd(satFactor * level / 256), halves to even; satFactor fits 16 bits,
    // so one multiply-add of the low halves forms the product.
    const __m256i p = _mm256_madd_epi16(lum, _mm256_set1_epi32(t.satFactor & 0xFFFF));
    const __m256i q = _mm256_srai_epi32(_mm256_add_epi32(p, _mm256_set1_epi32(128)), 8);
    const __m256i tie = _mm256_cmpeq_epi32(_mm256_and_si256(p, _mm256_set1_epi32(255)), _mm256_set1_epi32(128));
    return _mm256_andnot_si256(_mm256_and_si256(tie, _mm256_set1_epi32(1)), q);
  } else {
    return _mm256_i32gather_epi32(t.chroma, lum, 4);
  }
}

// 8 pixels: their levels and colour differences in 32-bit lanes; the fourth
// bytes are carried into the destination.
template <bool kFormula>
inline void Convert8(const InputTables& t, const uint8_t* s, __m256i& lum, __m256i& u, __m256i& v) {
  const __m256i p = Load256(s);
  const __m256i byteMask = _mm256_set1_epi32(0xFF);
  const __m256i tb = _mm256_i32gather_epi32(t.packedB, _mm256_and_si256(p, byteMask), 4);
  const __m256i tg = _mm256_i32gather_epi32(t.lumG, _mm256_and_si256(_mm256_srli_epi32(p, 8), byteMask), 4);
  const __m256i tr = _mm256_i32gather_epi32(t.packedR, _mm256_and_si256(_mm256_srli_epi32(p, 16), byteMask), 4);
  const __m256i low = _mm256_set1_epi32(0xFFFF);
  lum = _mm256_srai_epi32(_mm256_add_epi32(_mm256_add_epi32(_mm256_and_si256(tb, low), tg), _mm256_and_si256(tr, low)),
                          8);
  const __m256i cy = ChromaOfLevel<kFormula>(t, lum);
  u = _mm256_sub_epi32(_mm256_srai_epi32(tb, 16), cy);
  v = _mm256_sub_epi32(_mm256_srai_epi32(tr, 16), cy);
}

// Levels of 16 pixels (a: 0..7, b: 8..15) as 16 bytes.
inline void StoreLevels16(uint8_t* y, __m256i a, __m256i b) {
  const __m256i w = _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
  Store128(y, _mm_packus_epi16(_mm256_castsi256_si128(w), _mm256_extracti128_si256(w, 1)));
}

// 16 values (a: 0..7, b: 8..15) as 16-bit samples.
inline void StoreSamples16(int16_t* out, __m256i a, __m256i b) {
  Store256(out, _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8));
}

// 8 values as 16-bit samples.
inline void StoreSamples8(int16_t* out, __m256i a) {
  Store128(out, _mm_packs_epi32(_mm256_castsi256_si128(a), _mm256_extracti128_si256(a, 1)));
}

// Sums of neighbouring pairs of 16 values (a: 0..7, b: 8..15), in order.
inline __m256i PairSums(__m256i a, __m256i b) { return _mm256_permute4x64_epi64(_mm256_hadd_epi32(a, b), 0xD8); }

template <bool kFormula>
void InputRows(const InputTables& t, const InputJob& job, int32_t x0, int32_t wv) {
  const int32_t w = job.w, stride = job.stride, mode = job.mode;
  const int hs = mode == 0 ? 0 : mode == 3 ? 2 : 1;
  const int vs = mode == 2 ? 1 : 0;
  const int32_t cw = w >> hs;
  const __m256i two = _mm256_set1_epi32(2);
  for (int32_t row = 0; row < job.h; row += 1 << vs) {
    const size_t off = static_cast<size_t>(row) * stride;
    const uint8_t* s = job.src + off;
    uint8_t* ys = job.y + static_cast<size_t>(row) * w;
    int16_t* us = job.u + static_cast<size_t>(row >> vs) * cw;
    int16_t* vsm = job.v + static_cast<size_t>(row >> vs) * cw;
    for (int32_t x = x0; x < wv; x += 16) {
      __m256i la, ua, va, lb, ub, vb;
      Convert8<kFormula>(t, s + 4 * x, la, ua, va);
      Convert8<kFormula>(t, s + 4 * x + 32, lb, ub, vb);
      StoreLevels16(ys + x, la, lb);
      switch (mode) {
        case 0:
          StoreSamples16(us + x, ua, ub);
          StoreSamples16(vsm + x, va, vb);
          break;
        case 1: {
          const __m256i one = _mm256_set1_epi32(1);
          StoreSamples8(us + (x >> 1), _mm256_srai_epi32(_mm256_add_epi32(PairSums(ua, ub), one), 1));
          StoreSamples8(vsm + (x >> 1), _mm256_srai_epi32(_mm256_add_epi32(PairSums(va, vb), one), 1));
          break;
        }
        case 2: {
          __m256i lc, uc, vc, ld, ud, vd;
          Convert8<kFormula>(t, s + stride + 4 * x, lc, uc, vc);
          Convert8<kFormula>(t, s + stride + 4 * x + 32, ld, ud, vd);
          StoreLevels16(ys + w + x, lc, ld);
          const __m256i su = PairSums(_mm256_add_epi32(ua, uc), _mm256_add_epi32(ub, ud));
          const __m256i sv = PairSums(_mm256_add_epi32(va, vc), _mm256_add_epi32(vb, vd));
          StoreSamples8(us + (x >> 1), _mm256_srai_epi32(_mm256_add_epi32(su, two), 2));
          StoreSamples8(vsm + (x >> 1), _mm256_srai_epi32(_mm256_add_epi32(sv, two), 2));
          break;
        }
        default: {
          // Quads: pair sums twice; lanes 0, 1, 4, 5 then hold the four sums.
          const __m256i order = _mm256_setr_epi32(0, 1, 4, 5, 0, 1, 4, 5);
          const __m256i pu = PairSums(ua, ub), pv = PairSums(va, vb);
          const __m256i qu = _mm256_permutevar8x32_epi32(_mm256_hadd_epi32(pu, pu), order);
          const __m256i qv = _mm256_permutevar8x32_epi32(_mm256_hadd_epi32(pv, pv), order);
          const __m128i ru = _mm256_castsi256_si128(_mm256_srai_epi32(_mm256_add_epi32(qu, two), 2));
          const __m128i rv = _mm256_castsi256_si128(_mm256_srai_epi32(_mm256_add_epi32(qv, two), 2));
          _mm_storel_epi64(reinterpret_cast<__m128i*>(us + (x >> 2)), _mm_packs_epi32(ru, ru));
          _mm_storel_epi64(reinterpret_cast<__m128i*>(vsm + (x >> 2)), _mm_packs_epi32(rv, rv));
          break;
        }
      }
    }
  }
}

// 16 colour differences for the pixels x .. x + 15, each sample repeated for
// the pixels that share it.
template <int HS>
inline __m256i LoadShared16(const int16_t* c, int32_t x) {
  if constexpr (HS == 0) {
    return Load256(c + x);
  } else if constexpr (HS == 1) {
    const __m256i e = _mm256_cvtepu16_epi32(Load128(c + (x >> 1)));
    return _mm256_or_si256(e, _mm256_slli_epi32(e, 16));
  } else {
    __m256i e = _mm256_cvtepu16_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(c + (x >> 2))));
    e = _mm256_or_si256(e, _mm256_slli_epi64(e, 16));
    return _mm256_or_si256(e, _mm256_slli_epi64(e, 32));
  }
}

template <int HS, int VS>
void OutputRows(const OutputJob& job, int32_t x0, int32_t wv) {
  const int32_t w = job.w, cw = w >> HS;
  const __m256i zero = _mm256_setzero_si256();
  const __m256i range = _mm256_set1_epi16(static_cast<int16_t>(job.range));
  const __m256i vmin = _mm256_set1_epi16(static_cast<int16_t>(job.vmin));
  const __m256i c29 = _mm256_set1_epi16(29), c77 = _mm256_set1_epi16(77), c37 = _mm256_set1_epi16(37);
  const __m256i one = _mm256_set1_epi16(1);
  const __m256i reciprocal = _mm256_set1_epi16(static_cast<int16_t>(55925 - 65536));
  const __m256i fourth = _mm256_set1_epi32(static_cast<int32_t>(0xFF000000u));
  for (int32_t row = 0; row < job.h; ++row) {
    const uint8_t* ys = job.y + static_cast<size_t>(row) * w;
    const int16_t* us = job.u + static_cast<size_t>(row >> VS) * cw;
    const int16_t* vs = job.v + static_cast<size_t>(row >> VS) * cw;
    uint8_t* d = job.dst + static_cast<size_t>(row) * job.stride;
    // The fourth bytes come from the given frame, else from the destination
    // itself (left as they are).
    const uint8_t* k = job.fourth ? job.fourth + static_cast<size_t>(row) * job.stride : d;
    for (int32_t x = x0; x < wv; x += 16) {
      const __m256i y = _mm256_cvtepu8_epi16(Load128(ys + x));
      // Saturating adds keep the sign of sums beyond 16 bits, and the limits
      // that follow give the same result as the exact sums would.
      const __m256i b = _mm256_min_epi16(_mm256_max_epi16(_mm256_adds_epi16(y, LoadShared16<HS>(us, x)), zero), range);
      const __m256i r = _mm256_min_epi16(_mm256_max_epi16(_mm256_adds_epi16(y, LoadShared16<HS>(vs, x)), zero), range);
      // Half the green numerator, rounded down, fits 16 bits:
      // floor((256 y - 29 b - 77 r + 74) / 2) = 128 y + 37 - ceil((29 b + 77 r) / 2),
      // and n / 150 = floor(n / 2) / 75 = (floor(n / 2) * 55925) >> 22.
      const __m256i weighted = _mm256_add_epi16(_mm256_mullo_epi16(b, c29), _mm256_mullo_epi16(r, c77));
      __m256i half = _mm256_sub_epi16(_mm256_add_epi16(_mm256_slli_epi16(y, 7), c37),
                                      _mm256_srli_epi16(_mm256_add_epi16(weighted, one), 1));
      half = _mm256_max_epi16(half, zero);
      const __m256i g = _mm256_min_epi16(_mm256_srli_epi16(_mm256_mulhi_epu16(half, reciprocal), 6), range);

      const __m256i bg = _mm256_or_si256(_mm256_add_epi16(b, vmin), _mm256_slli_epi16(_mm256_add_epi16(g, vmin), 8));
      const __m256i rr = _mm256_add_epi16(r, vmin);
      const __m256i lo = _mm256_unpacklo_epi16(bg, rr);  // pixels 0..3, 8..11
      const __m256i hi = _mm256_unpackhi_epi16(bg, rr);  // pixels 4..7, 12..15
      uint8_t* p = d + 4 * static_cast<size_t>(x);
      const __m256i first = _mm256_permute2x128_si256(lo, hi, 0x20);
      const __m256i second = _mm256_permute2x128_si256(lo, hi, 0x31);
      const uint8_t* q = k + 4 * static_cast<size_t>(x);
      Store256(p, _mm256_or_si256(_mm256_and_si256(Load256(q), fourth), first));
      Store256(p + 32, _mm256_or_si256(_mm256_and_si256(Load256(q + 32), fourth), second));
    }
  }
}

}  // namespace

void InputAvx2(const InputTables& t, const InputJob& job) { InputAvx2Columns(t, job, 0); }

void InputAvx2Columns(const InputTables& t, const InputJob& job, int32_t x0) {
  const int32_t wv = job.w & ~15;
  if (wv > x0) {
    if (t.chromaByFormula)
      InputRows<true>(t, job, x0, wv);
    else
      InputRows<false>(t, job, x0, wv);
  }
  if (wv < job.w) InputPlain(t, job, wv > x0 ? wv : x0);
}

void OutputAvx2(const OutputJob& job) { OutputAvx2Columns(job, 0); }

void OutputAvx2Columns(const OutputJob& job, int32_t x0) {
  const int32_t wv = job.w & ~15;
  if (wv > x0) {
    switch (job.mode) {
      case 0:
        OutputRows<0, 0>(job, x0, wv);
        break;
      case 1:
        OutputRows<1, 0>(job, x0, wv);
        break;
      case 2:
        OutputRows<1, 1>(job, x0, wv);
        break;
      default:
        OutputRows<2, 0>(job, x0, wv);
        break;
    }
  }
  if (wv < job.w) OutputPlain(job, wv > x0 ? wv : x0);
}

namespace {
constexpr Kernels kTable = {InputAvx2, OutputAvx2};
}  // namespace

const Kernels& Avx2Kernels() { return kTable; }

}  // namespace tarvo::inout_kernels
