// Per-pixel kernels of the colour conversion: the plain code, the AVX2 code
// and the 512-bit code, which give identical results, and their tables.
// Declarations only (and one static helper): the units built for wider
// instruction sets include this header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvo::inout_kernels {

// The tables the input conversion reads, all indexed by an 8-bit code value.
struct InputTables {
  const int32_t* lumR;     // 77 * red[r]
  const int32_t* lumG;     // 150 * green[g]
  const int32_t* lumB;     // 29 * blue[b] + 128
  const int32_t* chromaR;  // chroma[red[r]]
  const int32_t* chromaB;  // chroma[blue[b]]
  const int32_t* chroma;   // chroma by level
  // chromaR[r] * 65536 + lumR[r] and chromaB[b] * 65536 + lumB[b]: one
  // look-up yields both (the luminance parts stay below 32768).
  const int32_t* packedR;
  const int32_t* packedB;
  // When true, chroma[i] equals ChromaByFormula(satFactor, i) for every i.
  bool chromaByFormula;
  int32_t satFactor;
  // The level tables (0..Range) the weighted tables above were built from.
  const uint8_t* red;
  const uint8_t* green;
  const uint8_t* blue;
};

// rnd(satFactor * i / 256), halves to even, in integers.
static inline int32_t ChromaByFormula(int32_t satFactor, int32_t i) {
  const int32_t p = satFactor * i;
  int32_t q = (p + 128) >> 8;
  if ((p & 255) == 128) q &= ~1;
  return q;
}

// Frames and planes of one conversion. mode is the effective ProcMode; w and
// h the frame size; stride the row stride of the frames; the planes are
// gap-free with widths w and w >> hs. The input reads the source frame only.
struct InputJob {
  const uint8_t* src;
  int32_t stride, w, h, mode;
  uint8_t* y;
  int16_t* u;
  int16_t* v;
};

// The output writes bytes 0..2 of every destination pixel; byte 3 is taken
// from the pixel at the same place of `fourth` (a frame with the same stride)
// or, when fourth is null, left alone.
struct OutputJob {
  const uint8_t* y;
  const int16_t* u;
  const int16_t* v;
  uint8_t* dst;
  int32_t stride, w, h, mode;
  int32_t range, vmin;
  const uint8_t* fourth;
};

// One table per instruction-set level; every entry converts every column.
struct Kernels {
  void (*input)(const InputTables& t, const InputJob& job);
  void (*output)(const OutputJob& job);
};
const Kernels& ScalarKernels();
const Kernels& Avx2Kernels();
// Only where Avx512Supported().
const Kernels& Avx512Kernels();

// Convert the columns x0 .. w - 1 of every row (x0 a multiple of the chroma
// block width).
void InputPlain(const InputTables& t, const InputJob& job, int32_t x0);
void OutputPlain(const OutputJob& job, int32_t x0);

// Convert every column: the bulk with AVX2, the remaining columns through the
// plain code. Only called on CPUs that run AVX2.
void InputAvx2(const InputTables& t, const InputJob& job);
// The columns x0 .. w - 1 only (x0 a multiple of 16).
void InputAvx2Columns(const InputTables& t, const InputJob& job, int32_t x0);
void OutputAvx2Columns(const OutputJob& job, int32_t x0);
void OutputAvx2(const OutputJob& job);

// The conversions with 512-bit registers, same contracts as the AVX2 ones.
// Call only when Avx512Supported().
void InputAvx512(const InputTables& t, const InputJob& job);
void OutputAvx512(const OutputJob& job);
// The CPU runs the 512-bit kernels.
bool Avx512Supported();
// The CPU runs them and WideVectorsAllowed() (AllowAvx512(false), as tests
// and benchmarks use it, switches them off to reach the AVX2 code).
bool Avx512Usable();
void AllowAvx512(bool allowed);

}  // namespace tarvo::inout_kernels
