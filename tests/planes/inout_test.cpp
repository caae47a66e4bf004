#include "planes/inout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "support/test_support.h"
#include "util/cpu_features.h"

namespace tarvo {
namespace {

using test::TestFrame;

// ---------------------------------------------------------------------------
// A slow reference written straight from the conversion rules, in long double
// throughout, with no merged tables and no shortcuts.

struct RefTables {
  std::array<int, 256> level[3];  // red, green, blue
  std::array<int, 256> chroma;
};

int RefRange(const TSpecs& s) {
  const int vmin = std::clamp<int>(s.Vmin, 0, 255), vmax = std::clamp<int>(s.Vmax, 0, 255);
  return vmax > vmin ? vmax - vmin : 0;
}

RefTables RefBuild(const TSpecs& s, bool neutral) {
  RefTables t{};
  const long double vmin = std::clamp<int>(s.Vmin, 0, 255);
  const long double range = RefRange(s);
  const long double vblack = s.Vblack;
  const long double wspan = (static_cast<long double>(s.Vwhite) - s.Vblack) * 256;
  const int lifts[3] = {s.RLift, s.GLift, s.BLift};
  const int gains[3] = {s.RGain, s.GGain, s.BGain};
  const int gammas[3] = {s.RGamma, s.GGamma, s.BGamma};
  long double knee = nearbyintl(range * s.Knee * 0.01L) - (vblack - vmin);
  long double slope = s.Slope * 0.01L;
  if (neutral) {
    knee = range - (vblack - vmin);
    slope = 1.0L;
  }
  for (int ch = 0; ch < 3; ++ch) {
    long double lift = s.Lift + lifts[ch];
    long double gain = nearbyintl(static_cast<long double>(s.Gain) * gains[ch] * 256 * 0.0001L);
    long double gamma = powl(10.0L, (s.Gamma + gammas[ch]) * 0.01L);
    if (gamma < 0.1L) gamma = 0.1L;
    if (gamma > 10.0L) gamma = 10.0L;
    if (neutral) {
      lift = 0;
      gain = 256;
      gamma = 1.0L;
    }
    if (wspan <= 0) gamma = 1.0L;  // no white span: straight line through black
    const long double k = powl(wspan, 1.0L - gamma);
    for (int i = 0; i < 256; ++i) {
      const long double x = (i + lift - vblack) * gain;
      long double v;
      if (x <= 0) {
        v = nearbyintl(powl(256.0L, gamma) * x * k * powl(2.0L, -16.0L));
      } else {
        v = nearbyintl(powl(x, gamma) * k / 256.0L);
        if (v > knee) v = nearbyintl((v - knee) * slope) + knee;
      }
      v = v + vblack - vmin;
      t.level[ch][i] = v <= 0 ? 0 : v >= range ? static_cast<int>(range) : static_cast<int>(v);
    }
  }
  const long double sat = neutral ? 256.0L : nearbyintl(s.Sat * 256 * 0.01L);
  for (int i = 0; i < 256; ++i) t.chroma[i] = static_cast<int>(nearbyintl(sat * i / 256.0L));
  return t;
}

bool RefNeutral(const TSpecs& s, bool inSetup) {
  return ((inSetup || s.TestSignal == 1) && s.Bypass > 0) || s.TestSignal > 1;
}

// The chroma layout a frame gets: the record's mode when the frame divides
// into whole chroma samples, else one sample per pixel.
int RefMode(int procMode, int w, int h) {
  if (procMode == 1 && w % 2 == 0) return 1;
  if (procMode == 2 && w % 2 == 0 && h % 2 == 0) return 2;
  if (procMode == 3 && w % 4 == 0) return 3;
  return 0;
}

// Pixels sharing chroma sample (cx, cy), in visiting order.
std::vector<std::pair<int, int>> RefBlock(int mode, int cx, int cy) {
  switch (mode) {
    case 0:
      return {{cx, cy}};
    case 1:
      return {{2 * cx, cy}, {2 * cx + 1, cy}};
    case 2:
      return {{2 * cx, 2 * cy}, {2 * cx, 2 * cy + 1}, {2 * cx + 1, 2 * cy + 1}, {2 * cx + 1, 2 * cy}};
    default:
      return {{4 * cx, cy}, {4 * cx + 1, cy}, {4 * cx + 2, cy}, {4 * cx + 3, cy}};
  }
}

struct RefPlanes {
  int cw = 0, ch = 0;
  std::vector<int> y, u, v;
  std::vector<uint8_t> fourth;  // destination fourth byte per pixel
};

RefPlanes RefInput(TestFrame& src, const RefTables& t, int mode) {
  const int w = src.width(), h = src.height();
  const int div = mode == 0 ? 1 : mode == 3 ? 4 : 2;
  RefPlanes p;
  p.cw = w / div;
  p.ch = mode == 2 ? h / 2 : h;
  p.y.assign(w * h, -1);
  p.fourth.assign(w * h, 0);
  p.u.assign(p.cw * p.ch, 0);
  p.v.assign(p.cw * p.ch, 0);
  for (int cy = 0; cy < p.ch; ++cy)
    for (int cx = 0; cx < p.cw; ++cx) {
      const auto block = RefBlock(mode, cx, cy);
      int su = 0, sv = 0;
      for (auto [x, y] : block) {
        const uint8_t* px = src.pixel(x, y);
        const int b = t.level[2][px[0]], g = t.level[1][px[1]], r = t.level[0][px[2]];
        const int lum = (77 * r + 150 * g + 29 * b + 128) / 256;
        p.y[y * w + x] = lum;
        su += t.chroma[b] - t.chroma[lum];
        sv += t.chroma[r] - t.chroma[lum];
        p.fourth[y * w + x] = px[3];
      }
      const int n = static_cast<int>(block.size());
      // Rounds half up: floor((sum + n/2) / n).
      p.u[cy * p.cw + cx] = static_cast<int>(std::floor((su + n / 2) / static_cast<double>(n)));
      p.v[cy * p.cw + cx] = static_cast<int>(std::floor((sv + n / 2) / static_cast<double>(n)));
    }
  return p;
}

struct Visit {
  int level, u, v, column;
  bool operator==(const Visit&) const = default;
};

// Writes bytes 0..2 of every pixel of dst; returns the visits in order.
std::vector<Visit> RefOutput(const TChannel& y, const TChannel& u, const TChannel& v, TestFrame& dst,
                             const TSpecs& s, int mode) {
  const int vmin = std::clamp<int>(s.Vmin, 0, 255), range = RefRange(s);
  std::vector<Visit> visits;
  for (int cy = 0; cy < u.Height(); ++cy)
    for (int cx = 0; cx < u.Width(); ++cx) {
      const int cu = test::Sample(u, cx, cy), cv = test::Sample(v, cx, cy);
      for (auto [x, row] : RefBlock(mode, cx, cy)) {
        const int lum = test::Sample(y, x, row);
        const int b = std::clamp(lum + cu, 0, range);
        const int r = std::clamp(lum + cv, 0, range);
        const int num = 256 * lum - 29 * b - 77 * r + 74;
        const int g = std::min(num < 0 ? 0 : num / 150, range);
        uint8_t* px = dst.pixel(x, row);
        px[0] = static_cast<uint8_t>(b + vmin);
        px[1] = static_cast<uint8_t>(g + vmin);
        px[2] = static_cast<uint8_t>(r + vmin);
        visits.push_back({lum, cu, cv, x});
      }
    }
  return visits;
}

class RecordingSink : public MonitorSink {
 public:
  void Accumulate(int32_t level, int32_t u, int32_t v, int32_t column) override {
    visits.push_back({level, u, v, column});
  }
  std::vector<Visit> visits;
};

// ---------------------------------------------------------------------------

TSpecs Neutral() {
  TSpecs s = BuiltInDefaultSpecs();
  s.Vmin = 0;
  s.Vmax = 255;
  s.Vblack = 0;
  s.Vwhite = 255;
  return s;
}

TSpecs RandomSpecs(std::mt19937& rng) {
  auto in = [&](int lo, int hi) { return static_cast<int16_t>(std::uniform_int_distribution<int>(lo, hi)(rng)); };
  TSpecs s = BuiltInDefaultSpecs();
  s.Vmin = in(0, 40);
  s.Vmax = in(200, 255);
  s.Vblack = in(0, 64);
  s.Vwhite = in(180, 255);
  if (in(0, 9) == 0) {  // anywhere in the fields' ranges, white below black and empty ranges included
    s.Vmin = in(0, 255);
    s.Vmax = in(0, 255);
    s.Vblack = in(0, 255);
    s.Vwhite = in(0, 255);
  }
  s.ProcMode = in(0, 3);
  s.Bypass = in(0, 1);
  s.TestSignal = in(0, 3) == 0 ? in(0, 7) : 0;
  s.Lift = in(-100, 100);
  s.Gain = in(0, 800);
  s.Gamma = in(-100, 100);
  s.Sat = in(0, 200);
  s.Knee = in(0, 100);
  s.Slope = in(0, 100);
  for (int16_t* f : {&s.RLift, &s.GLift, &s.BLift, &s.RGamma, &s.GGamma, &s.BGamma}) *f = in(-100, 100);
  for (int16_t* f : {&s.RGain, &s.GGain, &s.BGain}) *f = in(0, 200);
  return s;
}

void ExpectTablesMatch(const ColourConverter& c, const RefTables& t) {
  const uint8_t* got[3] = {c.RedTable(), c.GreenTable(), c.BlueTable()};
  for (int ch = 0; ch < 3; ++ch)
    for (int i = 0; i < 256; ++i) ASSERT_EQ(got[ch][i], t.level[ch][i]) << "channel " << ch << " entry " << i;
  for (int i = 0; i < 256; ++i) ASSERT_EQ(c.ChromaTable()[i], t.chroma[i]) << "chroma entry " << i;
}

TEST(ColourTables, MatchReferenceForRandomRecords) {
  const uint32_t seed = test::TestSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  ColourConverter c;
  for (int n = 0; n < 3000; ++n) {
    const TSpecs s = RandomSpecs(rng);
    const bool neutral = n % 5 == 0;
    c.BuildTables(s, neutral);
    SCOPED_TRACE("record " + std::to_string(n));
    ExpectTablesMatch(c, RefBuild(s, neutral));
    const int range = RefRange(s);
    for (const uint8_t* t : {c.RedTable(), c.GreenTable(), c.BlueTable()})
      ASSERT_LE(*std::max_element(t, t + 256), range);
  }
}

TEST(ColourTables, NeutralIsInputMinusVminLimitedAndIdentityChroma) {
  std::mt19937 rng(7);
  TSpecs s = RandomSpecs(rng);
  s.Vmin = 16;
  s.Vmax = 235;
  ColourConverter c;
  c.BuildTables(s, true);
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(c.RedTable()[i], std::clamp(i - 16, 0, 219));
    EXPECT_EQ(c.ChromaTable()[i], i);
  }
  EXPECT_EQ(c.GreenTable()[10], 0);     // output 16
  EXPECT_EQ(c.BlueTable()[240], 219);   // output 235
}

TEST(ColourTables, WorkedSettings) {
  ColourConverter c;
  TSpecs s = Neutral();
  s.Lift = 10;
  c.BuildTables(s, false);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(c.RedTable()[i], std::min(i + 10, 255)) << i;

  s = Neutral();
  s.Gain = 0;
  s.Vblack = 16;
  s.Vwhite = 235;
  c.BuildTables(s, false);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(c.GreenTable()[i], 16) << i;

  s = Neutral();
  s.Sat = 0;
  c.BuildTables(s, false);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(c.ChromaTable()[i], 0);

  s = Neutral();
  s.Knee = 50;
  s.Slope = 0;
  c.BuildTables(s, false);
  EXPECT_EQ(*std::max_element(c.BlueTable(), c.BlueTable() + 256), 128);  // rnd(127.5), ties to even
  EXPECT_EQ(c.BlueTable()[128], 128);
  EXPECT_EQ(c.BlueTable()[127], 127);
}

TEST(ColourTables, GammaIsLimitedAndPassesThroughWhite) {
  ColourConverter c;
  TSpecs s = Neutral();
  s.Gamma = -100;  // bars at +100: exponents 10^-2 and 10^-1.5, both limited to 0.1
  s.RGamma = -100;
  s.GGamma = -50;
  c.BuildTables(s, false);
  EXPECT_TRUE(std::equal(c.RedTable(), c.RedTable() + 256, c.GreenTable()));
  EXPECT_GT(c.RedTable()[16], 100);  // 16^0.1 * 255^0.9 is about 195
  EXPECT_EQ(c.RedTable()[255], 255);
  EXPECT_EQ(c.RedTable()[0], 0);

  s.Gamma = 100;  // exponents 100 and 10^1.5, both limited to 10
  s.RGamma = 100;
  s.GGamma = 50;
  c.BuildTables(s, false);
  EXPECT_TRUE(std::equal(c.RedTable(), c.RedTable() + 256, c.GreenTable()));
  EXPECT_EQ(c.RedTable()[128], 0);  // 128^10 / 255^9 is about 0.1
  EXPECT_EQ(c.RedTable()[255], 255);

  // Whatever the gamma, the curve meets white at Vwhite.
  for (int gamma = -100; gamma <= 100; gamma += 10) {
    s = Neutral();
    s.Vblack = 16;
    s.Vwhite = 235;
    s.BGamma = static_cast<int16_t>(gamma);
    c.BuildTables(s, false);
    EXPECT_EQ(c.BlueTable()[235], 235) << gamma;
    EXPECT_EQ(c.BlueTable()[16], 16) << gamma;
  }
}

TEST(ColourTables, WhiteAtOrBelowBlackBuildsEveryGammaAsOne) {
  std::mt19937 rng(test::TestSeed());
  SCOPED_TRACE("seed " + std::to_string(test::TestSeed()));
  ColourConverter c, flat;
  for (int n = 0; n < 200; ++n) {
    TSpecs s = RandomSpecs(rng);
    s.Vblack = static_cast<int16_t>(std::uniform_int_distribution<int>(0, 255)(rng));
    s.Vwhite = static_cast<int16_t>(n % 2 ? s.Vblack : std::uniform_int_distribution<int>(0, s.Vblack)(rng));
    TSpecs linear = s;
    linear.Gamma = linear.RGamma = linear.GGamma = linear.BGamma = 0;
    c.BuildTables(s, false);
    flat.BuildTables(linear, false);
    ASSERT_TRUE(std::equal(c.RedTable(), c.RedTable() + 256, flat.RedTable()));
    ASSERT_TRUE(std::equal(c.GreenTable(), c.GreenTable() + 256, flat.GreenTable()));
    ASSERT_TRUE(std::equal(c.BlueTable(), c.BlueTable() + 256, flat.BlueTable()));
  }
  // Unity gain and no lift: a straight line through black.
  TSpecs s = Neutral();
  s.Vblack = s.Vwhite = 20;
  s.Gamma = 60;
  c.BuildTables(s, false);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(c.RedTable()[i], i) << i;
}

TEST(ColourTables, EmptyRangeGivesAllZeroLevels) {
  ColourConverter c;
  TSpecs s = Neutral();
  s.Vmin = 200;
  s.Vmax = 100;
  s.Gain = 800;
  c.BuildTables(s, false);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(c.RedTable()[i] + c.GreenTable()[i] + c.BlueTable()[i], 0);
  EXPECT_EQ(OutputLevelsOf(s).range, 0);
  EXPECT_EQ(OutputLevelsOf(s).vmin, 200);
}

// ---------------------------------------------------------------------------

struct Planes {
  TChannel y, u, v;
};

// Runs a test body once with the plain kernels and once with the best ones
// this CPU has.
class KernelLevels : public ::testing::TestWithParam<KernelLevel> {
 protected:
  void SetUp() override { SetKernelLevelCap(GetParam()); }
  void TearDown() override { SetKernelLevelCap(KernelLevel::Avx2); }
};
INSTANTIATE_TEST_SUITE_P(Colour, KernelLevels, ::testing::Values(KernelLevel::Scalar, KernelLevel::Avx2),
                         [](const auto& info) { return info.param == KernelLevel::Scalar ? "Plain" : "Best"; });

TEST_P(KernelLevels, InputPlanesMatchReferenceOnRandomFrames) {
  const uint32_t seed = test::TestSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  ColourConverter c;
  Planes p;
  for (int n = 0; n < 150; ++n) {
    const int w = std::uniform_int_distribution<int>(1, 41)(rng), h = std::uniform_int_distribution<int>(1, 13)(rng);
    const int pad = 4 * std::uniform_int_distribution<int>(0, 3)(rng);
    TestFrame src(w, h, pad), dst(w, h, pad);
    src.FillRandom(rng);
    dst.FillRandom(rng);
    const std::vector<uint8_t> before(dst.pixel(0, 0), dst.pixel(0, 0) + dst.desc().RowBytes * h);
    const TSpecs s = RandomSpecs(rng);
    const bool inSetup = n % 3 == 0;
    bool changed = true;
    SCOPED_TRACE("frame " + std::to_string(n) + ": " + std::to_string(w) + " x " + std::to_string(h));
    ASSERT_TRUE(c.Input(src.desc(), dst.desc(), s, inSetup, changed, p.y, p.u, p.v));
    EXPECT_FALSE(changed);

    const int mode = RefMode(s.ProcMode, w, h);
    const RefPlanes ref = RefInput(src, RefBuild(s, RefNeutral(s, inSetup)), mode);
    ASSERT_EQ(p.y.Width(), w);
    ASSERT_EQ(p.y.Height(), h);
    ASSERT_EQ(p.y.Depth(), 1);
    ASSERT_EQ(p.u.Width(), ref.cw);
    ASSERT_EQ(p.u.Height(), ref.ch);
    ASSERT_EQ(p.v.Depth(), 2);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        ASSERT_EQ(test::Sample(p.y, x, y), ref.y[y * w + x]) << x << "," << y;
        // Only the fourth byte of each destination pixel changes.
        const size_t at = static_cast<size_t>(y) * dst.desc().RowBytes + 4 * x;
        for (int k = 0; k < 3; ++k) ASSERT_EQ(dst.pixel(x, y)[k], before[at + k]);
        ASSERT_EQ(dst.pixel(x, y)[3], ref.fourth[y * w + x]);
      }
    for (int y = 0; y < ref.ch; ++y)
      for (int x = 0; x < ref.cw; ++x) {
        ASSERT_EQ(test::Sample(p.u, x, y), ref.u[y * ref.cw + x]) << "U " << x << "," << y;
        ASSERT_EQ(test::Sample(p.v, x, y), ref.v[y * ref.cw + x]) << "V " << x << "," << y;
      }
    for (int y = 0; y < h; ++y)  // row padding untouched
      for (int k = 0; k < pad; ++k)
        ASSERT_EQ(dst.pixel(w, y)[k], before[static_cast<size_t>(y) * dst.desc().RowBytes + 4 * w + k]);
    ASSERT_TRUE(dst.GuardsIntact());
    ASSERT_TRUE(src.GuardsIntact());
  }
}

