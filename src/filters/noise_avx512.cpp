// 512-bit instantiation of the despeckle and median kernels (built with
// AVX-512 F, BW and VL; called only where the processor has them and 512-bit
// kernels are allowed). Compares yield mask registers, so a despeckle step is
// a saturating add, a compare and a masked move.
#include "filters/noise_kernels.h"

#if defined(__AVX512F__) && defined(__AVX512BW__)
#include <immintrin.h>

#include "filters/noise_simd.h"

namespace tarvo::noise {
namespace {

struct Avx512U8 {
  using T = uint8_t;
  using V = __m512i;
  static constexpr int kLanes = 64;
  static V Load(const T* p) { return _mm512_loadu_si512(p); }
  static void Store(T* p, V v) { _mm512_storeu_si512(p, v); }
  static V Set1(int v) { return _mm512_set1_epi8(static_cast<char>(v)); }
  static V Min(V a, V b) { return _mm512_min_epu8(a, b); }
  static V Max(V a, V b) { return _mm512_max_epu8(a, b); }
  static V AddS(V a, V b) { return _mm512_adds_epu8(a, b); }
  static V SubS(V a, V b) { return _mm512_subs_epu8(a, b); }
  static V CmpEq(V a, V b) { return _mm512_movm_epi8(_mm512_cmpeq_epi8_mask(a, b)); }
  static V And(V a, V b) { return _mm512_and_si512(a, b); }
  static V AndNot(V a, V b) { return _mm512_ternarylogic_epi32(a, b, b, 0x0C); }  // ~a & b
  static V Or(V a, V b) { return _mm512_or_si512(a, b); }
  static V MakeStep(int step) { return Set1(step); }
  // p + k < n with p + k saturated (a saturated sum is never below n).
  static V Raise(V p, V n, V k) {
    const V a = AddS(p, k);
    return _mm512_mask_mov_epi8(p, _mm512_cmpgt_epu8_mask(n, a), a);
  }
  // n < p - k with p - k saturated at 0 (never above n then).
  static V Lower(V p, V n, V k) {
    const V a = SubS(p, k);
    return _mm512_mask_mov_epi8(p, _mm512_cmplt_epu8_mask(n, a), a);
  }
  static V FloorAvg(V a, V b) {
    return _mm512_sub_epi8(_mm512_avg_epu8(a, b), And(_mm512_xor_si512(a, b), _mm512_set1_epi8(1)));
  }
};

struct Avx512S16 {
  using T = int16_t;
  using V = __m512i;
  static constexpr int kLanes = 32;
  static V Load(const T* p) { return _mm512_loadu_si512(p); }
  static void Store(T* p, V v) { _mm512_storeu_si512(p, v); }
  static V Set1(int v) { return _mm512_set1_epi16(static_cast<short>(v)); }
  static V Min(V a, V b) { return _mm512_min_epi16(a, b); }
  static V Max(V a, V b) { return _mm512_max_epi16(a, b); }
  static V AddS(V a, V b) { return _mm512_adds_epi16(a, b); }
  static V SubS(V a, V b) { return _mm512_subs_epi16(a, b); }
  static V CmpEq(V a, V b) { return _mm512_movm_epi16(_mm512_cmpeq_epi16_mask(a, b)); }
  static V And(V a, V b) { return _mm512_and_si512(a, b); }
  static V AndNot(V a, V b) { return _mm512_ternarylogic_epi32(a, b, b, 0x0C); }  // ~a & b
  static V Or(V a, V b) { return _mm512_or_si512(a, b); }
  static V MakeStep(int step) { return Set1(step); }
  // Saturation keeps p + k and p - k exact wherever the comparison can hold.
  static V Raise(V p, V n, V k) {
    const V a = AddS(p, k);
    return _mm512_mask_mov_epi16(p, _mm512_cmpgt_epi16_mask(n, a), a);
  }
  static V Lower(V p, V n, V k) {
    const V a = SubS(p, k);
    return _mm512_mask_mov_epi16(p, _mm512_cmpgt_epi16_mask(a, n), a);
  }
  static V FloorAvg(V a, V b) {
    return _mm512_add_epi16(And(a, b), _mm512_srai_epi16(_mm512_xor_si512(a, b), 1));
  }
};

}  // namespace

const Kernels& Avx512Kernels() { return VectorKernels<Avx512U8, Avx512S16>::kTable; }

}  // namespace tarvo::noise

#else

namespace tarvo::noise {
const Kernels& Avx512Kernels() { return Avx2Kernels(); }
}  // namespace tarvo::noise

#endif
