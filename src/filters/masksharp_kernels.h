// Internal: the per-range kernels behind the mask and sharpening operations,
// one table per instruction set, and the per-sample arithmetic they share.
//
// The kernels use a rearranged but bit-identical form of the operations:
//  - Mask weight: d = m - (offset + 128) saturates the weight once |d| >= 128
//    and every shift of 8 or more saturates too, so d is clamped to
//    -128..127 and the shift to 0..8; everything then fits 16-bit lanes.
//  - Sharpening: the level factor branch "k = k0 when s >= 256, else
//    (k0 * s) >> 8" equals (k0 * x) >> 8 with x = min(s, 256), and the mask
//    variant uses x = w. The edge views likewise become ((p - b) * x) >> 6,
//    because ((p - b) * 4 * x) >> 8 == ((p - b) * x) >> 6 and x = 256 gives
//    (p - b) * 4.
//  - Depth 1 sharpening: clamp(f, 0, 65280) >> 8 == clamp(f >> 8, 0, 255).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvo::masksharp {

// Weight parameters derived once per call from (amount, offset).
struct WeightParams {
  int32_t centre = 128;  // offset + 128, limited to -200..500 (same weights)
  int32_t shift = 0;     // amount - 1, limited to 0..8 (same weights)
};

// The helpers below have internal linkage on purpose: the AVX2 unit includes
// this header too, and a shared inline copy compiled with AVX2 must never be
// picked for the plain path.
namespace {

inline WeightParams MakeWeightParams(int32_t amount, int32_t offset) {
  WeightParams p;
  int64_t c = static_cast<int64_t>(offset) + 128;
  p.centre = static_cast<int32_t>(c < -200 ? -200 : c > 500 ? 500 : c);
  const int32_t a = amount < 1 ? 1 : amount > 9 ? 9 : amount;
  p.shift = a - 1;
  return p;
}

inline int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; }

// m in 0..255.
inline int32_t FastWeight(int32_t m, const WeightParams& wp) {
  const int32_t d = Clamp(m - wp.centre, -128, 127);
  return Clamp(d * (1 << wp.shift) + 128, 0, 255);
}

// Working gain: the negated gain, limited to -2048..256.
inline int32_t GainLimit(int32_t gain) {
  if (gain > 2048) return -2048;
  if (gain < -256) return 256;
  return -gain;
}

// Level factor g (1..256) from the level value.
inline int32_t LevelFactor(int32_t levelValue) {
  if (levelValue < 0) return 256;
  if (levelValue > 255) return 1;
  return 256 - levelValue;
}

// The level-dependent multiplier x = min(s, 256), s = b + g or |b| + g.
inline int32_t LevelX8(int32_t b, int32_t g) { return b + g < 256 ? b + g : 256; }
inline int32_t LevelX16(int32_t b, int32_t g) {
  const int32_t s = (b < 0 ? -b : b) + g;
  return s < 256 ? s : 256;
}

// One sharpened sample from plane p, blur b and gain k (-2048..256). The
// products stay below 2^31: |b * k| <= 2^26, |p * (256 - k)| <= 32768 * 2304.
inline uint8_t Sharpen8(int32_t p, int32_t b, int32_t k) {
  return static_cast<uint8_t>(Clamp((b * k + p * (256 - k)) >> 8, 0, 255));
}
inline int16_t Sharpen16(int32_t p, int32_t b, int32_t k) {
  return static_cast<int16_t>(Clamp((b * k + p * (256 - k)) >> 8, -32767, 32767));
}
inline uint8_t Edge8(int32_t p, int32_t b, int32_t x) {
  return static_cast<uint8_t>(Clamp((((p - b) * x) >> 6) + 128, 0, 255));
}
inline int16_t Edge16(int32_t p, int32_t b, int32_t x) {
  return static_cast<int16_t>(Clamp(((p - b) * x) >> 6, -32767, 32767));
}
// Blend of unfiltered t and filtered f by weight w; the weights add to 256.
inline int32_t Blend(int32_t t, int32_t f, int32_t w) { return (t * (w + 1) + f * (255 - w) + 128) >> 8; }

}  // namespace

