// The 512-bit kernel table of the masks and sharpening (this unit alone is
// built with AVX-512 enabled; it is only reached where the CPU has AVX-512 F,
// BW and VL and 512-bit kernels are allowed).
#include <cstddef>
#include <cstdint>

#include "filters/masksharp_kernels.h"

#if defined(__AVX512F__) && defined(__AVX512BW__)
// GCC 12 reports the deliberately undefined pass-through operand inside its
// own 512-bit shift intrinsics as (maybe) uninitialised; nothing of ours is.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>
#endif

namespace tarvo::masksharp {
namespace {

#if defined(__AVX512F__) && defined(__AVX512BW__)
#include "filters/masksharp_scalar.inl"

struct IsaAvx512 {
  using V = __m512i;
  static constexpr int kBytes = 64;
  static V Load(const void* p) { return _mm512_loadu_si512(p); }
  static void Store(void* p, V v) { _mm512_storeu_si512(p, v); }
  static V Zero() { return _mm512_setzero_si512(); }
  static V Set16(int v) { return _mm512_set1_epi16(static_cast<short>(v)); }
  static V Set32(int32_t v) { return _mm512_set1_epi32(v); }
  static V Add16(V a, V b) { return _mm512_add_epi16(a, b); }
  static V Sub16(V a, V b) { return _mm512_sub_epi16(a, b); }
  static V Add32(V a, V b) { return _mm512_add_epi32(a, b); }
  static V Sub32(V a, V b) { return _mm512_sub_epi32(a, b); }
  static V Mullo16(V a, V b) { return _mm512_mullo_epi16(a, b); }
  static V Mulhi16(V a, V b) { return _mm512_mulhi_epi16(a, b); }
  static V MulhiU16(V a, V b) { return _mm512_mulhi_epu16(a, b); }
  static V Madd16(V a, V b) { return _mm512_madd_epi16(a, b); }
  static V Min16(V a, V b) { return _mm512_min_epi16(a, b); }
  // |a|, with -32768 kept as -32768.
  static V Abs16(V a) { return _mm512_abs_epi16(a); }
  static V Max16(V a, V b) { return _mm512_max_epi16(a, b); }
  static V CmpGt16(V a, V b) { return _mm512_movm_epi16(_mm512_cmpgt_epi16_mask(a, b)); }
  static V And(V a, V b) { return _mm512_and_si512(a, b); }
  static V AndNot(V a, V b) { return _mm512_ternarylogic_epi32(a, b, b, 0x0C); }  // ~a & b
  static V Or(V a, V b) { return _mm512_or_si512(a, b); }
  static V Xor(V a, V b) { return _mm512_xor_si512(a, b); }
  template <int N>
  static V Slli16(V a) {
    return _mm512_slli_epi16(a, N);
  }
  template <int N>
  static V Srli16(V a) {
    return _mm512_srli_epi16(a, N);
  }
  template <int N>
  static V Srai32(V a) {
    return _mm512_srai_epi32(a, N);
  }
  static V Sll16(V a, __m128i count) { return _mm512_sll_epi16(a, count); }
  static V UnpackLo8(V a, V b) { return _mm512_unpacklo_epi8(a, b); }
  static V UnpackHi8(V a, V b) { return _mm512_unpackhi_epi8(a, b); }
  static V UnpackLo16(V a, V b) { return _mm512_unpacklo_epi16(a, b); }
  static V UnpackHi16(V a, V b) { return _mm512_unpackhi_epi16(a, b); }
  static V PackS32(V a, V b) { return _mm512_packs_epi32(a, b); }
  static V PackUs16(V a, V b) { return _mm512_packus_epi16(a, b); }
  static V LoadWidenU8(const uint8_t* p) {
    return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
  }
  // The in-lane pack interleaves the 64-bit quarters of the two registers
  // lane by lane; restore their order.
  static V Unlace(V v) { return _mm512_permutexvar_epi64(_mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7), v); }
  static void StorePackedUs16(uint8_t* p, V a, V b) { Store(p, Unlace(_mm512_packus_epi16(a, b))); }
  static V LoadS16ToS32(const int16_t* p) {
    return _mm512_cvtepi16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
  }
  static void StorePackedS32(int16_t* p, V a, V b) { Store(p, Unlace(_mm512_packs_epi32(a, b))); }
};

#include "filters/masksharp_simd.inl"
#endif

}  // namespace

const Kernels& Avx512Kernels() {
#if defined(__AVX512F__) && defined(__AVX512BW__)
  static const Kernels k = Simd<IsaAvx512>::Table();
  return k;
#else
  return Avx2Kernels();
#endif
}

}  // namespace tarvo::masksharp