TEST(ColourInput, WorkedPixels) {
  ColourConverter c;
  Planes p;
  TSpecs s = Neutral();
  TestFrame src(4, 1), dst(4, 1);
  auto set = [&](int x, int b, int g, int r) {
    src.pixel(x, 0)[0] = static_cast<uint8_t>(b);
    src.pixel(x, 0)[1] = static_cast<uint8_t>(g);
    src.pixel(x, 0)[2] = static_cast<uint8_t>(r);
  };
  bool changed = true;
  set(0, 77, 77, 77);
  set(1, 255, 255, 255);
  set(2, 0, 0, 0);
  set(3, 200, 200, 200);
  ASSERT_TRUE(c.Input(src.desc(), dst.desc(), s, false, changed, p.y, p.u, p.v));
  EXPECT_EQ(test::Sample(p.y, 0, 0), 77);
  EXPECT_EQ(test::Sample(p.y, 1, 0), 255);
  EXPECT_EQ(test::Sample(p.y, 3, 0), 200);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(test::Sample(p.u, x, 0) | test::Sample(p.v, x, 0), 0);

  // 4:2:2 pairs: u of (100, 100, 100) is 0, of blue 99 is -1, of blue 98 is -2.
  s.ProcMode = 1;
  set(0, 99, 100, 100);
  set(1, 100, 100, 100);
  set(2, 99, 100, 100);
  set(3, 98, 100, 100);
  ASSERT_TRUE(c.Input(src.desc(), dst.desc(), s, false, changed, p.y, p.u, p.v));
  ASSERT_EQ(p.u.Width(), 2);
  EXPECT_EQ(test::Sample(p.u, 0, 0), 0);   // (-1 + 0 + 1) >> 1
  EXPECT_EQ(test::Sample(p.u, 1, 0), -1);  // (-1 - 2 + 1) >> 1
}

