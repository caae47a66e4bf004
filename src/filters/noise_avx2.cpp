// AVX2 instantiation of the despeckle and median kernels (built with -mavx2,
// called only when the processor has AVX2).
#include "filters/noise_kernels.h"

#if defined(__AVX2__)
#include <immintrin.h>

#include "filters/noise_simd.h"

namespace tarvo::noise {
namespace {

struct Avx2U8 {
  using T = uint8_t;
  using V = __m256i;
  static constexpr int kLanes = 32;
  static V Load(const T* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
  static void Store(T* p, V v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
  static V Set1(int v) { return _mm256_set1_epi8(static_cast<char>(v)); }
  static V Min(V a, V b) { return _mm256_min_epu8(a, b); }
  static V Max(V a, V b) { return _mm256_max_epu8(a, b); }
  static V AddS(V a, V b) { return _mm256_adds_epu8(a, b); }
  static V SubS(V a, V b) { return _mm256_subs_epu8(a, b); }
  static V CmpEq(V a, V b) { return _mm256_cmpeq_epi8(a, b); }
  static V And(V a, V b) { return _mm256_and_si256(a, b); }
  static V AndNot(V a, V b) { return _mm256_andnot_si256(a, b); }
  static V Or(V a, V b) { return _mm256_or_si256(a, b); }

  // A step k (at most 8) moves p when the saturated difference exceeds k.
  // min(difference, k + 1) indexes a table that holds k at k + 1 and 0
  // elsewhere, which gives the amount to move in one shuffle.
  struct Step {
    V limit;
    V table;
  };
  static Step MakeStep(int step) {
    alignas(16) int8_t t[16] = {};
    t[step + 1] = static_cast<int8_t>(step);
    const __m128i lane = _mm_load_si128(reinterpret_cast<const __m128i*>(t));
    return Step{Set1(step + 1), _mm256_broadcastsi128_si256(lane)};
  }
  static V Raise(V p, V n, const Step& k) {
    return _mm256_add_epi8(p, _mm256_shuffle_epi8(k.table, Min(SubS(n, p), k.limit)));
  }
  static V Lower(V p, V n, const Step& k) {
    return _mm256_sub_epi8(p, _mm256_shuffle_epi8(k.table, Min(SubS(p, n), k.limit)));
  }
  static V FloorAvg(V a, V b) {
    return _mm256_sub_epi8(_mm256_avg_epu8(a, b), And(_mm256_xor_si256(a, b), _mm256_set1_epi8(1)));
  }
};

struct Avx2S16 {
  using T = int16_t;
  using V = __m256i;
  static constexpr int kLanes = 16;
  static V Load(const T* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
  static void Store(T* p, V v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
  static V Set1(int v) { return _mm256_set1_epi16(static_cast<short>(v)); }
  static V Min(V a, V b) { return _mm256_min_epi16(a, b); }
  static V Max(V a, V b) { return _mm256_max_epi16(a, b); }
  static V AddS(V a, V b) { return _mm256_adds_epi16(a, b); }
  static V SubS(V a, V b) { return _mm256_subs_epi16(a, b); }
  static V CmpEq(V a, V b) { return _mm256_cmpeq_epi16(a, b); }
  static V And(V a, V b) { return _mm256_and_si256(a, b); }
  static V AndNot(V a, V b) { return _mm256_andnot_si256(a, b); }
  static V Or(V a, V b) { return _mm256_or_si256(a, b); }
  static V MakeStep(int step) { return Set1(step); }
  // Saturation keeps p + k and p - k exact wherever the comparison can hold.
  static V Raise(V p, V n, V k) { return _mm256_add_epi16(p, And(_mm256_cmpgt_epi16(n, AddS(p, k)), k)); }
  static V Lower(V p, V n, V k) { return _mm256_sub_epi16(p, And(_mm256_cmpgt_epi16(SubS(p, k), n), k)); }
  static V FloorAvg(V a, V b) {
    return _mm256_add_epi16(And(a, b), _mm256_srai_epi16(_mm256_xor_si256(a, b), 1));
  }
};

}  // namespace

const Kernels& Avx2Kernels() { return VectorKernels<Avx2U8, Avx2S16>::kTable; }

}  // namespace tarvo::noise

#else

namespace tarvo::noise {
const Kernels& Avx2Kernels() { return Sse2Kernels(); }
}  // namespace tarvo::noise

#endif
