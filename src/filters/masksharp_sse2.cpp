// The SSE2 kernel table (SSE2 is part of the x86-64 baseline).
#include "filters/masksharp_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

namespace tarvo::masksharp {
namespace {

#include "filters/masksharp_scalar.inl"

struct IsaSse2 {
  using V = __m128i;
  static constexpr int kBytes = 16;
  static V Load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
  static void Store(void* p, V v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
  static V Zero() { return _mm_setzero_si128(); }
  static V Set16(int v) { return _mm_set1_epi16(static_cast<short>(v)); }
  static V Set32(int32_t v) { return _mm_set1_epi32(v); }
  static V Add16(V a, V b) { return _mm_add_epi16(a, b); }
  static V Sub16(V a, V b) { return _mm_sub_epi16(a, b); }
  static V Add32(V a, V b) { return _mm_add_epi32(a, b); }
  static V Sub32(V a, V b) { return _mm_sub_epi32(a, b); }
  static V Mullo16(V a, V b) { return _mm_mullo_epi16(a, b); }
  static V Mulhi16(V a, V b) { return _mm_mulhi_epi16(a, b); }
  static V MulhiU16(V a, V b) { return _mm_mulhi_epu16(a, b); }
  static V Madd16(V a, V b) { return _mm_madd_epi16(a, b); }
  static V Min16(V a, V b) { return _mm_min_epi16(a, b); }
  // |a|, with -32768 kept as -32768.
  static V Abs16(V a) { return _mm_max_epi16(a, _mm_sub_epi16(_mm_setzero_si128(), a)); }
  static V Max16(V a, V b) { return _mm_max_epi16(a, b); }
  static V CmpGt16(V a, V b) { return _mm_cmpgt_epi16(a, b); }
  static V And(V a, V b) { return _mm_and_si128(a, b); }
  static V AndNot(V a, V b) { return _mm_andnot_si128(a, b); }
  static V Or(V a, V b) { return _mm_or_si128(a, b); }
  static V Xor(V a, V b) { return _mm_xor_si128(a, b); }
  template <int N>
  static V Slli16(V a) {
    return _mm_slli_epi16(a, N);
  }
  template <int N>
  static V Srli16(V a) {
    return _mm_srli_epi16(a, N);
  }
  template <int N>
  static V Srai32(V a) {
    return _mm_srai_epi32(a, N);
  }
  static V Sll16(V a, __m128i count) { return _mm_sll_epi16(a, count); }
  static V UnpackLo8(V a, V b) { return _mm_unpacklo_epi8(a, b); }
  static V UnpackHi8(V a, V b) { return _mm_unpackhi_epi8(a, b); }
  static V UnpackLo16(V a, V b) { return _mm_unpacklo_epi16(a, b); }
  static V UnpackHi16(V a, V b) { return _mm_unpackhi_epi16(a, b); }
  static V PackS32(V a, V b) { return _mm_packs_epi32(a, b); }
  static V PackUs16(V a, V b) { return _mm_packus_epi16(a, b); }
  // kBytes / 2 bytes widened to 16-bit lanes in order.
  static V LoadWidenU8(const uint8_t* p) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
  }
  // Two registers of 16-bit lanes, in order, saturated to bytes.
  static void StorePackedUs16(uint8_t* p, V a, V b) { Store(p, _mm_packus_epi16(a, b)); }
  // kBytes / 4 signed 16-bit samples widened to 32-bit lanes in order.
  static V LoadS16ToS32(const int16_t* p) {
    const V x = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    return _mm_srai_epi32(_mm_unpacklo_epi16(x, x), 16);
  }
  // Two registers of 32-bit lanes, in order, saturated to 16-bit samples.
  static void StorePackedS32(int16_t* p, V a, V b) { Store(p, _mm_packs_epi32(a, b)); }
};

#include "filters/masksharp_simd.inl"

}  // namespace

const Kernels& Sse2Kernels() {
  static const Kernels k = Simd<IsaSse2>::Table();
  return k;
}

}  // namespace tarvo::masksharp

#else

namespace tarvo::masksharp {
const Kernels& Sse2Kernels() { return ScalarKernels(); }
}  // namespace tarvo::masksharp

#endif
