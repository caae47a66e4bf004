// The BGRA to YUV row kernels for AVX2: the SSE2 kernels' arithmetic on
// twice as many pixels. Bit for bit the plain kernels.
#include <immintrin.h>

#include "yuv_write.h"

namespace tarvo::cli::yuv_kernels {
namespace {

__m256i Pair(int16_t lo, int16_t hi) {
  return _mm256_set1_epi32(
      static_cast<int>(static_cast<uint16_t>(lo) | (static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16)));
}

// cB*B + cG*G + cR*R + bias for eight pixels (see the SSE2 unit).
inline __m256i Dot8(__m256i px, __m256i cBR, __m256i cG0, __m256i bias) {
  const __m256i mask = _mm256_set1_epi32(0x00FF00FF);
  const __m256i br = _mm256_and_si256(px, mask);
  const __m256i ga = _mm256_srli_epi16(px, 8);
  return _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(br, cBR), _mm256_madd_epi16(ga, cG0)), bias);
}

// Packing works within each 128-bit half; this puts the 32-bit groups of a
// doubly packed vector back in order.
inline __m256i InOrder(__m256i v) { return _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7)); }

void PixelsAvx2(const uint8_t* bgra, uint8_t* out, int width, const int16_t* c, int32_t bias) {
  const __m256i cBR = Pair(c[0], c[2]);
  const __m256i cG0 = Pair(c[1], 0);
  const __m256i vb = _mm256_set1_epi32(bias);
  int x = 0;
  for (; x + 32 <= width; x += 32) {
    const __m256i* s = reinterpret_cast<const __m256i*>(bgra + 4 * static_cast<ptrdiff_t>(x));
    const __m256i d0 = _mm256_srai_epi32(Dot8(_mm256_loadu_si256(s), cBR, cG0, vb), 15);
    const __m256i d1 = _mm256_srai_epi32(Dot8(_mm256_loadu_si256(s + 1), cBR, cG0, vb), 15);
    const __m256i d2 = _mm256_srai_epi32(Dot8(_mm256_loadu_si256(s + 2), cBR, cG0, vb), 15);
    const __m256i d3 = _mm256_srai_epi32(Dot8(_mm256_loadu_si256(s + 3), cBR, cG0, vb), 15);
    const __m256i w = _mm256_packus_epi16(_mm256_packs_epi32(d0, d1), _mm256_packs_epi32(d2, d3));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), InOrder(w));
  }
  if (x < width) PlainYuvRowKernels().pixels(bgra + 4 * static_cast<ptrdiff_t>(x), out + x, width - x, c, bias);
}

// The block sums for sixteen pixels of each row (eight blocks), in block
// order: blue and red, green and the fourth byte, 16 bits each.
inline void BlockSums(const uint8_t* row0, const uint8_t* row1, __m256i* br, __m256i* ga) {
  const __m256i mask = _mm256_set1_epi32(0x00FF00FF);
  const __m256i* a = reinterpret_cast<const __m256i*>(row0);
  const __m256i* b = reinterpret_cast<const __m256i*>(row1);
  const __m256i a0 = _mm256_loadu_si256(a), a1 = _mm256_loadu_si256(a + 1);
  const __m256i b0 = _mm256_loadu_si256(b), b1 = _mm256_loadu_si256(b + 1);
  const __m256i br0 = _mm256_add_epi16(_mm256_and_si256(a0, mask), _mm256_and_si256(b0, mask));
  const __m256i br1 = _mm256_add_epi16(_mm256_and_si256(a1, mask), _mm256_and_si256(b1, mask));
  const __m256i ga0 = _mm256_add_epi16(_mm256_srli_epi16(a0, 8), _mm256_srli_epi16(b0, 8));
  const __m256i ga1 = _mm256_add_epi16(_mm256_srli_epi16(a1, 8), _mm256_srli_epi16(b1, 8));
  const __m256i hbr0 = _mm256_add_epi16(br0, _mm256_srli_epi64(br0, 32));
  const __m256i hbr1 = _mm256_add_epi16(br1, _mm256_srli_epi64(br1, 32));
  const __m256i hga0 = _mm256_add_epi16(ga0, _mm256_srli_epi64(ga0, 32));
  const __m256i hga1 = _mm256_add_epi16(ga1, _mm256_srli_epi64(ga1, 32));
  // The gather works in 128-bit halves: blocks 0 1 4 5 | 2 3 6 7, then
  // the 64-bit groups are put in order.
  const __m256i sbr = _mm256_castps_si256(
      _mm256_shuffle_ps(_mm256_castsi256_ps(hbr0), _mm256_castsi256_ps(hbr1), _MM_SHUFFLE(2, 0, 2, 0)));
  const __m256i sga = _mm256_castps_si256(
      _mm256_shuffle_ps(_mm256_castsi256_ps(hga0), _mm256_castsi256_ps(hga1), _MM_SHUFFLE(2, 0, 2, 0)));
  *br = _mm256_permute4x64_epi64(sbr, _MM_SHUFFLE(3, 1, 2, 0));
  *ga = _mm256_permute4x64_epi64(sga, _MM_SHUFFLE(3, 1, 2, 0));
}

void BlocksAvx2(const uint8_t* row0, const uint8_t* row1, uint8_t* cb, uint8_t* cr, int width,
                const YuvCoefficients& c) {
  const __m256i cbBR = Pair(c.cb[0], c.cb[2]);
  const __m256i cbG0 = Pair(c.cb[1], 0);
  const __m256i crBR = Pair(c.cr[0], c.cr[2]);
  const __m256i crG0 = Pair(c.cr[1], 0);
  const __m256i vb = _mm256_set1_epi32(c.cPairBias);
  int i = 0;
  for (; 2 * i + 32 <= width; i += 16) {
    const ptrdiff_t o = 8 * static_cast<ptrdiff_t>(i);
    __m256i br0, ga0, br1, ga1;
    BlockSums(row0 + o, row1 + o, &br0, &ga0);
    BlockSums(row0 + o + 64, row1 + o + 64, &br1, &ga1);
    auto dot = [&](__m256i br, __m256i ga, __m256i cBR, __m256i cG0) {
      return _mm256_srai_epi32(
          _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(br, cBR), _mm256_madd_epi16(ga, cG0)), vb), 17);
    };
    const __m256i u = _mm256_packs_epi32(dot(br0, ga0, cbBR, cbG0), dot(br1, ga1, cbBR, cbG0));
    const __m256i v = _mm256_packs_epi32(dot(br0, ga0, crBR, crG0), dot(br1, ga1, crBR, crG0));
    const __m256i uv = InOrder(_mm256_packus_epi16(u, v));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cb + i), _mm256_castsi256_si128(uv));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cr + i), _mm256_extracti128_si256(uv, 1));
  }
  if (2 * i < width) {
    const ptrdiff_t o = 8 * static_cast<ptrdiff_t>(i);
    PlainYuvRowKernels().blocks(row0 + o, row1 + o, cb + i, cr + i, width - 2 * i, c);
  }
}

constexpr YuvRowKernels kAvx2 = {PixelsAvx2, BlocksAvx2};

}  // namespace

const YuvRowKernels& Avx2Kernels() { return kAvx2; }

}  // namespace tarvo::cli::yuv_kernels
