// The BGRA to YUV row kernels for SSE2 (part of every x86-64 processor).
// Bit for bit the plain kernels: the same products and sums in 32 bits.
#include <emmintrin.h>

#include "yuv_write.h"

namespace tarvo::cli::yuv_kernels {
namespace {

// Two 16-bit coefficients side by side in every 32-bit lane.
__m128i Pair(int16_t lo, int16_t hi) {
  return _mm_set1_epi32(static_cast<int>(static_cast<uint16_t>(lo) | (static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16)));
}

// cB*B + cG*G + cR*R + bias for four pixels: blue and red sit in the even
// bytes of a pixel's 16-bit halves, green and the fourth byte in the odd
// ones, so one multiply-add takes blue and red, another green (the fourth
// byte times zero).
inline __m128i Dot4(__m128i px, __m128i cBR, __m128i cG0, __m128i bias) {
  const __m128i mask = _mm_set1_epi32(0x00FF00FF);
  const __m128i br = _mm_and_si128(px, mask);
  const __m128i ga = _mm_srli_epi16(px, 8);
  return _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(br, cBR), _mm_madd_epi16(ga, cG0)), bias);
}

void PixelsSse2(const uint8_t* bgra, uint8_t* out, int width, const int16_t* c, int32_t bias) {
  const __m128i cBR = Pair(c[0], c[2]);
  const __m128i cG0 = Pair(c[1], 0);
  const __m128i vb = _mm_set1_epi32(bias);
  int x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i* s = reinterpret_cast<const __m128i*>(bgra + 4 * static_cast<ptrdiff_t>(x));
    const __m128i d0 = _mm_srai_epi32(Dot4(_mm_loadu_si128(s), cBR, cG0, vb), 15);
    const __m128i d1 = _mm_srai_epi32(Dot4(_mm_loadu_si128(s + 1), cBR, cG0, vb), 15);
    const __m128i d2 = _mm_srai_epi32(Dot4(_mm_loadu_si128(s + 2), cBR, cG0, vb), 15);
    const __m128i d3 = _mm_srai_epi32(Dot4(_mm_loadu_si128(s + 3), cBR, cG0, vb), 15);
    const __m128i w = _mm_packus_epi16(_mm_packs_epi32(d0, d1), _mm_packs_epi32(d2, d3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), w);
  }
  if (x < width) PlainYuvRowKernels().pixels(bgra + 4 * static_cast<ptrdiff_t>(x), out + x, width - x, c, bias);
}

// The sums over the two rows and the two pixels of each block, for the
// blocks of eight pixels (four of each row): 32-bit lanes holding the sums
// of blue and red (16 bits each), and of green and the fourth byte.
inline void BlockSums(const uint8_t* row0, const uint8_t* row1, __m128i* br, __m128i* ga) {
  const __m128i mask = _mm_set1_epi32(0x00FF00FF);
  const __m128i* a = reinterpret_cast<const __m128i*>(row0);
  const __m128i* b = reinterpret_cast<const __m128i*>(row1);
  const __m128i a0 = _mm_loadu_si128(a), a1 = _mm_loadu_si128(a + 1);
  const __m128i b0 = _mm_loadu_si128(b), b1 = _mm_loadu_si128(b + 1);
  // Vertical sums (at most 510 in each 16 bits).
  const __m128i br0 = _mm_add_epi16(_mm_and_si128(a0, mask), _mm_and_si128(b0, mask));
  const __m128i br1 = _mm_add_epi16(_mm_and_si128(a1, mask), _mm_and_si128(b1, mask));
  const __m128i ga0 = _mm_add_epi16(_mm_srli_epi16(a0, 8), _mm_srli_epi16(b0, 8));
  const __m128i ga1 = _mm_add_epi16(_mm_srli_epi16(a1, 8), _mm_srli_epi16(b1, 8));
  // Horizontal sums of neighbouring pixels land in the even 32-bit lanes;
  // the odd lanes are dropped when the even ones are gathered.
  const __m128i hbr0 = _mm_add_epi16(br0, _mm_srli_epi64(br0, 32));
  const __m128i hbr1 = _mm_add_epi16(br1, _mm_srli_epi64(br1, 32));
  const __m128i hga0 = _mm_add_epi16(ga0, _mm_srli_epi64(ga0, 32));
  const __m128i hga1 = _mm_add_epi16(ga1, _mm_srli_epi64(ga1, 32));
  *br = _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(hbr0), _mm_castsi128_ps(hbr1), _MM_SHUFFLE(2, 0, 2, 0)));
  *ga = _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(hga0), _mm_castsi128_ps(hga1), _MM_SHUFFLE(2, 0, 2, 0)));
}

void BlocksSse2(const uint8_t* row0, const uint8_t* row1, uint8_t* cb, uint8_t* cr, int width,
                const YuvCoefficients& c) {
  const __m128i cbBR = Pair(c.cb[0], c.cb[2]);
  const __m128i cbG0 = Pair(c.cb[1], 0);
  const __m128i crBR = Pair(c.cr[0], c.cr[2]);
  const __m128i crG0 = Pair(c.cr[1], 0);
  const __m128i vb = _mm_set1_epi32(c.cPairBias);
  int i = 0;  // the first sample not yet written; pixel 2i starts its block
  for (; 2 * i + 16 <= width; i += 8) {
    const ptrdiff_t o = 8 * static_cast<ptrdiff_t>(i);
    __m128i br0, ga0, br1, ga1;
    BlockSums(row0 + o, row1 + o, &br0, &ga0);
    BlockSums(row0 + o + 32, row1 + o + 32, &br1, &ga1);
    auto dot = [&](__m128i br, __m128i ga, __m128i cBR, __m128i cG0) {
      return _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(br, cBR), _mm_madd_epi16(ga, cG0)), vb), 17);
    };
    const __m128i u = _mm_packs_epi32(dot(br0, ga0, cbBR, cbG0), dot(br1, ga1, cbBR, cbG0));
    const __m128i v = _mm_packs_epi32(dot(br0, ga0, crBR, crG0), dot(br1, ga1, crBR, crG0));
    const __m128i uv = _mm_packus_epi16(u, v);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(cb + i), uv);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(cr + i), _mm_srli_si128(uv, 8));
  }
  if (2 * i < width) {
    const ptrdiff_t o = 8 * static_cast<ptrdiff_t>(i);
    PlainYuvRowKernels().blocks(row0 + o, row1 + o, cb + i, cr + i, width - 2 * i, c);
  }
}

constexpr YuvRowKernels kSse2 = {PixelsSse2, BlocksSse2};

}  // namespace

const YuvRowKernels& Sse2Kernels() { return kSse2; }

}  // namespace tarvo::cli::yuv_kernels
