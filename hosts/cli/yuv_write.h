// Conversion of BGRA pictures to planar 8-bit YUV (4:2:0, 4:2:2, 4:4:4) for
// the encoder, with the BT.601, BT.709 or BT.2020 (non-constant luminance)
// matrix in limited (16-235/240) or full range.
//
// Arithmetic: integer only. Coefficients carry 15 fraction bits (1.0 =
// 32768), each rounded to the nearest; the green coefficient of luma is
// chosen so that the three add up to the exact scale of the range (white
// gives 235 or 255, black 16 or 0), and the green coefficient of each colour
// difference so that the three add up to zero (every grey gives 128).
//   luma, and colour differences at 4:4:4:
//     out = clamp((cB*B + cG*G + cR*R + (offset << 15) + (1 << 14)) >> 15)
//   colour differences at 4:2:0 and 4:2:2, from the sums SB, SG, SR of a
//   block of four pixels:
//     out = clamp((cB*SB + cG*SG + cR*SR + (128 << 17) + (1 << 16)) >> 17)
// The block is 2x2 pixels at 4:2:0 and 2x1 pixels (the row counted twice) at
// 4:2:2. Summing the pixels first and rounding once is the average of the
// block converted at full precision (the conversion is linear, so averaging
// before or after converting is the same apart from rounding; this rounds
// once instead of twice). A picture with an odd width or height repeats its
// last column or row to complete the blocks. The colour sample thus sits in
// the centre of its block (horizontally and vertically), as the reader's
// conversion assumes when it interpolates the colour back.
//
// Every kernel level gives the same bytes: the row kernels for SSE2 and AVX2
// are checked bit for bit against the plain ones.
#pragma once

#include <cstddef>
#include <cstdint>

#include "util/cpu_features.h"

namespace tarvo::cli {

enum class YuvMatrix { Bt601, Bt709, Bt2020 };
enum class YuvLayout { Yuv420, Yuv422, Yuv444 };

// Coefficients in memory order blue, green, red.
struct YuvCoefficients {
  int16_t y[3] = {};
  int16_t cb[3] = {};
  int16_t cr[3] = {};
  int32_t yBias = 0;      // (16 or 0) << 15, plus half of the last bit
  int32_t cBias = 0;      // 128 << 15, plus half of the last bit (4:4:4)
  int32_t cPairBias = 0;  // 128 << 17, plus half of the last bit (blocks of four)
};

YuvCoefficients YuvCoefficientsFor(YuvMatrix matrix, bool fullRange);

// Row kernels of one instruction-set level.
struct YuvRowKernels {
  // One output sample per pixel: out[x] from bgra[4x..4x+3] with the three
  // coefficients `c` (blue, green, red) and `bias`, shifted by 15.
  void (*pixels)(const uint8_t* bgra, uint8_t* out, int width, const int16_t* c, int32_t bias);
  // (width + 1) / 2 colour-difference samples from two rows (the same row
  // twice at 4:2:2 or for the last row of an odd height): each from the sums
  // over pixels 2i and 2i+1 (2i twice at an odd width's end) of both rows.
  void (*blocks)(const uint8_t* row0, const uint8_t* row1, uint8_t* cb, uint8_t* cr, int width,
                 const YuvCoefficients& c);
};

// The plain kernels (the reference) and those of the best level up to
// `level` that this build and CPU run.
const YuvRowKernels& PlainYuvRowKernels();
const YuvRowKernels& YuvRowKernelsFor(KernelLevel level);

struct YuvPlanes {
  uint8_t* data[3] = {};  // Y, Cb, Cr
  ptrdiff_t stride[3] = {};
};

// Converts a whole picture (`srcStride` bytes from row to row).
void ConvertBgraToYuv(const uint8_t* bgra, ptrdiff_t srcStride, int width, int height, YuvLayout layout,
                      const YuvCoefficients& c, const YuvPlanes& out, const YuvRowKernels& kernels);
// Converts rows [rowBegin, rowEnd) of a picture `height` rows high, writing
// only the output rows that come from them: bands of a picture converted
// separately (in parallel, say) give the bytes of the whole conversion. At
// 4:2:0 a band starts on an even row (and ends on one, or at the bottom).
void ConvertBgraToYuvRows(const uint8_t* bgra, ptrdiff_t srcStride, int width, int height, int rowBegin, int rowEnd,
                          YuvLayout layout, const YuvCoefficients& c, const YuvPlanes& out,
                          const YuvRowKernels& kernels);

namespace yuv_kernels {
// Defined in the units built for each instruction set.
const YuvRowKernels& Sse2Kernels();
const YuvRowKernels& Avx2Kernels();
}  // namespace yuv_kernels

}  // namespace tarvo::cli
