// Input conversion with 512-bit byte permutes. 64 pixels at a time are split
// into blue, green and red byte rows; each table look-up of 64 bytes is two
// two-register byte permutes and a blend, instead of gathers of 8 entries.
// The chroma table is looked up as two byte tables (its entries fit 16 bits).
// Gives exactly the plain kernel's result.
#include "planes/inout_kernels.h"

// GCC 12 reports the deliberately undefined pass-through operand inside its
// own 512-bit shift intrinsics as (maybe) uninitialised; nothing of ours is.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>

#include <cstddef>

// This file is compiled with the 512-bit instruction sets switched on (see
// src/CMakeLists.txt); its kernels run only after Avx512Usable() said yes.

namespace tarvo::inout_kernels {
namespace {

// A 256-entry byte table held in four registers.
struct ByteTable {
  __m512i part[4];
};

inline ByteTable LoadTable(const uint8_t* t) {
  ByteTable b;
  for (int i = 0; i < 4; ++i) b.part[i] = _mm512_loadu_si512(t + 64 * i);
  return b;
}

// t[i] for each of the 64 bytes i.
inline __m512i LookUp(const ByteTable& t, __m512i i) {
  const __m512i lo = _mm512_permutex2var_epi8(t.part[0], i, t.part[1]);
  const __m512i hi = _mm512_permutex2var_epi8(t.part[2], i, t.part[3]);
  return _mm512_mask_blend_epi8(_mm512_movepi8_mask(i), lo, hi);
}

struct Tables {
  ByteTable red, green, blue;
  ByteTable chromaLow, chromaHigh;  // the two bytes of each 16-bit chroma entry
};

// Byte lanes as 16-bit lanes: within each 128-bit lane the low eight bytes go
// to `low`, the high eight to `high` (the order packus_epi16 undoes).
inline __m512i ZeroExtendLow(__m512i a) { return _mm512_unpacklo_epi8(a, _mm512_setzero_si512()); }
inline __m512i ZeroExtendHigh(__m512i a) { return _mm512_unpackhi_epi8(a, _mm512_setzero_si512()); }

// (77 r + 150 g + 29 b + 128) >> 8 in 16-bit lanes; rb holds the pairs (b, r).
// The sum stays below 65536, so unsigned 16-bit lanes hold it exactly.
inline __m512i Luminance(__m512i rb, __m512i g) {
  const __m512i br = _mm512_maddubs_epi16(rb, _mm512_set1_epi16(29 | 77 << 8));
  const __m512i gw = _mm512_mullo_epi16(g, _mm512_set1_epi16(150));
  return _mm512_srli_epi16(_mm512_add_epi16(_mm512_add_epi16(br, gw), _mm512_set1_epi16(128)), 8);
}

// Colour differences of 64 pixels in 16-bit lanes, in the order of
// ZeroExtendLow (lo) and ZeroExtendHigh (hi).
struct Differences {
  __m512i ulo, uhi, vlo, vhi;
};

// 64 pixels at s: levels stored to y.
inline Differences Convert64(const Tables& t, const uint8_t* s, uint8_t* y) {
  const __m512i p0 = _mm512_loadu_si512(s), p1 = _mm512_loadu_si512(s + 64);
  const __m512i p2 = _mm512_loadu_si512(s + 128), p3 = _mm512_loadu_si512(s + 192);
  // Byte j of the index picks, from a pair of registers (32 pixels), blue of
  // pixel j for j < 32 and green of pixel j - 32 above; the red index puts
  // red of pixel j in byte j (the upper half is not used).
  alignas(64) static constexpr uint8_t kBlueGreen[64] = {
      0,  4,  8,  12, 16, 20, 24, 28, 32, 36, 40, 44, 48, 52, 56, 60,  64,  68,  72,  76,  80,  84,
      88, 92, 96, 100, 104, 108, 112, 116, 120, 124, 1, 5,  9,  13, 17, 21, 25, 29, 33, 37, 41, 45,
      49, 53, 57, 61, 65, 69, 73, 77, 81, 85, 89, 93, 97, 101, 105, 109, 113, 117, 121, 125};
  alignas(64) static constexpr uint8_t kRed[64] = {
      2,  6,  10, 14, 18, 22, 26, 30, 34, 38, 42, 46, 50, 54, 58, 62,  66,  70,  74,  78,  82,  86,
      90, 94, 98, 102, 106, 110, 114, 118, 122, 126, 2, 6,  10, 14, 18, 22, 26, 30, 34, 38, 42, 46,
      50, 54, 58, 62, 66, 70, 74, 78, 82, 86, 90, 94, 98, 102, 106, 110, 114, 118, 122, 126};
  const __m512i bgIndex = _mm512_load_si512(kBlueGreen), rIndex = _mm512_load_si512(kRed);
  const __m512i bg01 = _mm512_permutex2var_epi8(p0, bgIndex, p1);
  const __m512i bg23 = _mm512_permutex2var_epi8(p2, bgIndex, p3);
  const __m512i r01 = _mm512_permutex2var_epi8(p0, rIndex, p1);
  const __m512i r23 = _mm512_permutex2var_epi8(p2, rIndex, p3);
  const __m512i b = LookUp(t.blue, _mm512_shuffle_i64x2(bg01, bg23, 0x44));
  const __m512i g = LookUp(t.green, _mm512_shuffle_i64x2(bg01, bg23, 0xEE));
  const __m512i r = LookUp(t.red, _mm512_shuffle_i64x2(r01, r23, 0x44));

  const __m512i lumLo = Luminance(_mm512_unpacklo_epi8(b, r), ZeroExtendLow(g));
  const __m512i lumHi = Luminance(_mm512_unpackhi_epi8(b, r), ZeroExtendHigh(g));
  const __m512i lum = _mm512_packus_epi16(lumLo, lumHi);
  _mm512_storeu_si512(y, lum);

  const __m512i cbLow = LookUp(t.chromaLow, b), cbHigh = LookUp(t.chromaHigh, b);
  const __m512i crLow = LookUp(t.chromaLow, r), crHigh = LookUp(t.chromaHigh, r);
  const __m512i cyLow = LookUp(t.chromaLow, lum), cyHigh = LookUp(t.chromaHigh, lum);
  const __m512i cyLo = _mm512_unpacklo_epi8(cyLow, cyHigh), cyHi = _mm512_unpackhi_epi8(cyLow, cyHigh);
  Differences out;
  out.ulo = _mm512_sub_epi16(_mm512_unpacklo_epi8(cbLow, cbHigh), cyLo);
  out.uhi = _mm512_sub_epi16(_mm512_unpackhi_epi8(cbLow, cbHigh), cyHi);
  out.vlo = _mm512_sub_epi16(_mm512_unpacklo_epi8(crLow, crHigh), cyLo);
  out.vhi = _mm512_sub_epi16(_mm512_unpackhi_epi8(crLow, crHigh), cyHi);
  return out;
}

// 64 samples from their ZeroExtendLow / ZeroExtendHigh halves, in order.
inline void StoreInOrder(int16_t* out, __m512i lo, __m512i hi) {
  const __m512i first = _mm512_setr_epi64(0, 1, 8, 9, 2, 3, 10, 11);
  const __m512i second = _mm512_setr_epi64(4, 5, 12, 13, 6, 7, 14, 15);
  _mm512_storeu_si512(out, _mm512_permutex2var_epi64(lo, first, hi));
  _mm512_storeu_si512(out + 32, _mm512_permutex2var_epi64(lo, second, hi));
}

// Sums of neighbouring pairs in 32-bit lanes.
inline __m512i PairSums(__m512i a) { return _mm512_madd_epi16(a, _mm512_set1_epi16(1)); }

// (sum + bias) >> shift of the pair sums from the low and high halves, as 32
// samples in order: packs_epi32 interleaves the halves back per 128-bit lane.
inline void StoreAverages(int16_t* out, __m512i lo, __m512i hi, int bias, int shift) {
  const __m512i k = _mm512_set1_epi32(bias);
  const __m512i a = _mm512_sra_epi32(_mm512_add_epi32(lo, k), _mm_cvtsi32_si128(shift));
  const __m512i c = _mm512_sra_epi32(_mm512_add_epi32(hi, k), _mm_cvtsi32_si128(shift));
  _mm512_storeu_si512(out, _mm512_packs_epi32(a, c));
}

// Modes 0 (one sample per pixel), 1 (pairs) and 2 (2 x 2 blocks).
void InputRows(const Tables& t, const InputJob& job, int32_t wv) {
  const int32_t w = job.w, stride = job.stride, mode = job.mode;
  const int hs = mode == 0 ? 0 : 1;
  const int vs = mode == 2 ? 1 : 0;
  const int32_t cw = w >> hs;
  for (int32_t row = 0; row < job.h; row += 1 << vs) {
    const size_t off = static_cast<size_t>(row) * stride;
    const uint8_t* s = job.src + off;
    uint8_t* ys = job.y + static_cast<size_t>(row) * w;
    int16_t* us = job.u + static_cast<size_t>(row >> vs) * cw;
    int16_t* vsm = job.v + static_cast<size_t>(row >> vs) * cw;
    for (int32_t x = 0; x < wv; x += 64) {
      const Differences a = Convert64(t, s + 4 * x, ys + x);
      if (mode == 0) {
        StoreInOrder(us + x, a.ulo, a.uhi);
        StoreInOrder(vsm + x, a.vlo, a.vhi);
      } else if (mode == 1) {
        StoreAverages(us + (x >> 1), PairSums(a.ulo), PairSums(a.uhi), 1, 1);
        StoreAverages(vsm + (x >> 1), PairSums(a.vlo), PairSums(a.vhi), 1, 1);
      } else {
        const Differences c = Convert64(t, s + stride + 4 * x, ys + w + x);
        StoreAverages(us + (x >> 1), _mm512_add_epi32(PairSums(a.ulo), PairSums(c.ulo)),
                      _mm512_add_epi32(PairSums(a.uhi), PairSums(c.uhi)), 2, 2);
        StoreAverages(vsm + (x >> 1), _mm512_add_epi32(PairSums(a.vlo), PairSums(c.vlo)),
                      _mm512_add_epi32(PairSums(a.vhi), PairSums(c.vhi)), 2, 2);
      }
    }
  }
}

// 32 colour differences for the pixels x .. x + 31, each sample repeated for
// the 2 (HS 1) or 4 (HS 2) pixels that share it.
template <int HS>
inline __m512i LoadShared32(const int16_t* c, int32_t x) {
  if constexpr (HS == 1) {
    const __m512i e = _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + (x >> 1))));
    return _mm512_or_si512(e, _mm512_slli_epi32(e, 16));
  } else {
    __m512i e = _mm512_cvtepu16_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c + (x >> 2))));
    e = _mm512_or_si512(e, _mm512_slli_epi64(e, 16));
    return _mm512_or_si512(e, _mm512_slli_epi64(e, 32));
  }
}

