// 512-bit kernels of the temporal filter: 64 samples per step on Depth 1, 32
// on Depth 2, the transfer magnitudes looked up in byte tables of up to 512
// entries with byte permutes instead of gathers. Settings whose tables do not
// fit take the AVX2 kernels; row tails go to them as well.
#include "filters/temporal_kernels.h"

#if defined(__AVX512F__) && defined(__AVX512BW__) && defined(__AVX512VBMI__)
// GCC 12 reports the deliberately undefined pass-through operand inside its
// own 512-bit shift intrinsics as (maybe) uninitialised; nothing of ours is.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "filters/temporal_simd.h"

namespace tarvo::temporal_detail {
namespace {

// Loads and stores of one register, for the parts in temporal_simd.h.
struct Vec512 {
  using V = __m512i;
  static constexpr int kBytes = 64;
  static V Load(const void* p) { return _mm512_loadu_si512(p); }
  static void Store(void* p, V v) { _mm512_storeu_si512(p, v); }
};
inline __m512i Load(const void* p) { return Vec512::Load(p); }
inline void Store(void* p, __m512i v) { Vec512::Store(p, v); }

struct OrderS8 : Vec512 {
  static __m512i Min(__m512i a, __m512i b) { return _mm512_min_epi8(a, b); }
  static __m512i Max(__m512i a, __m512i b) { return _mm512_max_epi8(a, b); }
};
struct OrderS16 : Vec512 {
  static __m512i Min(__m512i a, __m512i b) { return _mm512_min_epi16(a, b); }
  static __m512i Max(__m512i a, __m512i b) { return _mm512_max_epi16(a, b); }
};

// A byte table of up to 512 entries, looked up by 16-bit lane indices: each
// block of 128 entries is one two-register byte permute (which reads the low
// seven bits of every byte of the index), the odd bytes are zeroed so that
// every 16-bit lane holds its entry, and the block is chosen by index / 128.
struct Lut512 {
  __m512i lo[4], hi[4];
  int blocks = 1;
  Lut512(const uint8_t* t, int entries) {
    blocks = (entries + 127) / 128;
    if (blocks < 1) blocks = 1;
    for (int k = 0; k < blocks; ++k) {
      lo[k] = _mm512_loadu_si512(t + 128 * k);
      hi[k] = _mm512_loadu_si512(t + 128 * k + 64);
    }
  }
  // idx: 16-bit lanes 0 .. 128 * blocks - 1 (other lanes read some entry).
  __m512i Lookup(__m512i idx) const {
    const __mmask64 even = 0x5555555555555555ull;
    __m512i r = _mm512_maskz_permutex2var_epi8(even, lo[0], idx, hi[0]);
    if (blocks > 1) {
      const __m512i block = _mm512_srli_epi16(idx, 7);
      for (int k = 1; k < blocks; ++k) {
        const __mmask32 in = _mm512_cmpeq_epi16_mask(block, _mm512_set1_epi16(static_cast<short>(k)));
        r = _mm512_mask_mov_epi16(r, in, _mm512_maskz_permutex2var_epi8(even, lo[k], idx, hi[k]));
      }
    }
    return r;
  }
};

// The AVX2 kernels, for the row tails and the settings these leave to them.
inline void Avx2Main(uint8_t* cur, const uint8_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b,
                     const TemporalTables& t) {
  Avx2Kernels().main8(cur, hist, w, a, b, t);
}
inline void Avx2Main(int16_t* cur, const int16_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b,
                     const TemporalTables& t) {
  Avx2Kernels().main16(cur, hist, w, a, b, t);
}

// Depth 2, Flags as in TemporalSettings. With motion detection the transfer
// comes from the wide joint table (t.hasWideJoint): index a * jointRow + |s|
// for a median magnitude a below K, identity (full motion) from K up.
template <int Flags>
void MainImpl(int16_t* cur, const int16_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b, const TemporalTables& t) {
  constexpr int kChunk = 1024;
  const Lut512 lut((Flags & 1) ? t.wideJoint : t.transfer0, (Flags & 1) ? t.fullFromMedian * t.jointRow : 128);
  const __m512i vT = _mm512_set1_epi16(static_cast<short>(t.T));
  const __m512i vK = _mm512_set1_epi16(static_cast<short>(t.fullFromMedian));
  const __m512i vRow = _mm512_set1_epi16(static_cast<short>(t.jointRow));
  const __m512i c127 = _mm512_set1_epi16(127);
  const __m512i weights = _mm512_set1_epi32(7 | (9 << 16));
  SortedColumns<int16_t, kChunk, OrderS16> cols;
  const ptrdiff_t c = ForEachVector<Flags>(cols, cur, hist, w, a, b, [&](ptrdiff_t o, ptrdiff_t i) {
    const __m512i d = Load(hist + i);
    const __m512i ad = _mm512_abs_epi16(d);             // unsigned 0..32768
    const __mmask32 act = _mm512_cmplt_epu16_mask(ad, vT);  // |d| < T
    if (act == 0) return;
    const __m512i cv = Load(cur + i);
    const __m512i hv = _mm512_sub_epi16(cv, d);  // modulo 2^16, as the stored difference
    __m512i s = d, f;
    if constexpr (Flags == 0) {
      f = lut.Lookup(ad);  // |d| < T <= 123 wherever it counts
    } else {
      const __m512i med = cols.Median(o);
      if constexpr ((Flags & 2) != 0) {
        // 7 d + 9 med in 32-bit lanes; the shifted result fits 16 bits.
        const __m512i lo = _mm512_srai_epi32(_mm512_madd_epi16(_mm512_unpacklo_epi16(d, med), weights), 4);
        const __m512i hi = _mm512_srai_epi32(_mm512_madd_epi16(_mm512_unpackhi_epi16(d, med), weights), 4);
        s = _mm512_packs_epi32(lo, hi);
      }
      const __m512i j = _mm512_abs_epi16(s);  // unsigned 0..32768
      if constexpr ((Flags & 1) != 0) {
        // Below full motion j < jointRow, so a * jointRow + j indexes the
        // table; full motion transfers as the identity.
        const __m512i am = _mm512_min_epu16(_mm512_abs_epi16(med), vK);
        const __mmask32 full = _mm512_cmpeq_epi16_mask(am, vK);
        const __m512i idx = _mm512_add_epi16(_mm512_mullo_epi16(am, vRow), j);
        f = _mm512_mask_mov_epi16(lut.Lookup(idx), full, j);
      } else {
        // Row 0 holds |s| 0..127, the identity beyond T; larger |s| too.
        f = _mm512_mask_mov_epi16(lut.Lookup(j), _mm512_cmpgt_epu16_mask(j, c127), j);
      }
    }
    // f(0) is 0, so adding f where s >= 0 and subtracting it where s < 0
    // is the signed transfer.
    const __mmask32 negative = _mm512_movepi16_mask(s);
    const __m512i out = _mm512_mask_sub_epi16(_mm512_add_epi16(hv, f), negative, hv, f);
    _mm512_mask_storeu_epi16(cur + i, act, out);
  });
  if (c <= b) Avx2Main(cur, hist, w, c, b, t);
}

// Depth 1: the differences are signed bytes. The history sample, offset by
// -128, plus the signed transfer with signed saturation is the result
// limited to 0..255, offset by -128.
template <int Flags>
void MainImpl(uint8_t* cur, const uint8_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b, const TemporalTables& t) {
  constexpr int kChunk = 2048;
  const Lut512 lut((Flags & 1) ? t.wideJoint : t.transfer0, (Flags & 1) ? t.fullFromMedian * t.jointRow : 128);
  const __m512i top = _mm512_set1_epi8(static_cast<char>(0x80));
  const __m512i vT = _mm512_set1_epi8(static_cast<char>(t.T));
  const __m512i vK = _mm512_set1_epi8(static_cast<char>(t.fullFromMedian));
  const __m512i vRow = _mm512_set1_epi16(static_cast<short>(t.jointRow));
  const __m512i weights = _mm512_set1_epi16(7 | (9 << 8));
  const __m512i zero = _mm512_setzero_si512();
  SortedColumns<int8_t, kChunk, OrderS8> cols;
  const ptrdiff_t c = ForEachVector<Flags>(cols, cur, hist, w, a, b, [&](ptrdiff_t o, ptrdiff_t i) {
    const __m512i d = Load(hist + i);
    const __m512i ad = _mm512_abs_epi8(d);                 // unsigned 0..128
    const __mmask64 act = _mm512_cmplt_epu8_mask(ad, vT);  // |d| < T
    if (act == 0) return;
    const __m512i cv = Load(cur + i);
    const __m512i hv = _mm512_sub_epi8(_mm512_xor_si512(cv, top), d);
    __m512i s = d, f;
    if constexpr (Flags == 0) {
      f = _mm512_permutex2var_epi8(lut.lo[0], ad, lut.hi[0]);
    } else {
      const __m512i med = cols.Median(o);
      if constexpr ((Flags & 2) != 0) {
        // s = (7 d + 9 med) >> 4: byte pairs (d, med) times (7, 9) summed
        // into 16-bit lanes; |s| <= 126 wherever |d| < T.
        const __m512i lo = _mm512_maddubs_epi16(weights, _mm512_unpacklo_epi8(d, med));
        const __m512i hi = _mm512_maddubs_epi16(weights, _mm512_unpackhi_epi8(d, med));
        s = _mm512_packs_epi16(_mm512_srai_epi16(lo, 4), _mm512_srai_epi16(hi, 4));
      }
      const __m512i j = (Flags & 2) ? _mm512_abs_epi8(s) : ad;
      if constexpr ((Flags & 1) != 0) {
        // The table index a * jointRow + j needs 16-bit lanes.
        const __m512i am = _mm512_min_epu8(_mm512_abs_epi8(med), vK);
        const __mmask64 full = _mm512_cmpeq_epi8_mask(am, vK);
        const __m512i idxLo =
            _mm512_add_epi16(_mm512_mullo_epi16(_mm512_unpacklo_epi8(am, zero), vRow), _mm512_unpacklo_epi8(j, zero));
        const __m512i idxHi =
            _mm512_add_epi16(_mm512_mullo_epi16(_mm512_unpackhi_epi8(am, zero), vRow), _mm512_unpackhi_epi8(j, zero));
        f = _mm512_mask_mov_epi8(_mm512_packus_epi16(lut.Lookup(idxLo), lut.Lookup(idxHi)), full, j);
      } else {
        // Row 0 holds |s| 0..127, the identity beyond T.
        f = _mm512_permutex2var_epi8(lut.lo[0], j, lut.hi[0]);
      }
    }
    // f <= 126, so the signed transfer fits a byte.
    const __m512i signedF = _mm512_mask_sub_epi8(f, _mm512_movepi8_mask(s), zero, f);
    const __m512i out = _mm512_xor_si512(_mm512_adds_epi8(hv, signedF), top);
    _mm512_mask_storeu_epi8(cur + i, act, out);
  });
  if (c <= b) Avx2Main(cur, hist, w, c, b, t);
}

void Diff16Avx512(const int16_t* cur, int16_t* hist, ptrdiff_t a, ptrdiff_t b) {
  ptrdiff_t i = a;
  for (; i + 31 <= b; i += 32) Store(hist + i, _mm512_sub_epi16(Load(cur + i), Load(hist + i)));
  if (i <= b) Avx2Kernels().diff16(cur, hist, i, b);
}

// The Depth 1 difference pass as at the AVX2 level.
void Diff8Avx512(const uint8_t* cur, uint8_t* hist, ptrdiff_t a, ptrdiff_t b) { Avx2Kernels().diff8(cur, hist, a, b); }

// Flags 1 and 3 need the wide joint table; settings without one take the
// AVX2 kernels.
template <typename Cell>
void MainAvx512(Cell* cur, const Cell* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b, const TemporalTables& t) {
  switch (t.flags) {
    case 0: MainImpl<0>(cur, hist, w, a, b, t); return;
    case 2: MainImpl<2>(cur, hist, w, a, b, t); return;
    default:
      if (t.hasWideJoint) {
        if (t.flags == 1)
          MainImpl<1>(cur, hist, w, a, b, t);
        else
          MainImpl<3>(cur, hist, w, a, b, t);
        return;
      }
      Avx2Main(cur, hist, w, a, b, t);
  }
}

constexpr Kernels kTable = {Diff8Avx512, Diff16Avx512, MainAvx512<uint8_t>, MainAvx512<int16_t>};

}  // namespace

const Kernels& Avx512Kernels() { return kTable; }

}  // namespace tarvo::temporal_detail

#else

namespace tarvo::temporal_detail {
const Kernels& Avx512Kernels() { return Avx2Kernels(); }
}  // namespace tarvo::temporal_detail

#endif