TEST(ColourInput, SizesThatDoNotFitTheChromaModeAreConvertedAs444) {
  EXPECT_EQ(EffectiveProcMode(1, 720, 576), 1);
  EXPECT_EQ(EffectiveProcMode(1, 721, 576), 0);
  EXPECT_EQ(EffectiveProcMode(2, 720, 575), 0);
  EXPECT_EQ(EffectiveProcMode(2, 719, 576), 0);
  EXPECT_EQ(EffectiveProcMode(2, 720, 576), 2);
  EXPECT_EQ(EffectiveProcMode(3, 722, 576), 0);
  EXPECT_EQ(EffectiveProcMode(3, 724, 577), 3);
  EXPECT_EQ(EffectiveProcMode(9, 720, 576), 0);

  std::mt19937 rng(test::TestSeed());
  TestFrame src(10, 7), dst(10, 7), dst2(10, 7);
  src.FillRandom(rng);
  TSpecs s = Neutral();
  s.Sat = 150;
  ColourConverter c;
  Planes a, b;
  bool changed = true;
  s.ProcMode = 2;  // height 7 is odd
  ASSERT_TRUE(c.Input(src.desc(), dst.desc(), s, false, changed, a.y, a.u, a.v));
  s.ProcMode = 0;
  ASSERT_TRUE(c.Input(src.desc(), dst.desc(), s, false, changed, b.y, b.u, b.v));
  EXPECT_EQ(a.u.Width(), 10);
  EXPECT_EQ(a.u.Height(), 7);
  EXPECT_TRUE(test::PlanesEqual(a.u, b.u)) << test::FirstDifference(a.u, b.u);
  EXPECT_TRUE(test::PlanesEqual(a.v, b.v));
  s.ProcMode = 2;
  ASSERT_TRUE(c.Output(a.y, a.u, a.v, dst.desc(), s, nullptr));
  s.ProcMode = 0;
  ASSERT_TRUE(c.Output(b.y, b.u, b.v, dst2.desc(), s, nullptr));
  for (int y = 0; y < 7; ++y) EXPECT_EQ(std::memcmp(dst.pixel(0, y), dst2.pixel(0, y), 3), 0);
}

