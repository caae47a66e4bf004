// SSE2 instantiation of the despeckle and median kernels (baseline on x86-64).
#include "filters/noise_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include "filters/noise_simd.h"

namespace tarvo::noise {
namespace {

struct Sse2U8 {
  using T = uint8_t;
  using V = __m128i;
  static constexpr int kLanes = 16;
  static V Load(const T* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  static void Store(T* p, V v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
  static V Set1(int v) { return _mm_set1_epi8(static_cast<char>(v)); }
  static V Min(V a, V b) { return _mm_min_epu8(a, b); }
  static V Max(V a, V b) { return _mm_max_epu8(a, b); }
  static V AddS(V a, V b) { return _mm_adds_epu8(a, b); }
  static V SubS(V a, V b) { return _mm_subs_epu8(a, b); }
  static V CmpEq(V a, V b) { return _mm_cmpeq_epi8(a, b); }
  static V And(V a, V b) { return _mm_and_si128(a, b); }
  static V AndNot(V a, V b) { return _mm_andnot_si128(a, b); }
  static V Or(V a, V b) { return _mm_or_si128(a, b); }
  static V MakeStep(int step) { return Set1(step); }
  // p + k < n, with p + k saturated (a saturated sum is never below n).
  static V Raise(V p, V n, V k) {
    const V a = AddS(p, k);
    const V keep = CmpEq(Max(a, n), a);
    return _mm_add_epi8(p, AndNot(keep, k));
  }
  // n < p - k, with p - k saturated at 0 (never above n then).
  static V Lower(V p, V n, V k) {
    const V a = SubS(p, k);
    const V keep = CmpEq(Min(a, n), a);
    return _mm_sub_epi8(p, AndNot(keep, k));
  }
  static V FloorAvg(V a, V b) {
    return _mm_sub_epi8(_mm_avg_epu8(a, b), And(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
  }
};

struct Sse2S16 {
  using T = int16_t;
  using V = __m128i;
  static constexpr int kLanes = 8;
  static V Load(const T* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  static void Store(T* p, V v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
  static V Set1(int v) { return _mm_set1_epi16(static_cast<short>(v)); }
  static V Min(V a, V b) { return _mm_min_epi16(a, b); }
  static V Max(V a, V b) { return _mm_max_epi16(a, b); }
  static V AddS(V a, V b) { return _mm_adds_epi16(a, b); }
  static V SubS(V a, V b) { return _mm_subs_epi16(a, b); }
  static V CmpEq(V a, V b) { return _mm_cmpeq_epi16(a, b); }
  static V And(V a, V b) { return _mm_and_si128(a, b); }
  static V AndNot(V a, V b) { return _mm_andnot_si128(a, b); }
  static V Or(V a, V b) { return _mm_or_si128(a, b); }
  static V MakeStep(int step) { return Set1(step); }
  static V Raise(V p, V n, V k) { return _mm_add_epi16(p, And(_mm_cmpgt_epi16(n, AddS(p, k)), k)); }
  static V Lower(V p, V n, V k) { return _mm_sub_epi16(p, And(_mm_cmpgt_epi16(SubS(p, k), n), k)); }
  static V FloorAvg(V a, V b) { return _mm_add_epi16(And(a, b), _mm_srai_epi16(_mm_xor_si128(a, b), 1)); }
};

}  // namespace

const Kernels& Sse2Kernels() { return VectorKernels<Sse2U8, Sse2S16>::kTable; }

}  // namespace tarvo::noise

#else

namespace tarvo::noise {
const Kernels& Sse2Kernels() { return ScalarKernels(); }
}  // namespace tarvo::noise

#endif