// Kernels over linear index ranges [begin, end). Neighbourhood kernels read
// at most W + 1 (2W + 2 for the 5x5 ones) samples either side of the range;
// callers keep the range inside the filtered range so those reads stay in
// the buffer.
struct Kernels {
  void (*edge8)(const uint8_t* src, uint8_t* edge, ptrdiff_t w, ptrdiff_t begin, ptrdiff_t end);
  void (*edge16)(const int16_t* src, uint8_t* edge, ptrdiff_t w, ptrdiff_t begin, ptrdiff_t end);
  void (*box3)(const uint8_t* edge, uint8_t* mask, ptrdiff_t w, ptrdiff_t begin, ptrdiff_t end);
  void (*box5)(const uint8_t* edge, uint8_t* mask, ptrdiff_t w, ptrdiff_t begin, ptrdiff_t end);
  // Radius 2 (index 0) and 3 (index 1) mask of rows y0 .. y1 - 1 of a Depth 1
  // plane in one sweep, with oneSweepScratch(W) 16-bit entries of scratch;
  // only those mask rows are written (the sweep reads the source a few rows
  // around them). Null where an instruction set has none (the caller then
  // goes through the edge plane).
  void (*oneSweep8[2])(const uint8_t* src, uint8_t* mask, ptrdiff_t w, ptrdiff_t h, ptrdiff_t y0, ptrdiff_t y1,
                       int16_t* scratch);
  ptrdiff_t (*oneSweepScratch)(ptrdiff_t w);
  // Index 0..2 = radius 1..3.
  void (*blur8[3])(const uint8_t* src, uint8_t* dst, ptrdiff_t w, ptrdiff_t begin, ptrdiff_t end);
  void (*blur16[3])(const int16_t* src, int16_t* dst, ptrdiff_t w, ptrdiff_t begin, ptrdiff_t end);
  void (*applyMask8)(const uint8_t* filtered, uint8_t* target, const uint8_t* mask, ptrdiff_t n, WeightParams wp);
  void (*applyMask16)(const int16_t* filtered, int16_t* target, const uint8_t* mask, ptrdiff_t n, WeightParams wp);
  void (*showMask8)(const uint8_t* mask, uint8_t* out, ptrdiff_t n, WeightParams wp);
  void (*showMask16)(const uint8_t* mask, int16_t* out, ptrdiff_t n, WeightParams wp);
  void (*plainSharpen8)(uint8_t* plane, const uint8_t* blur, ptrdiff_t n, int32_t k0, int32_t g);
  void (*plainSharpen16)(int16_t* plane, const int16_t* blur, ptrdiff_t n, int32_t k0, int32_t g);
  void (*maskSharpen8)(uint8_t* plane, const uint8_t* blur, const uint8_t* mask, ptrdiff_t n, int32_t k0,
                       WeightParams wp);
  void (*maskSharpen16)(int16_t* plane, const int16_t* blur, const uint8_t* mask, ptrdiff_t n, int32_t k0,
                        WeightParams wp);
  void (*plainEdges8)(uint8_t* plane, const uint8_t* blur, ptrdiff_t n, int32_t g);
  void (*plainEdges16)(int16_t* plane, const int16_t* blur, ptrdiff_t n, int32_t g);
  void (*maskEdges8)(uint8_t* plane, const uint8_t* blur, const uint8_t* mask, ptrdiff_t n, WeightParams wp);
  void (*maskEdges16)(int16_t* plane, const int16_t* blur, const uint8_t* mask, ptrdiff_t n, WeightParams wp);
};

const Kernels& ScalarKernels();
const Kernels& Sse2Kernels();
const Kernels& Avx2Kernels();
// 512-bit kernels: only where the processor has AVX-512 F, BW and VL.
const Kernels& Avx512Kernels();

}  // namespace tarvo::masksharp