TEST(ColourInput, ChangedFlagControlsRebuildAndNeutralAlwaysRebuilds) {
  TestFrame src(4, 2), dst(4, 2);
  ColourConverter c;
  Planes p;
  TSpecs s = Neutral();
  s.Lift = 20;
  bool changed = false;
  ASSERT_TRUE(c.Input(src.desc(), dst.desc(), s, false, changed, p.y, p.u, p.v));  // first call always builds
  EXPECT_EQ(c.RedTable()[0], 20);

  s.Lift = 40;  // unchanged flag: the tables stay
  ASSERT_TRUE(c.Input(src.desc(), dst.desc(), s, false, changed, p.y, p.u, p.v));
  EXPECT_EQ(c.RedTable()[0], 20);
  changed = true;
  ASSERT_TRUE(c.Input(src.desc(), dst.desc(), s, false, changed, p.y, p.u, p.v));
  EXPECT_FALSE(changed);
  EXPECT_EQ(c.RedTable()[0], 40);

  // Bypass in the dialog: neutral tables on every call, whatever the flag.
  s.Bypass = 1;
  ASSERT_TRUE(c.Input(src.desc(), dst.desc(), s, true, changed, p.y, p.u, p.v));
  EXPECT_EQ(c.RedTable()[0], 0);
  // Bypass outside the dialog and without monitor-only mode is not neutral,
  // and tables built neutral are never reused for a normal render.
  ASSERT_TRUE(c.Input(src.desc(), dst.desc(), s, false, changed, p.y, p.u, p.v));
  EXPECT_EQ(c.RedTable()[0], 40);
  s.TestSignal = 1;
  ASSERT_TRUE(c.Input(src.desc(), dst.desc(), s, false, changed, p.y, p.u, p.v));
  EXPECT_EQ(c.RedTable()[0], 0);
  s.Bypass = 0;
  s.TestSignal = 4;
  ASSERT_TRUE(c.Input(src.desc(), dst.desc(), s, false, changed, p.y, p.u, p.v));
  EXPECT_EQ(c.RedTable()[0], 0);
  EXPECT_TRUE(ColourConverter::IsNeutral(s, false));
  s.TestSignal = 1;
  EXPECT_FALSE(ColourConverter::IsNeutral(s, true));
}

