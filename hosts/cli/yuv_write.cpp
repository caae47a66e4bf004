#include "yuv_write.h"

#include <cmath>

namespace tarvo::cli {
namespace {

constexpr int kShift = 15;

uint8_t Clamp8(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

void PixelsPlain(const uint8_t* bgra, uint8_t* out, int width, const int16_t* c, int32_t bias) {
  for (int x = 0; x < width; ++x) {
    const uint8_t* p = bgra + 4 * static_cast<ptrdiff_t>(x);
    out[x] = Clamp8((c[0] * p[0] + c[1] * p[1] + c[2] * p[2] + bias) >> kShift);
  }
}

void BlocksPlain(const uint8_t* row0, const uint8_t* row1, uint8_t* cb, uint8_t* cr, int width,
                 const YuvCoefficients& c) {
  const int samples = (width + 1) / 2;
  for (int i = 0; i < samples; ++i) {
    const ptrdiff_t a = 8 * static_cast<ptrdiff_t>(i);
    const ptrdiff_t b = 2 * i + 1 < width ? a + 4 : a;  // an odd width repeats its last column
    int32_t s[3];
    for (int k = 0; k < 3; ++k) s[k] = row0[a + k] + row0[b + k] + row1[a + k] + row1[b + k];
    cb[i] = Clamp8((c.cb[0] * s[0] + c.cb[1] * s[1] + c.cb[2] * s[2] + c.cPairBias) >> (kShift + 2));
    cr[i] = Clamp8((c.cr[0] * s[0] + c.cr[1] * s[1] + c.cr[2] * s[2] + c.cPairBias) >> (kShift + 2));
  }
}

constexpr YuvRowKernels kPlain = {PixelsPlain, BlocksPlain};

int16_t Fixed(double v) { return static_cast<int16_t>(std::lround(v * (1 << kShift))); }

}  // namespace

YuvCoefficients YuvCoefficientsFor(YuvMatrix matrix, bool fullRange) {
  double kr = 0.299, kb = 0.114;
  if (matrix == YuvMatrix::Bt709) {
    kr = 0.2126;
    kb = 0.0722;
  } else if (matrix == YuvMatrix::Bt2020) {
    kr = 0.2627;
    kb = 0.0593;
  }
  const double ys = fullRange ? 1.0 : 219.0 / 255.0;
  const double cs = fullRange ? 1.0 : 224.0 / 255.0;
  YuvCoefficients c;
  // Luma: the green term takes what is left of the range's exact scale.
  c.y[0] = Fixed(kb * ys);
  c.y[2] = Fixed(kr * ys);
  c.y[1] = static_cast<int16_t>(std::lround(ys * (1 << kShift)) - c.y[0] - c.y[2]);
  // Colour differences: the green term makes the three add up to zero.
  c.cb[0] = Fixed(cs / 2);
  c.cb[2] = Fixed(-cs * kr / (2 * (1 - kb)));
  c.cb[1] = static_cast<int16_t>(-(c.cb[0] + c.cb[2]));
  c.cr[2] = Fixed(cs / 2);
  c.cr[0] = Fixed(-cs * kb / (2 * (1 - kr)));
  c.cr[1] = static_cast<int16_t>(-(c.cr[0] + c.cr[2]));
  const int32_t yOffset = fullRange ? 0 : 16;
  c.yBias = (yOffset << kShift) + (1 << (kShift - 1));
  c.cBias = (128 << kShift) + (1 << (kShift - 1));
  c.cPairBias = (128 << (kShift + 2)) + (1 << (kShift + 1));
  return c;
}

const YuvRowKernels& PlainYuvRowKernels() { return kPlain; }

const YuvRowKernels& YuvRowKernelsFor(KernelLevel level) {
#if defined(__x86_64__)
  if (level >= KernelLevel::Avx2 && ActiveKernelLevel() >= KernelLevel::Avx2) return yuv_kernels::Avx2Kernels();
  if (level >= KernelLevel::Sse2 && ActiveKernelLevel() >= KernelLevel::Sse2) return yuv_kernels::Sse2Kernels();
#endif
  (void)level;
  return kPlain;
}

void ConvertBgraToYuv(const uint8_t* bgra, ptrdiff_t srcStride, int width, int height, YuvLayout layout,
                      const YuvCoefficients& c, const YuvPlanes& out, const YuvRowKernels& kernels) {
  ConvertBgraToYuvRows(bgra, srcStride, width, height, 0, height, layout, c, out, kernels);
}

void ConvertBgraToYuvRows(const uint8_t* bgra, ptrdiff_t srcStride, int width, int height, int rowBegin, int rowEnd,
                          YuvLayout layout, const YuvCoefficients& c, const YuvPlanes& out,
                          const YuvRowKernels& kernels) {
  if (rowBegin < 0) rowBegin = 0;
  if (rowEnd > height) rowEnd = height;
  auto src = [&](int y) { return bgra + static_cast<ptrdiff_t>(y) * srcStride; };
  auto plane = [&](int p, int y) { return out.data[p] + static_cast<ptrdiff_t>(y) * out.stride[p]; };
  if (layout == YuvLayout::Yuv420) {
    // Two rows at a time, so that the colour differences read rows still in
    // the cache from their luma.
    for (int y = rowBegin & ~1; y < rowEnd; y += 2) {
      const uint8_t* r0 = src(y);
      const uint8_t* r1 = y + 1 < height ? src(y + 1) : r0;  // an odd height repeats its last row
      kernels.pixels(r0, plane(0, y), width, c.y, c.yBias);
      if (y + 1 < height) kernels.pixels(r1, plane(0, y + 1), width, c.y, c.yBias);
      kernels.blocks(r0, r1, plane(1, y / 2), plane(2, y / 2), width, c);
    }
    return;
  }
  for (int y = rowBegin; y < rowEnd; ++y) {
    const uint8_t* r = src(y);
    kernels.pixels(r, plane(0, y), width, c.y, c.yBias);
    if (layout == YuvLayout::Yuv422) {
      kernels.blocks(r, r, plane(1, y), plane(2, y), width, c);
    } else {
      kernels.pixels(r, plane(1, y), width, c.cb, c.cBias);
      kernels.pixels(r, plane(2, y), width, c.cr, c.cBias);
    }
  }
}

}  // namespace tarvo::cli
