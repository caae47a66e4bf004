// The AVX2 kernel table (this unit alone is built with AVX2 enabled; it is
// only reached when the CPU reports AVX2).
#include <cstddef>
#include <cstdint>

#include "filters/masksharp_kernels.h"

#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace tarvo::masksharp {
namespace {

#if defined(__AVX2__)
#include "filters/masksharp_scalar.inl"

struct IsaAvx2 {
  using V = __m256i;
  static constexpr int kBytes = 32;
  static V Load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
  static void Store(void* p, V v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
  static V Zero() { return _mm256_setzero_si256(); }
  static V Set16(int v) { return _mm256_set1_epi16(static_cast<short>(v)); }
  static V Set32(int32_t v) { return _mm256_set1_epi32(v); }
  static V Add16(V a, V b) { return _mm256_add_epi16(a, b); }
  static V Sub16(V a, V b) { return _mm256_sub_epi16(a, b); }
  static V Add32(V a, V b) { return _mm256_add_epi32(a, b); }
  static V Sub32(V a, V b) { return _mm256_sub_epi32(a, b); }
  static V Mullo16(V a, V b) { return _mm256_mullo_epi16(a, b); }
  static V Mulhi16(V a, V b) { return _mm256_mulhi_epi16(a, b); }
  static V MulhiU16(V a, V b) { return _mm256_mulhi_epu16(a, b); }
  static V Madd16(V a, V b) { return _mm256_madd_epi16(a, b); }
  static V Min16(V a, V b) { return _mm256_min_epi16(a, b); }
  // |a|, with -32768 kept as -32768.
  static V Abs16(V a) { return _mm256_abs_epi16(a); }
  static V Max16(V a, V b) { return _mm256_max_epi16(a, b); }
  static V CmpGt16(V a, V b) { return _mm256_cmpgt_epi16(a, b); }
  static V And(V a, V b) { return _mm256_and_si256(a, b); }
  static V AndNot(V a, V b) { return _mm256_andnot_si256(a, b); }
  static V Or(V a, V b) { return _mm256_or_si256(a, b); }
  static V Xor(V a, V b) { return _mm256_xor_si256(a, b); }
  template <int N>
  static V Slli16(V a) {
    return _mm256_slli_epi16(a, N);
  }
  template <int N>
  static V Srli16(V a) {
    return _mm256_srli_epi16(a, N);
  }
  template <int N>
  static V Srai32(V a) {
    return _mm256_srai_epi32(a, N);
  }
  static V Sll16(V a, __m128i count) { return _mm256_sll_epi16(a, count); }
  static V UnpackLo8(V a, V b) { return _mm256_unpacklo_epi8(a, b); }
  static V UnpackHi8(V a, V b) { return _mm256_unpackhi_epi8(a, b); }
  static V UnpackLo16(V a, V b) { return _mm256_unpacklo_epi16(a, b); }
  static V UnpackHi16(V a, V b) { return _mm256_unpackhi_epi16(a, b); }
  static V PackS32(V a, V b) { return _mm256_packs_epi32(a, b); }
  static V PackUs16(V a, V b) { return _mm256_packus_epi16(a, b); }
  static V LoadWidenU8(const uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  }
  // The in-lane pack interleaves 64-bit quarters; restore their order.
  static void StorePackedUs16(uint8_t* p, V a, V b) {
    Store(p, _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8));
  }
  static V LoadS16ToS32(const int16_t* p) {
    return _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  }
  static void StorePackedS32(int16_t* p, V a, V b) {
    Store(p, _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8));
  }
};

#include "filters/masksharp_simd.inl"
#endif

}  // namespace

const Kernels& Avx2Kernels() {
#if defined(__AVX2__)
  static const Kernels k = Simd<IsaAvx2>::Table();
  return k;
#else
  return Sse2Kernels();
#endif
}

}  // namespace tarvo::masksharp