TEST(ColourInput, RefusesFramesItCannotRead) {
  ColourConverter c;
  Planes p;
  TSpecs s = Neutral();
  bool changed = true;
  TestFrame small(4, 2), big(5, 2);
  EXPECT_FALSE(c.Input(small.desc(), big.desc(), s, false, changed, p.y, p.u, p.v));
  EXPECT_FALSE(changed);
  EXPECT_FALSE(p.y.HasBuffer());
  TestFrame narrowStride(4, 2), wideStride(4, 2, 8);
  EXPECT_FALSE(c.Input(narrowStride.desc(), wideStride.desc(), s, false, changed, p.y, p.u, p.v));
  TPixBuffer none = small.desc();
  none.Pixels = nullptr;
  EXPECT_FALSE(c.Input(none, small.desc(), s, false, changed, p.y, p.u, p.v));
  EXPECT_TRUE(small.GuardsIntact());
  EXPECT_TRUE(big.GuardsIntact());
}

// ---------------------------------------------------------------------------

TEST(ColourOutput, DivideBy150IsExactOverTheWholeNumeratorRange) {
  for (int32_t n = 0; n <= 65535; ++n) ASSERT_EQ(DivideBy150(n), n / 150) << n;
}

TEST_P(KernelLevels, OutputMatchesReferenceOnRandomPlanesWithSinkOrder) {
  const uint32_t seed = test::TestSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  ColourConverter c;
  for (int n = 0; n < 150; ++n) {
    const int w = std::uniform_int_distribution<int>(1, 37)(rng), h = std::uniform_int_distribution<int>(1, 11)(rng);
    const int pad = 4 * std::uniform_int_distribution<int>(0, 2)(rng);
    TSpecs s = RandomSpecs(rng);
    const int mode = RefMode(s.ProcMode, w, h);
    Planes p;
    p.y.SetSize(w, h, 1);
    const int cw = mode == 0 ? w : mode == 3 ? w / 4 : w / 2;
    p.u.SetSize(cw, mode == 2 ? h / 2 : h, 2);
    p.v.SizeLike(p.u);
    test::FillRandom(p.y, rng);
    const int spread = n % 2 ? 600 : 32768;  // typical differences, then the whole 16-bit range
    test::FillRandom(p.u, rng, -spread, spread - 1, n % 2 == 0);
    test::FillRandom(p.v, rng, -spread, spread - 1, n % 2 == 0);
    TestFrame got(w, h, pad), want(w, h, pad);
    got.FillRandom(rng);
    std::memcpy(want.pixel(0, 0), got.pixel(0, 0), static_cast<size_t>(got.desc().RowBytes) * h);
    SCOPED_TRACE("frame " + std::to_string(n) + ": " + std::to_string(w) + " x " + std::to_string(h) +
                 " mode " + std::to_string(mode));
    const std::vector<Visit> wantVisits = RefOutput(p.y, p.u, p.v, want, s, mode);
    RecordingSink sink;
    ASSERT_TRUE(c.Output(p.y, p.u, p.v, got.desc(), s, n % 3 ? nullptr : &sink));
    for (int y = 0; y < h; ++y)  // fourth byte and padding included
      ASSERT_EQ(std::memcmp(got.pixel(0, y), want.pixel(0, y), got.desc().RowBytes), 0) << "row " << y;
    if (n % 3 == 0) {
      ASSERT_TRUE(sink.visits == wantVisits);
    }
    ASSERT_TRUE(got.GuardsIntact());
  }
}