// The output conversion of the AVX2 kernel on 32 pixels at a time. Without a
// frame to take the fourth bytes from, the colour bytes go out through a
// byte-masked store, so the fourth bytes are neither read nor written; with
// one, its fourth bytes are blended in and whole pixels stored.
template <int HS, int VS, bool kFourth>
void OutputRows(const OutputJob& job, int32_t wv) {
  const int32_t w = job.w, cw = w >> HS;
  const __m512i zero = _mm512_setzero_si512();
  const __m512i range = _mm512_set1_epi16(static_cast<int16_t>(job.range));
  const __m512i vmin = _mm512_set1_epi16(static_cast<int16_t>(job.vmin));
  const __m512i c29 = _mm512_set1_epi16(29), c77 = _mm512_set1_epi16(77), c37 = _mm512_set1_epi16(37);
  const __m512i one = _mm512_set1_epi16(1);
  const __m512i reciprocal = _mm512_set1_epi16(static_cast<int16_t>(55925 - 65536));
  const __m512i first = _mm512_setr_epi64(0, 1, 8, 9, 2, 3, 10, 11);
  const __m512i second = _mm512_setr_epi64(4, 5, 12, 13, 6, 7, 14, 15);
  constexpr __mmask64 kColour = 0x7777777777777777ull;
  for (int32_t row = 0; row < job.h; ++row) {
    const uint8_t* ys = job.y + static_cast<size_t>(row) * w;
    const int16_t* us = job.u + static_cast<size_t>(row >> VS) * cw;
    const int16_t* vs = job.v + static_cast<size_t>(row >> VS) * cw;
    uint8_t* d = job.dst + static_cast<size_t>(row) * job.stride;
    const uint8_t* k = kFourth ? job.fourth + static_cast<size_t>(row) * job.stride : nullptr;
    for (int32_t x = 0; x < wv; x += 32) {
      const __m512i y = _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(ys + x)));
      // Same arithmetic as the AVX2 kernel: saturating sums, then the limits;
      // green from half its numerator and the reciprocal of 75.
      const __m512i b = _mm512_min_epi16(_mm512_max_epi16(_mm512_adds_epi16(y, LoadShared32<HS>(us, x)), zero), range);
      const __m512i r = _mm512_min_epi16(_mm512_max_epi16(_mm512_adds_epi16(y, LoadShared32<HS>(vs, x)), zero), range);
      const __m512i weighted = _mm512_add_epi16(_mm512_mullo_epi16(b, c29), _mm512_mullo_epi16(r, c77));
      __m512i half = _mm512_sub_epi16(_mm512_add_epi16(_mm512_slli_epi16(y, 7), c37),
                                      _mm512_srli_epi16(_mm512_add_epi16(weighted, one), 1));
      half = _mm512_max_epi16(half, zero);
      const __m512i g = _mm512_min_epi16(_mm512_srli_epi16(_mm512_mulhi_epu16(half, reciprocal), 6), range);

      const __m512i bg = _mm512_or_si512(_mm512_add_epi16(b, vmin), _mm512_slli_epi16(_mm512_add_epi16(g, vmin), 8));
      const __m512i rr = _mm512_add_epi16(r, vmin);
      const __m512i lo = _mm512_unpacklo_epi16(bg, rr);  // pixels 0..3, 8..11, 16..19, 24..27
      const __m512i hi = _mm512_unpackhi_epi16(bg, rr);  // pixels 4..7, 12..15, ...
      uint8_t* p = d + 4 * static_cast<size_t>(x);
      const __m512i c0 = _mm512_permutex2var_epi64(lo, first, hi);
      const __m512i c1 = _mm512_permutex2var_epi64(lo, second, hi);
      if constexpr (kFourth) {
        const uint8_t* q = k + 4 * static_cast<size_t>(x);
        _mm512_storeu_si512(p, _mm512_mask_blend_epi8(kColour, _mm512_loadu_si512(q), c0));
        _mm512_storeu_si512(p + 64, _mm512_mask_blend_epi8(kColour, _mm512_loadu_si512(q + 64), c1));
      } else {
        _mm512_mask_storeu_epi8(p, kColour, c0);
        _mm512_mask_storeu_epi8(p + 64, kColour, c1);
      }
    }
  }
}

}  // namespace

