// The conversion of BGRA pictures to planar YUV for the encoder: the result
// against the real-valued definition, known colours, odd picture sizes, and
// the SSE2 and AVX2 kernels against the plain ones, bit for bit.
#include "yuv_write.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "util/cpu_features.h"
#include "video_writer.h"

namespace tarvo::cli {
namespace {

struct Case {
  YuvMatrix matrix;
  bool full;
};

const Case kCases[] = {{YuvMatrix::Bt601, false}, {YuvMatrix::Bt601, true},  {YuvMatrix::Bt709, false},
                       {YuvMatrix::Bt709, true},  {YuvMatrix::Bt2020, false}, {YuvMatrix::Bt2020, true}};
const YuvLayout kLayouts[] = {YuvLayout::Yuv420, YuvLayout::Yuv422, YuvLayout::Yuv444};

std::string Name(const Case& c) {
  const char* m = c.matrix == YuvMatrix::Bt601 ? "bt601" : c.matrix == YuvMatrix::Bt709 ? "bt709" : "bt2020";
  return std::string(m) + (c.full ? " full" : " limited");
}

// The levels this CPU runs above the plain one.
std::vector<KernelLevel> VectorLevels() {
  std::vector<KernelLevel> levels;
  SetKernelLevelCap(KernelLevel::Avx2);
  for (KernelLevel l : {KernelLevel::Sse2, KernelLevel::Avx2})
    if (&YuvRowKernelsFor(l) != &PlainYuvRowKernels() && (levels.empty() || &YuvRowKernelsFor(l) != &YuvRowKernelsFor(levels.back())))
      levels.push_back(l);
  return levels;
}

// Random BGRA bytes; about one pixel in eight is black, white or a primary at
// full strength (the values that reach the ends of the ranges).
std::vector<uint8_t> RandomPixels(std::mt19937& rng, size_t pixels) {
  std::vector<uint8_t> v(pixels * 4);
  std::uniform_int_distribution<int> byte(0, 255), pick(0, 7), corner(0, 7);
  for (size_t i = 0; i < pixels; ++i) {
    if (pick(rng) == 0) {
      const int k = corner(rng);
      for (int c = 0; c < 3; ++c) v[4 * i + c] = (k >> c) & 1 ? 255 : 0;
    } else {
      for (int c = 0; c < 3; ++c) v[4 * i + c] = static_cast<uint8_t>(byte(rng));
    }
    v[4 * i + 3] = static_cast<uint8_t>(byte(rng));  // the fourth byte must not matter
  }
  return v;
}

// The real-valued conversion of one colour (blue, green, red, possibly an
// average), before rounding and clamping.
void Ideal(const Case& c, double b, double g, double r, double* y, double* cb, double* cr) {
  const double kr = c.matrix == YuvMatrix::Bt601 ? 0.299 : c.matrix == YuvMatrix::Bt709 ? 0.2126 : 0.2627;
  const double kb = c.matrix == YuvMatrix::Bt601 ? 0.114 : c.matrix == YuvMatrix::Bt709 ? 0.0722 : 0.0593;
  const double luma = kr * r + (1 - kr - kb) * g + kb * b;
  const double ys = c.full ? 1.0 : 219.0 / 255.0, cs = c.full ? 1.0 : 224.0 / 255.0;
  *y = (c.full ? 0 : 16) + ys * luma;
  *cb = 128 + cs * (b - luma) / (2 * (1 - kb));
  *cr = 128 + cs * (r - luma) / (2 * (1 - kr));
}

// Within rounding of the real value (the 15-bit coefficients add two
// hundredths of a level at most), after clamping to 0..255.
void ExpectRounded(double ideal, int got, const std::string& what) {
  const double clamped = std::min(255.0, std::max(0.0, ideal));
  EXPECT_LE(std::abs(clamped - got), 0.52) << what << ": expected about " << ideal << ", got " << got;
}

struct Picture {
  int width, height;
  YuvLayout layout;
  std::vector<uint8_t> planes[3];
  int cw, ch;
  Picture(int w, int h, YuvLayout l) : width(w), height(h), layout(l) {
    cw = l == YuvLayout::Yuv444 ? w : (w + 1) / 2;
    ch = l == YuvLayout::Yuv420 ? (h + 1) / 2 : h;
    // One spare byte at the end of each plane catches writes past it.
    planes[0].assign(static_cast<size_t>(w) * h + 1, 0xA5);
    planes[1].assign(static_cast<size_t>(cw) * ch + 1, 0xA5);
    planes[2].assign(static_cast<size_t>(cw) * ch + 1, 0xA5);
  }
  YuvPlanes View() {
    YuvPlanes p;
    p.data[0] = planes[0].data();
    p.stride[0] = width;
    for (int i = 1; i < 3; ++i) {
      p.data[i] = planes[i].data();
      p.stride[i] = cw;
    }
    return p;
  }
};

TEST(YuvWrite, KnownColoursAndGreys) {
  // Studio-range primaries as the standards tabulate them.
  struct Known {
    YuvMatrix matrix;
    uint8_t b, g, r;
    int y, cb, cr;
  };
  const Known known[] = {{YuvMatrix::Bt601, 0, 0, 255, 81, 90, 240},   {YuvMatrix::Bt601, 0, 255, 0, 145, 54, 34},
                         {YuvMatrix::Bt601, 255, 0, 0, 41, 240, 110},  {YuvMatrix::Bt709, 0, 0, 255, 63, 102, 240},
                         {YuvMatrix::Bt709, 0, 255, 0, 173, 42, 26},   {YuvMatrix::Bt709, 255, 0, 0, 32, 240, 118}};
  for (const Known& k : known) {
    const YuvCoefficients c = YuvCoefficientsFor(k.matrix, false);
    const uint8_t px[4] = {k.b, k.g, k.r, 0};
    Picture p(1, 1, YuvLayout::Yuv444);
    ConvertBgraToYuv(px, 4, 1, 1, YuvLayout::Yuv444, c, p.View(), PlainYuvRowKernels());
    EXPECT_EQ(p.planes[0][0], k.y);
    EXPECT_EQ(p.planes[1][0], k.cb);
    EXPECT_EQ(p.planes[2][0], k.cr);
  }
  // Every grey has no colour and its exact luma; black and white reach the
  // ends of the range; full-range red and blue clamp their difference at 255.
  for (const Case& cs : kCases) {
    SCOPED_TRACE(Name(cs));
    const YuvCoefficients c = YuvCoefficientsFor(cs.matrix, cs.full);
    std::vector<uint8_t> greys(256 * 4);
    for (int v = 0; v < 256; ++v)
      for (int k = 0; k < 4; ++k) greys[4 * v + k] = static_cast<uint8_t>(v);
    for (YuvLayout layout : kLayouts) {
      Picture p(256, 1, layout);
      ConvertBgraToYuv(greys.data(), 256 * 4, 256, 1, layout, c, p.View(), PlainYuvRowKernels());
      for (int v = 0; v < 256; ++v) {
        const int expected = static_cast<int>(std::lround(cs.full ? v : 16 + v * 219.0 / 255.0));
        ASSERT_EQ(p.planes[0][v], expected) << "grey " << v;
      }
      EXPECT_EQ(p.planes[0][0], cs.full ? 0 : 16);
      EXPECT_EQ(p.planes[0][255], cs.full ? 255 : 235);
      for (int i = 0; i < p.cw; ++i) {
        ASSERT_EQ(p.planes[1][i], 128) << "sample " << i;
        ASSERT_EQ(p.planes[2][i], 128) << "sample " << i;
      }
    }
    const uint8_t red[4] = {0, 0, 255, 255}, blue[4] = {255, 0, 0, 255};
    Picture pr(1, 1, YuvLayout::Yuv444), pb(1, 1, YuvLayout::Yuv444);
    ConvertBgraToYuv(red, 4, 1, 1, YuvLayout::Yuv444, c, pr.View(), PlainYuvRowKernels());
    ConvertBgraToYuv(blue, 4, 1, 1, YuvLayout::Yuv444, c, pb.View(), PlainYuvRowKernels());
    EXPECT_EQ(pr.planes[2][0], cs.full ? 255 : 240);
    EXPECT_EQ(pb.planes[1][0], cs.full ? 255 : 240);
  }
}

// Whole pictures of odd and even sizes against the real-valued conversion:
// luma per pixel, colour per 2x2 (4:2:0) or 2x1 (4:2:2) block averaged, the
// last column and row repeated when the size is odd. Nothing is written
// outside the planes.
TEST(YuvWrite, PicturesFollowTheDefinition) {
  const uint32_t seed = test::TestSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  const int sizes[][2] = {{1, 1}, {2, 2}, {1, 4}, {5, 1}, {7, 5}, {8, 6}, {33, 3}, {70, 9}};
  for (const Case& cs : kCases) {
    const YuvCoefficients c = YuvCoefficientsFor(cs.matrix, cs.full);
    for (YuvLayout layout : kLayouts) {
      for (const auto& sz : sizes) {
        const int w = sz[0], h = sz[1];
        SCOPED_TRACE(Name(cs) + " layout " + std::to_string(static_cast<int>(layout)) + " " + std::to_string(w) + "x" +
                     std::to_string(h));
        // Rows padded by a few bytes: the source stride is honoured.
        const int stride = w * 4 + 12;
        std::vector<uint8_t> src = RandomPixels(rng, static_cast<size_t>(stride / 4) * h);
        Picture p(w, h, layout);
        ConvertBgraToYuv(src.data(), stride, w, h, layout, c, p.View(), YuvRowKernelsFor(ActiveKernelLevel()));
        auto at = [&](int x, int y, int k) { return static_cast<double>(src[static_cast<size_t>(y) * stride + 4 * x + k]); };
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) {
            double iy, icb, icr;
            Ideal(cs, at(x, y, 0), at(x, y, 1), at(x, y, 2), &iy, &icb, &icr);
            ExpectRounded(iy, p.planes[0][static_cast<size_t>(y) * w + x], "luma");
          }
        const int bw = layout == YuvLayout::Yuv444 ? 1 : 2, bh = layout == YuvLayout::Yuv420 ? 2 : 1;
        for (int cy = 0; cy < p.ch; ++cy)
          for (int cx = 0; cx < p.cw; ++cx) {
            double s[3] = {0, 0, 0};
            for (int dy = 0; dy < bh; ++dy)
              for (int dx = 0; dx < bw; ++dx)
                for (int k = 0; k < 3; ++k) s[k] += at(std::min(cx * bw + dx, w - 1), std::min(cy * bh + dy, h - 1), k);
            const double n = bw * bh;
            double iy, icb, icr;
            Ideal(cs, s[0] / n, s[1] / n, s[2] / n, &iy, &icb, &icr);
            ExpectRounded(icb, p.planes[1][static_cast<size_t>(cy) * p.cw + cx], "Cb");
            ExpectRounded(icr, p.planes[2][static_cast<size_t>(cy) * p.cw + cx], "Cr");
          }
        for (int i = 0; i < 3; ++i) EXPECT_EQ(p.planes[i].back(), 0xA5) << "written past plane " << i;
        if (HasFailure()) return;
      }
    }
  }
}

// The SSE2 and AVX2 row kernels against the plain ones, bit for bit, for
// every matrix and range, widths 1 to 67, 1920 and 4096, two different rows
// for the blocks, and bytes around the output that must stay untouched.
TEST(YuvWrite, VectorKernelsMatchThePlainOnes) {
  const uint32_t seed = test::TestSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  std::vector<int> widths;
  for (int w = 1; w <= 67; ++w) widths.push_back(w);
  widths.push_back(1920);
  widths.push_back(4096);
  const std::vector<KernelLevel> levels = VectorLevels();
  if (levels.empty()) GTEST_SKIP() << "no vector kernels under this cap (processor or TARVO_KERNELS)";
  const YuvRowKernels& plain = PlainYuvRowKernels();
  constexpr int kGuard = 32;
  for (KernelLevel level : levels) {
    const YuvRowKernels& k = YuvRowKernelsFor(level);
    for (const Case& cs : kCases) {
      const YuvCoefficients c = YuvCoefficientsFor(cs.matrix, cs.full);
      for (int w : widths) {
        SCOPED_TRACE(Name(cs) + " level " + std::to_string(static_cast<int>(level)) + " width " + std::to_string(w));
        const std::vector<uint8_t> r0 = RandomPixels(rng, w), r1 = RandomPixels(rng, w);
        const int16_t* coefs[3] = {c.y, c.cb, c.cr};
        const int32_t biases[3] = {c.yBias, c.cBias, c.cBias};
        for (int i = 0; i < 3; ++i) {
          std::vector<uint8_t> a(w + 2 * kGuard, 0x5A), b(w + 2 * kGuard, 0x5A);
          plain.pixels(r0.data(), a.data() + kGuard, w, coefs[i], biases[i]);
          k.pixels(r0.data(), b.data() + kGuard, w, coefs[i], biases[i]);
          ASSERT_EQ(a, b) << "pixels, coefficients " << i;
        }
        const int n = (w + 1) / 2;
        std::vector<uint8_t> cb0(n + 2 * kGuard, 0x5A), cr0(n + 2 * kGuard, 0x5A);
        std::vector<uint8_t> cb1 = cb0, cr1 = cr0;
        plain.blocks(r0.data(), r1.data(), cb0.data() + kGuard, cr0.data() + kGuard, w, c);
        k.blocks(r0.data(), r1.data(), cb1.data() + kGuard, cr1.data() + kGuard, w, c);
        ASSERT_EQ(cb0, cb1) << "blocks, Cb";
        ASSERT_EQ(cr0, cr1) << "blocks, Cr";
      }
    }
  }
}

// Whole pictures give the same bytes at every level, whatever the layout.
TEST(YuvWrite, SameBytesAtEveryLevel) {
  const uint32_t seed = test::TestSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  const std::vector<KernelLevel> levels = VectorLevels();
  if (levels.empty()) GTEST_SKIP() << "no vector kernels under this cap (processor or TARVO_KERNELS)";
  const int w = 131, h = 37;
  const std::vector<uint8_t> src = RandomPixels(rng, static_cast<size_t>(w) * h);
  for (const Case& cs : kCases) {
    const YuvCoefficients c = YuvCoefficientsFor(cs.matrix, cs.full);
    for (YuvLayout layout : kLayouts) {
      Picture ref(w, h, layout);
      ConvertBgraToYuv(src.data(), w * 4, w, h, layout, c, ref.View(), PlainYuvRowKernels());
      for (KernelLevel level : levels) {
        Picture p(w, h, layout);
        ConvertBgraToYuv(src.data(), w * 4, w, h, layout, c, p.View(), YuvRowKernelsFor(level));
        for (int i = 0; i < 3; ++i) EXPECT_EQ(ref.planes[i], p.planes[i]) << Name(cs) << " plane " << i;
      }
    }
  }
}

// A picture converted in row bands (as the render does on several threads)
// gives the bytes of the whole conversion and writes nothing outside its
// bands' rows: bands of every height (even ones at 4:2:0, where a band
// starts on an even row), odd and even picture heights.
TEST(YuvWrite, RowBandsGiveTheBytesOfTheWholePicture) {
  const uint32_t seed = test::TestSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  const YuvCoefficients c = YuvCoefficientsFor(YuvMatrix::Bt709, false);
  const YuvRowKernels& kernels = YuvRowKernelsFor(ActiveKernelLevel());
  for (const int h : {1, 2, 7, 36, 37}) {
    const int w = 67;
    const std::vector<uint8_t> src = RandomPixels(rng, static_cast<size_t>(w) * h);
    for (YuvLayout layout : kLayouts) {
      Picture whole(w, h, layout);
      ConvertBgraToYuv(src.data(), w * 4, w, h, layout, c, whole.View(), kernels);
      const int align = layout == YuvLayout::Yuv420 ? 2 : 1;
      for (const int bands : {2, 3, 7}) {
        SCOPED_TRACE("height " + std::to_string(h) + ", " + std::to_string(bands) + " bands, layout " +
                     std::to_string(static_cast<int>(layout)));
        Picture banded(w, h, layout);
        // Cut at random rows, each a multiple of the alignment; converted
        // last band first, so that no band relies on the one above it.
        std::vector<int> cuts = {0, h};
        std::uniform_int_distribution<int> row(1, std::max(1, (h - 1) / align));
        for (int i = 1; i < bands; ++i) cuts.push_back(std::min(h, row(rng) * align));
        std::sort(cuts.begin(), cuts.end());
        for (size_t i = cuts.size() - 1; i > 0; --i)
          ConvertBgraToYuvRows(src.data(), w * 4, w, h, cuts[i - 1], cuts[i], layout, c, banded.View(), kernels);
        for (int p = 0; p < 3; ++p) EXPECT_EQ(whole.planes[p], banded.planes[p]) << "plane " << p;
        // One band alone writes its own rows and nothing else.
        if (cuts.size() > 3 && cuts[1] < cuts[2]) {
          Picture one(w, h, layout);
          ConvertBgraToYuvRows(src.data(), w * 4, w, h, cuts[1], cuts[2], layout, c, one.View(), kernels);
          for (int y = 0; y < h; ++y) {
            const bool inside = y >= cuts[1] && y < cuts[2];
            const uint8_t* got = one.planes[0].data() + static_cast<size_t>(y) * w;
            const uint8_t* want = whole.planes[0].data() + static_cast<size_t>(y) * w;
            EXPECT_EQ(std::equal(got, got + w, want), inside) << "luma row " << y;
            if (!inside) {
              EXPECT_EQ(got[0], 0xA5) << "luma row " << y;
            }
          }
        }
      }
    }
  }
}

// TARVO_KERNELS=scalar (or a cap) forces the plain kernels.
TEST(YuvWrite, LevelCapForcesThePlainKernels) {
  SetKernelLevelCap(KernelLevel::Scalar);
  EXPECT_EQ(&YuvRowKernelsFor(ActiveKernelLevel()), &PlainYuvRowKernels());
  EXPECT_EQ(&YuvRowKernelsFor(KernelLevel::Avx2), &PlainYuvRowKernels());
  SetKernelLevelCap(KernelLevel::Avx2);
}

// The writer converts with our kernels exactly where they apply: planar
// 8-bit YUV, a matrix we know, the fast path. The rest stays with swscale.
TEST(YuvWrite, WriterUsesOwnConversionWhereItApplies) {
  YuvLayout layout;
  YuvCoefficients c;
  EXPECT_TRUE(OwnYuvConversionFor(AV_PIX_FMT_YUV420P, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, ScaleQuality::Fast, &layout, &c));
  EXPECT_EQ(layout, YuvLayout::Yuv420);
  EXPECT_EQ(c.y[1], YuvCoefficientsFor(YuvMatrix::Bt709, false).y[1]);
  EXPECT_TRUE(OwnYuvConversionFor(AV_PIX_FMT_YUV422P, AVCOL_SPC_SMPTE170M, AVCOL_RANGE_JPEG, ScaleQuality::Fast, &layout, &c));
  EXPECT_EQ(layout, YuvLayout::Yuv422);
  EXPECT_EQ(c.y[1], YuvCoefficientsFor(YuvMatrix::Bt601, true).y[1]);
  EXPECT_TRUE(OwnYuvConversionFor(AV_PIX_FMT_YUV444P, AVCOL_SPC_BT2020_NCL, AVCOL_RANGE_MPEG, ScaleQuality::Fast, &layout, &c));
  EXPECT_EQ(layout, YuvLayout::Yuv444);
  EXPECT_EQ(c.cr[0], YuvCoefficientsFor(YuvMatrix::Bt2020, false).cr[0]);
  EXPECT_FALSE(OwnYuvConversionFor(AV_PIX_FMT_YUV420P, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, ScaleQuality::Accurate, nullptr, nullptr));
  EXPECT_FALSE(OwnYuvConversionFor(AV_PIX_FMT_NV12, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, ScaleQuality::Fast, nullptr, nullptr));
  EXPECT_FALSE(OwnYuvConversionFor(AV_PIX_FMT_YUV420P10LE, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, ScaleQuality::Fast, nullptr, nullptr));
  EXPECT_FALSE(OwnYuvConversionFor(AV_PIX_FMT_YUVJ420P, AVCOL_SPC_BT709, AVCOL_RANGE_JPEG, ScaleQuality::Fast, nullptr, nullptr));
  EXPECT_FALSE(OwnYuvConversionFor(AV_PIX_FMT_YUV420P, AVCOL_SPC_SMPTE240M, AVCOL_RANGE_MPEG, ScaleQuality::Fast, nullptr, nullptr));
  EXPECT_FALSE(OwnYuvConversionFor(AV_PIX_FMT_YUV420P, AVCOL_SPC_BT2020_CL, AVCOL_RANGE_MPEG, ScaleQuality::Fast, nullptr, nullptr));
}

}  // namespace
}  // namespace tarvo::cli