TEST(ColourOutput, RefusesPlanesThatDoNotFitTheFrame) {
  ColourConverter c;
  TSpecs s = Neutral();
  s.ProcMode = 1;
  Planes p;
  p.y.SetSize(8, 2, 1);
  p.u.SetSize(8, 2, 2);  // 4:4:4 planes for a 4:2:2 record
  p.v.SetSize(8, 2, 2);
  TestFrame f(8, 2);
  EXPECT_FALSE(c.Output(p.y, p.u, p.v, f.desc(), s, nullptr));
  s.ProcMode = 0;
  EXPECT_TRUE(c.Output(p.y, p.u, p.v, f.desc(), s, nullptr));
  TestFrame wider(9, 2);
  EXPECT_FALSE(c.Output(p.y, p.u, p.v, wider.desc(), s, nullptr));
  EXPECT_TRUE(wider.GuardsIntact());
}

TEST_P(KernelLevels, RoundTripGreyAndSaturationZeroAndClipLevels) {
  std::mt19937 rng(test::TestSeed());
  SCOPED_TRACE("seed " + std::to_string(test::TestSeed()));
  ColourConverter c;
  Planes p;
  TestFrame src(16, 16, 4), dst(16, 16, 4);
  src.FillRandom(rng);
  bool changed = true;

  // Sat 0: every pixel leaves with R = G = B = its level.
  TSpecs s = Neutral();
  s.Sat = 0;
  for (int mode = 0; mode < 4; ++mode) {
    s.ProcMode = static_cast<int16_t>(mode);
    changed = true;
    ASSERT_TRUE(c.Input(src.desc(), dst.desc(), s, false, changed, p.y, p.u, p.v));
    ASSERT_TRUE(c.Output(p.y, p.u, p.v, dst.desc(), s, nullptr));
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        const uint8_t* d = dst.pixel(x, y);
        ASSERT_EQ(d[0], test::Sample(p.y, x, y));
        ASSERT_EQ(d[1], d[0]);
        ASSERT_EQ(d[2], d[0]);
        ASSERT_EQ(d[3], src.pixel(x, y)[3]);
      }
  }

  // Neutral greys come back unchanged; with Vmin 16 and Vmax 235 they are
  // clipped to 16..235.
  for (int x = 0; x < 16; ++x)
    for (int y = 0; y < 16; ++y) std::memset(src.pixel(x, y), (x * 16 + y) & 0xFF, 3);
  s = Neutral();
  for (auto [vmin, vmax] : {std::pair{0, 255}, std::pair{16, 235}}) {
    s.Vmin = static_cast<int16_t>(vmin);
    s.Vmax = static_cast<int16_t>(vmax);
    changed = true;
    ASSERT_TRUE(c.Input(src.desc(), dst.desc(), s, false, changed, p.y, p.u, p.v));
    ASSERT_TRUE(c.Output(p.y, p.u, p.v, dst.desc(), s, nullptr));
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x)
        for (int k = 0; k < 3; ++k) ASSERT_EQ(dst.pixel(x, y)[k], std::clamp((x * 16 + y) & 0xFF, vmin, vmax));
  }
}