void OutputAvx512(const OutputJob& job) {
  // With a sample per pixel the AVX2 kernel measured faster.
  if (job.mode == 0) {
    OutputAvx2(job);
    return;
  }
  const int32_t wv = job.w & ~31;
  if (wv > 0) {
    const bool fourth = job.fourth != nullptr;
    switch (job.mode) {
      case 1:
        fourth ? OutputRows<1, 0, true>(job, wv) : OutputRows<1, 0, false>(job, wv);
        break;
      case 2:
        fourth ? OutputRows<1, 1, true>(job, wv) : OutputRows<1, 1, false>(job, wv);
        break;
      default:
        fourth ? OutputRows<2, 0, true>(job, wv) : OutputRows<2, 0, false>(job, wv);
        break;
    }
  }
  if (wv < job.w) OutputAvx2Columns(job, wv);
}

void InputAvx512(const InputTables& t, const InputJob& job) {
  if (job.mode == 3) {
    InputAvx2(t, job);
    return;
  }
  const int32_t wv = job.w & ~63;
  if (wv > 0) {
    // Every chroma entry lies within -16383..16383, so its two low bytes
    // hold it exactly as a 16-bit value.
    alignas(64) uint8_t low[256], high[256];
    for (int i = 0; i < 256; ++i) {
      low[i] = static_cast<uint8_t>(t.chroma[i] & 0xFF);
      high[i] = static_cast<uint8_t>((t.chroma[i] >> 8) & 0xFF);
    }
    Tables tables;
    tables.red = LoadTable(t.red);
    tables.green = LoadTable(t.green);
    tables.blue = LoadTable(t.blue);
    tables.chromaLow = LoadTable(low);
    tables.chromaHigh = LoadTable(high);
    InputRows(tables, job, wv);
  }
  if (wv < job.w) InputAvx2Columns(t, job, wv);
}

namespace {
constexpr Kernels kTable = {InputAvx512, OutputAvx512};
}  // namespace

const Kernels& Avx512Kernels() { return kTable; }

}  // namespace tarvo::inout_kernels
