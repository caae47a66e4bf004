#include "siggen/siggen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "support/test_support.h"
#include "types/rounding.h"

namespace tarvo {
namespace {

using test::TestFrame;
using Px = std::array<int, 4>;  // blue, green, red, fourth byte

TestSignalSettings Levels(int signal, int vmin, int vblack, int vwhite) {
  return TestSignalSettings{signal, vblack, vwhite, vmin};
}

// Pixel access through the descriptor's masked stride, as the drawing code sees it.
uint8_t* At(TestFrame& f, int x, int y) {
  return f.desc().Pixels + static_cast<size_t>(y) * FrameStride(f.desc()) + static_cast<size_t>(x) * 4;
}
Px Pix(TestFrame& f, int x, int y) {
  const uint8_t* p = At(f, x, y);
  return {p[0], p[1], p[2], p[3]};
}
Px Rgb(int r, int g, int b) { return {b, g, r, 255}; }
Px Grey(int v) { return Rgb(v, v, v); }

// Positions where row y changes from one pixel to the next.
std::vector<int> Edges(TestFrame& f, int y) {
  std::vector<int> e;
  for (int x = 1; x < f.width(); ++x)
    if (Pix(f, x, y) != Pix(f, x - 1, y)) e.push_back(x);
  return e;
}

// Sets every pixel byte (not the row padding) to a value no pattern leaves in
// the fourth byte.
void Clear(TestFrame& f) {
  for (int y = 0; y < f.height(); ++y) std::memset(At(f, 0, y), 0x11, static_cast<size_t>(f.width()) * 4);
}

TEST(ColourBars, BoundariesAndColoursAt720) {
  TestFrame f(720, 4, 16);
  DrawTestSignal(f.desc(), Levels(2, 0, 16, 235), false);
  EXPECT_EQ(Edges(f, 0), (std::vector<int>{96, 184, 272, 360, 448, 536, 624}));
  const int k = 235, o = 16;
  const Px bars[8] = {Rgb(k, k, k), Rgb(k, k, o), Rgb(o, k, k), Rgb(o, k, o),
                      Rgb(k, o, k), Rgb(k, o, o), Rgb(o, o, k), Rgb(o, o, o)};
  const int starts[8] = {0, 96, 184, 272, 360, 448, 536, 624};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(Pix(f, starts[i], 0), bars[i]) << "bar " << i;
  EXPECT_EQ(Pix(f, 95, 0), bars[0]);
  EXPECT_EQ(Pix(f, 719, 0), bars[7]);
  EXPECT_EQ(std::memcmp(At(f, 0, 3), At(f, 0, 0), 720 * 4), 0);
}

TEST(SmpteBars, LinesAndLevels) {
  // u = 100, M = 10; 12 rows: A while j < 3, B while j < 4, then C.
  TestFrame f(720, 12);
  DrawTestSignal(f.desc(), Levels(3, 0, 16, 235), false);
  // Line A: black, white from 10 + 125, black from 10 + 250, then the PLUGE
  // group at 510: 33 pixels at 5, 34 at 16, 33 at 27, black to the end.
  EXPECT_EQ(Edges(f, 0), (std::vector<int>{135, 260, 510, 543, 577, 610}));
  EXPECT_EQ(Pix(f, 0, 0), Grey(16));
  EXPECT_EQ(Pix(f, 135, 0), Grey(235));
  EXPECT_EQ(Pix(f, 510, 0), Grey(5));
  EXPECT_EQ(Pix(f, 560, 0), Grey(16));
  EXPECT_EQ(Pix(f, 609, 0), Grey(27));
  EXPECT_EQ(Pix(f, 719, 0), Grey(16));
  EXPECT_EQ(Pix(f, 0, 2), Grey(16));
  // Line B on row 3 only (3 < 12 / 3 but 4 is not).
  const int l = 180, o = 16;  // L75 = 16 + Nearest(164.25)
  EXPECT_EQ(Edges(f, 3), (std::vector<int>{110, 210, 310, 410, 510, 610}));
  const Px lineB[7] = {Rgb(o, o, l), Grey(o), Rgb(l, o, l), Grey(o), Rgb(o, l, l), Grey(o), Grey(l)};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(Pix(f, i == 0 ? 0 : 10 + 100 * i, 3), lineB[i]) << "B segment " << i;
  // Line C from row 4 to the bottom.
  const Px lineC[7] = {Grey(l), Rgb(l, l, o), Rgb(o, l, l), Rgb(o, l, o), Rgb(l, o, l), Rgb(l, o, o), Rgb(o, o, l)};
  for (int y : {4, 11})
    for (int i = 0; i < 7; ++i) EXPECT_EQ(Pix(f, i == 0 ? 0 : 10 + 100 * i, y), lineC[i]) << "C segment " << i;
  EXPECT_EQ(Pix(f, 719, 11), Rgb(o, o, l));
}

TEST(SmpteBars, LowerPlugeStripeStopsAtTheFloor) {
  TestFrame f(720, 4);
  DrawTestSignal(f.desc(), Levels(3, 8, 10, 235), false);
  EXPECT_EQ(Pix(f, 510, 0), Grey(8));  // 10 - 11 is below Vmin 8
  EXPECT_EQ(Pix(f, 609, 0), Grey(21));
}

TEST(Greyscale, ElevenStepsFullRange) {
  TestFrame f(720, 2);
  DrawTestSignal(f.desc(), Levels(4, 0, 0, 255), false);
  // u = 64, M = 8: step 0 is 0..71, step i starts at 8 + 64 i, step 10 runs to 719.
  const int expected[11] = {0, 26, 51, 76, 102, 128, 153, 178, 204, 230, 255};
  std::vector<int> edges;
  for (int i = 1; i <= 10; ++i) edges.push_back(8 + 64 * i);
  EXPECT_EQ(Edges(f, 0), edges);
  for (int i = 0; i < 11; ++i) EXPECT_EQ(Pix(f, i == 0 ? 0 : 8 + 64 * i, 1), Grey(expected[i])) << "step " << i;
  EXPECT_EQ(Pix(f, 719, 1), Grey(255));
}

TEST(Sawtooth, RampBetweenBlackAndWhite) {
  TestFrame f(720, 2);
  DrawTestSignal(f.desc(), Levels(5, 0, 16, 235), false);
  // Black to 71, ramp over 576 pixels from 72, white from 648.
  EXPECT_EQ(Pix(f, 71, 0), Grey(16));
  EXPECT_EQ(Pix(f, 72, 0), Grey(16));
  EXPECT_EQ(Pix(f, 72 + 288, 0), Grey(16 + 110));  // 288 x 219 / 576 = 109.5 goes to the even 110
  EXPECT_EQ(Pix(f, 72 + 96, 0), Grey(16 + 36));    // 36.5 goes to 36
  EXPECT_EQ(Pix(f, 647, 0), Grey(235));            // 218.62 rounds up to white
  EXPECT_EQ(Pix(f, 648, 0), Grey(235));
  for (int x = 73; x < 648; ++x) EXPECT_GE(Pix(f, x, 0)[0], Pix(f, x - 1, 0)[0]) << x;
}

TEST(Pluge, Type1BandsColumnsAndLevels) {
  // Bands for H = 9: Nearest of 1.5, 3, 4.5, 6, 7.5 -> 2, 3, 4, 6, 8, then 9.
  TestFrame f(720, 9);
  DrawTestSignal(f.desc(), Levels(6, 0, 16, 235), false);
  // Background 16 + 4, stripes 16 and 16 + 9; columns 158, 187, 216, 245, 403, 562.
  for (int y : {0, 1, 8}) EXPECT_TRUE(Edges(f, y).empty()) << "row " << y;
  EXPECT_EQ(Pix(f, 0, 0), Grey(20));
  EXPECT_EQ(Pix(f, 0, 8), Grey(20));
  EXPECT_EQ(Edges(f, 2), (std::vector<int>{158, 187, 216, 245, 403, 562}));
  EXPECT_EQ(Pix(f, 158, 2), Grey(16));
  EXPECT_EQ(Pix(f, 216, 2), Grey(25));
  const int patch[6] = {50, 79, 157, 157, 235, 235};  // rows 2..7: 15.7, 28.6, 64.3 (two rows), white
  for (int y = 2; y < 8; ++y) {
    EXPECT_EQ(Pix(f, 403, y), Grey(patch[y - 2])) << "row " << y;
    EXPECT_EQ(Pix(f, 561, y), Grey(patch[y - 2])) << "row " << y;
    EXPECT_EQ(Pix(f, 186, y), Grey(16)) << "row " << y;
  }
}

TEST(Pluge, Type2StripesAroundBlack) {
  TestFrame f(720, 9);
  DrawTestSignal(f.desc(), Levels(7, 0, 16, 235), false);
  EXPECT_EQ(Pix(f, 0, 2), Grey(16));
  EXPECT_EQ(Pix(f, 158, 2), Grey(12));
  EXPECT_EQ(Pix(f, 216, 2), Grey(20));
  // Full range: the lower stripe would be 0 - 5 and stops at Vmin.
  DrawTestSignal(f.desc(), Levels(7, 0, 0, 255), false);
  EXPECT_EQ(Pix(f, 158, 2), Grey(0));
  EXPECT_EQ(Pix(f, 216, 2), Grey(5));
}

TEST(BandLimit, SpreadsABarEdgeQuarterHalfQuarter) {
  TestFrame f(720, 2);
  DrawTestSignal(f.desc(), Levels(2, 0, 0, 255), true);
  // White (Y 65280, P 0, Q 0) meets yellow (Y 57885, P -57885, Q 7395) at 96.
  // Pixel 95: Y 63431.25 -> 63431, P -14471.25 -> -14471, Q 1848.75 -> 1849;
  // b = 48960 / 256 = 191.25, r = 65280 / 256 = 255, g = 38249.75 / 150 = 254.998.
  EXPECT_EQ(Pix(f, 95, 0), Rgb(255, 255, 191));
  // Pixel 96: Y 59733.75 -> 59734, P -43413.75 -> -43414, Q 5546.25 -> 5546;
  // b = 16320 / 256 = 63.75, r = 255, g = 38250.25 / 150 = 255.002.
  EXPECT_EQ(Pix(f, 96, 0), Rgb(255, 255, 64));
  EXPECT_EQ(Pix(f, 94, 0), Grey(255));
  EXPECT_EQ(Pix(f, 97, 0), Rgb(255, 255, 0));
  EXPECT_EQ(Pix(f, 0, 1), Grey(255));
  EXPECT_EQ(Pix(f, 719, 1), Grey(0));
  for (int x = 0; x < 720; ++x) ASSERT_EQ(Pix(f, x, 1)[3], 255) << x;
  // The dialog's rendering keeps the edge hard.
  DrawTestSignal(f.desc(), Levels(2, 0, 0, 255), false);
  EXPECT_EQ(Pix(f, 95, 0), Grey(255));
  EXPECT_EQ(Pix(f, 96, 0), Rgb(255, 255, 0));
}

TEST(BandLimit, WideLinesAreFilteredAndEndsAndFourthBytesStay) {
  // White meets yellow far beyond 4096 pixels; the edge spreads as at 96 above.
  const int n = 5000;
  std::vector<uint8_t> line(4 * n, 255);
  for (int k = 4600; k < n; ++k) line[4 * k] = 0;
  for (int k = 0; k < n; ++k) line[4 * k + 3] = static_cast<uint8_t>(k);
  line[0] = 3;                // first pixel differs from its neighbour
  line[4 * (n - 1) + 1] = 9;  // and so does the last
  const std::vector<uint8_t> before = line;
  BandLimitLine(line.data(), n);
  EXPECT_EQ(line[4 * 4599], 191);
  EXPECT_EQ(line[4 * 4600], 64);
  EXPECT_NE(line[4], 255);
  EXPECT_EQ(std::memcmp(line.data(), before.data(), 4), 0);
  EXPECT_EQ(std::memcmp(&line[4 * (n - 1)], &before[4 * (n - 1)], 4), 0);
  for (int k = 0; k < n; ++k) ASSERT_EQ(line[4 * k + 3], before[4 * k + 3]) << k;
  for (int m : {0, 1, 2}) {
    std::vector<uint8_t> two = {0, 255, 0, 7, 255, 0, 255, 9};
    BandLimitLine(two.data(), m);
    EXPECT_EQ(two, (std::vector<uint8_t>{0, 255, 0, 7, 255, 0, 255, 9})) << "n " << m;
  }
}

TEST(BandLimit, SaturatedNeighboursStayWithinHalfACodeOfTheExactAverage) {
  // Every triple of colours with channels 0, 1, 254 or 255: the rounded output
  // must stay next to (a + 2b + c) / 4 per channel; a value wrapped past 0 or
  // 255 would be far off.
  const int levels[4] = {0, 1, 254, 255};
  double worst = 0;
  for (int a = 0; a < 64; ++a)
    for (int b = 0; b < 64; ++b)
      for (int c = 0; c < 64; ++c) {
        const int colour[3] = {a, b, c};
        uint8_t line[12];
        for (int k = 0; k < 3; ++k)
          for (int ch = 0; ch < 3; ++ch) line[4 * k + ch] = static_cast<uint8_t>(levels[(colour[k] >> (2 * ch)) & 3]);
        uint8_t in[12], ref[12];
        std::memcpy(in, line, 12);
        std::memcpy(ref, line, 12);
        BandLimitLine(line, 3);
        BandLimitLineReference(ref, 3);
        ASSERT_EQ(std::memcmp(line, ref, 12), 0) << a << " " << b << " " << c;
        for (int ch = 0; ch < 3; ++ch) {
          const double exact = (in[ch] + 2.0 * in[4 + ch] + in[8 + ch]) / 4;
          worst = std::max(worst, std::fabs(line[4 + ch] - exact));
        }
      }
  EXPECT_LE(worst, 0.51);
}

TEST(BandLimit, IntegerFilterMatchesTheExtendedPrecisionReference) {
  const uint32_t seed = test::TestSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> d(0, 255), pick(0, 7);
  for (int n : {3, 720, 4096, 5000}) {
    // Random bytes with runs of the extremes, where rounding meets halves.
    std::vector<uint8_t> line(4 * static_cast<size_t>(n));
    for (auto& v : line) v = static_cast<uint8_t>(pick(rng) == 0 ? 0 : pick(rng) == 0 ? 255 : d(rng));
    std::vector<uint8_t> ref = line;
    BandLimitLine(line.data(), n);
    BandLimitLineReference(ref.data(), n);
    for (size_t i = 0; i < line.size(); ++i) ASSERT_EQ(line[i], ref[i]) << "n " << n << " byte " << i;
  }
}

TEST(Pluge, EachBandFiltersTheLineLeftByThePreviousBand) {
  TestFrame f(720, 9);
  const TestSignalSettings s = Levels(6, 0, 16, 235);
  DrawTestSignal(f.desc(), s, true);
  // Band 3 (row 3) is band 2's filtered line with the patch rewritten to 79,
  // filtered once more.
  std::vector<uint8_t> line(At(f, 0, 2), At(f, 0, 2) + 720 * 4);
  for (int x = 403; x < 562; ++x) std::memset(&line[4 * x], 79, 3);
  BandLimitLine(line.data(), 720);
  EXPECT_EQ(std::memcmp(line.data(), At(f, 0, 3), 720 * 4), 0);
  // By hand at the patch edge 403: band 2 leaves 20, 20, 28 (27.5 to even) in
  // pixels 400..402; band 3 then gives pixel 401 = 5 + 10 + 7 = 22 and pixel
  // 402 = 5 + 14 + 19.75 -> 39, where filtering the fresh line would give 20, 35.
  EXPECT_EQ(Pix(f, 402, 2), Grey(28));
  EXPECT_EQ(Pix(f, 401, 3), Grey(22));
  EXPECT_EQ(Pix(f, 402, 3), Grey(39));
  // The last band is plain background.
  EXPECT_TRUE(Edges(f, 8).empty());
  EXPECT_EQ(Pix(f, 400, 8), Grey(20));
}

TEST(DrawTestSignal, WritesEveryPixelOfSmallAndLargeFrames) {
  const int sizes[][2] = {{1, 1}, {2, 1}, {3, 2}, {7, 2}, {1, 7}, {13, 5}, {33, 3}, {4095, 3}};
  for (int signal = 2; signal <= 7; ++signal)
    for (const auto& sz : sizes)
      for (bool bandLimit : {false, true}) {
        SCOPED_TRACE("signal " + std::to_string(signal) + " size " + std::to_string(sz[0]) + "x" +
                     std::to_string(sz[1]) + (bandLimit ? " band-limited" : ""));
        // Row padding, as far as the 14-bit stride allows.
        const int pad = std::min(12, kRowBytesMask - 4 * sz[0]);
        TestFrame f(sz[0], sz[1], pad);
        Clear(f);
        DrawTestSignal(f.desc(), Levels(signal, 0, 16, 235), bandLimit);
        for (int y = 0; y < sz[1]; ++y) {
          for (int x = 0; x < sz[0]; ++x) ASSERT_EQ(Pix(f, x, y)[3], 255) << x << "," << y;
          for (int b = 0; b < pad; ++b) ASSERT_EQ(At(f, sz[0], y)[b], 0xA5) << "padding of row " << y;
        }
        EXPECT_TRUE(f.GuardsIntact());
      }
}

TEST(DrawTestSignal, UsesOnlyTheLowFourteenBitsOfRowBytes) {
  TestFrame f(64, 4, 16);
  f.desc().RowBytes |= 0x24000;
  Clear(f);
  DrawTestSignal(f.desc(), Levels(4, 0, 16, 235), false);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 64; ++x) ASSERT_EQ(Pix(f, x, y)[3], 255) << x << "," << y;
  EXPECT_TRUE(f.GuardsIntact());
}

TEST(DrawTestSignal, LeavesTheFrameAloneWithoutAPattern) {
  std::mt19937 rng(test::TestSeed());
  TestFrame f(32, 4, 8);
  f.FillRandom(rng);
  std::vector<uint8_t> before(At(f, 0, 0), At(f, 0, 3) + 32 * 4);
  for (int signal : {0, 1, 8, -1}) {
    DrawTestSignal(f.desc(), Levels(signal, 0, 16, 235), true);
    EXPECT_EQ(std::memcmp(before.data(), At(f, 0, 0), before.size()), 0) << "signal " << signal;
  }
  // A stride shorter than a row cannot be written without overlapping rows.
  f.desc().RowBytes = 32 * 4 - 4;
  DrawTestSignal(f.desc(), Levels(2, 0, 16, 235), true);
  f.desc().RowBytes = 32 * 4 + 8;
  EXPECT_EQ(std::memcmp(before.data(), At(f, 0, 0), before.size()), 0);
}

}  // namespace
}  // namespace tarvo