TEST(ColourRoundTrip, EmptyRangeWritesVminEverywhereAndStaysInBounds) {
  std::mt19937 rng(test::TestSeed());
  ColourConverter c;
  Planes p;
  TestFrame src(8, 4, 4), dst(8, 4, 4);
  src.FillRandom(rng);
  TSpecs s = Neutral();
  s.Vmin = 240;
  s.Vmax = 30;
  s.Sat = 200;
  bool changed = true;
  ASSERT_TRUE(c.Input(src.desc(), dst.desc(), s, false, changed, p.y, p.u, p.v));
  test::FillRandom(p.y, rng);  // whatever the stages between leave behind
  test::FillRandom(p.u, rng);
  ASSERT_TRUE(c.Output(p.y, p.u, p.v, dst.desc(), s, nullptr));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x)
      for (int k = 0; k < 3; ++k) ASSERT_EQ(dst.pixel(x, y)[k], 240);
  EXPECT_TRUE(dst.GuardsIntact());
}

TEST(ColourKernels, VectorMatchesPlainBitForBit) {
  SetKernelLevelCap(KernelLevel::Avx2);
  if (ActiveKernelLevel() < KernelLevel::Avx2) GTEST_SKIP() << "no AVX2 on this CPU";
  const uint32_t seed = test::TestSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  auto in = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  ColourConverter c;
  for (int n = 0; n < 60; ++n) {
    const int w = in(16, 260), h = in(1, 12), pad = 4 * in(0, 3);
    TSpecs s = RandomSpecs(rng);
    s.ProcMode = static_cast<int16_t>(n % 4);
    if (n % 5 == 0) s.Sat = static_cast<int16_t>(in(-32768, 32767));  // chroma table clamped
    TestFrame src(w, h, pad), plainDst(w, h, pad), vectorDst(w, h, pad);
    src.FillRandom(rng);
    plainDst.FillRandom(rng);
    std::memcpy(vectorDst.pixel(0, 0), plainDst.pixel(0, 0), static_cast<size_t>(h) * plainDst.desc().RowBytes);
    Planes a, b;
    bool changed = true;
    SCOPED_TRACE("frame " + std::to_string(n) + ": " + std::to_string(w) + " x " + std::to_string(h));
    SetKernelLevelCap(KernelLevel::Scalar);
    ASSERT_TRUE(c.Input(src.desc(), plainDst.desc(), s, false, changed, a.y, a.u, a.v));
    SetKernelLevelCap(KernelLevel::Avx2);
    ASSERT_TRUE(c.Input(src.desc(), vectorDst.desc(), s, false, changed, b.y, b.u, b.v));
    ASSERT_TRUE(test::PlanesEqual(a.y, b.y)) << test::FirstDifference(a.y, b.y);
    ASSERT_TRUE(test::PlanesEqual(a.u, b.u)) << test::FirstDifference(a.u, b.u);
    ASSERT_TRUE(test::PlanesEqual(a.v, b.v)) << test::FirstDifference(a.v, b.v);
    ASSERT_EQ(std::memcmp(plainDst.pixel(0, 0), vectorDst.pixel(0, 0), static_cast<size_t>(h) * src.desc().RowBytes), 0);

    // Output from arbitrary planes, extremes of the 16-bit range included.
    test::FillRandom(a.y, rng);
    test::FillRandom(a.u, rng);
    test::FillRandom(a.v, rng);
    SetKernelLevelCap(KernelLevel::Scalar);
    ASSERT_TRUE(c.Output(a.y, a.u, a.v, plainDst.desc(), s, nullptr));
    SetKernelLevelCap(KernelLevel::Avx2);
    ASSERT_TRUE(c.Output(a.y, a.u, a.v, vectorDst.desc(), s, nullptr));
    ASSERT_EQ(std::memcmp(plainDst.pixel(0, 0), vectorDst.pixel(0, 0), static_cast<size_t>(h) * src.desc().RowBytes), 0);
    ASSERT_TRUE(vectorDst.GuardsIntact());
  }
}

}  // namespace
}  // namespace tarvo
