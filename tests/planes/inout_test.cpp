#include "planes/inout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "host/colour_settings.h"
#include "types/specs.h"
#include "planes/inout_kernels.h"
#include "support/test_support.h"
#include "util/cpu_features.h"

namespace tarvo {
namespace {

using test::TestFrame;

// ---------------------------------------------------------------------------
// A slow reference written straight from the conversion rules: long double
// throughout, no merged tables, per-chroma-sample loops in visiting order.

int RefVmin(const TSpecs& s) { return std::clamp<int>(s.Vmin, 0, 255); }
int RefRange(const TSpecs& s) { return std::max(std::clamp<int>(s.Vmax, 0, 255) - RefVmin(s), 0); }

struct RefTables {
  std::array<int, 256> level[3];  // red, green, blue
  std::array<int, 256> chroma;
};

RefTables RefBuild(const TSpecs& s, bool neutral) {
  RefTables t{};
  const long double vmin = RefVmin(s), range = RefRange(s), vblack = s.Vblack;
  const long double wspan = (static_cast<long double>(s.Vwhite) - s.Vblack) * 256;
  const int lifts[3] = {s.RLift, s.GLift, s.BLift}, gains[3] = {s.RGain, s.GGain, s.BGain};
  const int gammas[3] = {s.RGamma, s.GGamma, s.BGamma};
  const long double knee = neutral ? range - (vblack - vmin) : nearbyintl(range * s.Knee * 0.01L) - (vblack - vmin);
  const long double slope = neutral ? 1.0L : s.Slope * 0.01L;
  for (int ch = 0; ch < 3; ++ch) {
    const long double lift = neutral ? 0 : s.Lift + lifts[ch];
    const long double gain = neutral ? 256 : nearbyintl(static_cast<long double>(s.Gain) * gains[ch] * 256 * 0.0001L);
    long double gamma = std::clamp(powl(10.0L, (s.Gamma + gammas[ch]) * 0.01L), 0.1L, 10.0L);
    if (neutral || wspan <= 0) gamma = 1.0L;  // no white span: straight line through black
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
      t.level[ch][i] = static_cast<int>(v <= 0 ? 0 : v >= range ? range : v);
    }
  }
  const long double sat = neutral ? 256.0L : nearbyintl(s.Sat * 256 * 0.01L);
  for (int i = 0; i < 256; ++i) t.chroma[i] = static_cast<int>(nearbyintl(sat * i / 256.0L));
  return t;
}

bool RefNeutral(const TSpecs& s, bool inSetup) {
  return ((inSetup || s.TestSignal == 1) && s.Bypass > 0) || s.TestSignal > 1;
}

// The record's mode when the frame divides into whole chroma samples, else 4:4:4.
int RefMode(int procMode, int w, int h) {
  if ((procMode == 1 && w % 2 == 0) || (procMode == 2 && w % 2 == 0 && h % 2 == 0) || (procMode == 3 && w % 4 == 0))
    return procMode;
  return 0;
}

// Pixels sharing chroma sample (cx, cy), in visiting order.
std::vector<std::pair<int, int>> RefBlock(int mode, int cx, int cy) {
  if (mode == 0) return {{cx, cy}};
  if (mode == 1) return {{2 * cx, cy}, {2 * cx + 1, cy}};
  if (mode == 2) return {{2 * cx, 2 * cy}, {2 * cx, 2 * cy + 1}, {2 * cx + 1, 2 * cy + 1}, {2 * cx + 1, 2 * cy}};
  return {{4 * cx, cy}, {4 * cx + 1, cy}, {4 * cx + 2, cy}, {4 * cx + 3, cy}};
}
int RefChromaWidth(int mode, int w) { return mode == 0 ? w : mode == 3 ? w / 4 : w / 2; }
int RefChromaHeight(int mode, int h) { return mode == 2 ? h / 2 : h; }

struct RefPlanes {
  std::vector<int> y, u, v;
};

RefPlanes RefInput(TestFrame& src, const RefTables& t, int mode) {
  const int w = src.width(), cw = RefChromaWidth(mode, w), ch = RefChromaHeight(mode, src.height());
  RefPlanes p{std::vector<int>(w * src.height()), std::vector<int>(cw * ch), std::vector<int>(cw * ch)};
  for (int cy = 0; cy < ch; ++cy)
    for (int cx = 0; cx < cw; ++cx) {
      const auto block = RefBlock(mode, cx, cy);
      int su = 0, sv = 0;
      for (auto [x, y] : block) {
        const uint8_t* px = src.pixel(x, y);
        const int b = t.level[2][px[0]], g = t.level[1][px[1]], r = t.level[0][px[2]];
        const int lum = (77 * r + 150 * g + 29 * b + 128) / 256;
        p.y[y * w + x] = lum;
        su += t.chroma[b] - t.chroma[lum];
        sv += t.chroma[r] - t.chroma[lum];
      }
      const double n = static_cast<double>(block.size());  // averages round half up
      p.u[cy * cw + cx] = static_cast<int>(std::floor((su + n / 2) / n));
      p.v[cy * cw + cx] = static_cast<int>(std::floor((sv + n / 2) / n));
    }
  return p;
}

struct Visit {
  int level, u, v, column;
  bool operator==(const Visit&) const = default;
};

// Writes bytes 0..2 of every pixel of dst; returns the visits in order.
std::vector<Visit> RefOutput(const TChannel& y, const TChannel& u, const TChannel& v, TestFrame& dst, const TSpecs& s,
                             int mode) {
  const int vmin = RefVmin(s), range = RefRange(s);
  std::vector<Visit> visits;
  for (int cy = 0; cy < u.Height(); ++cy)
    for (int cx = 0; cx < u.Width(); ++cx) {
      const int cu = test::Sample(u, cx, cy), cv = test::Sample(v, cx, cy);
      for (auto [x, row] : RefBlock(mode, cx, cy)) {
        const int lum = test::Sample(y, x, row);
        const int b = std::clamp(lum + cu, 0, range), r = std::clamp(lum + cv, 0, range);
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

struct RecordingSink : MonitorSink {
  void Accumulate(int32_t level, int32_t u, int32_t v, int32_t column) override {
    visits.push_back({level, u, v, column});
  }
  std::vector<Visit> visits;
};

// ---------------------------------------------------------------------------

struct Planes {
  TChannel y, u, v;
};

TSpecs Neutral() {
  TSpecs s = BuiltInDefaultSpecs();
  s.Vmin = s.Vblack = 0;
  s.Vmax = s.Vwhite = 255;
  return s;
}

TSpecs RandomSpecs(std::mt19937& rng) {
  auto in = [&](int lo, int hi) { return static_cast<int16_t>(std::uniform_int_distribution<int>(lo, hi)(rng)); };
  TSpecs s = BuiltInDefaultSpecs();
  const bool anywhere = in(0, 9) == 0;  // white below black and empty ranges included
  s.Vmin = anywhere ? in(0, 255) : in(0, 40);
  s.Vmax = anywhere ? in(0, 255) : in(200, 255);
  s.Vblack = anywhere ? in(0, 255) : in(0, 64);
  s.Vwhite = anywhere ? in(0, 255) : in(180, 255);
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

bool SameTable(const uint8_t* a, const uint8_t* b) { return std::equal(a, a + 256, b); }

TEST(ColourTables, MatchReferenceForRandomRecords) {
  const uint32_t seed = test::TestSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  ColourConverter c;
  for (int n = 0; n < 3000; ++n) {
    const TSpecs s = RandomSpecs(rng);
    c.BuildTables(ColourSettingsOf(s, false), n % 5 == 0);
    const RefTables t = RefBuild(s, n % 5 == 0);
    const uint8_t* got[3] = {c.RedTable(), c.GreenTable(), c.BlueTable()};
    for (int i = 0; i < 256; ++i) {
      for (int ch = 0; ch < 3; ++ch) ASSERT_EQ(got[ch][i], t.level[ch][i]) << "record " << n << " channel " << ch;
      ASSERT_EQ(c.ChromaTable()[i], t.chroma[i]) << "record " << n;
    }
  }
}

TEST(ColourTables, WorkedSettings) {
  ColourConverter c;
  TSpecs s = Neutral();
  s.Vmin = 16;
  s.Vmax = 235;
  s.Lift = 50;  // neutral tables ignore every correction
  c.BuildTables(ColourSettingsOf(s, false), true);
  for (int i = 0; i < 256; ++i)
    ASSERT_EQ(c.RedTable()[i] * 1000 + c.ChromaTable()[i], std::clamp(i - 16, 0, 219) * 1000 + i);

  s = Neutral();
  s.Lift = 10;
  c.BuildTables(ColourSettingsOf(s, false), false);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(c.RedTable()[i], std::min(i + 10, 255)) << i;

  s = Neutral();
  s.Gain = 0;
  s.Sat = 0;
  s.Vblack = 16;
  s.Vwhite = 235;
  c.BuildTables(ColourSettingsOf(s, false), false);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(c.GreenTable()[i] * 1000 + c.ChromaTable()[i], 16000) << i;

  s = Neutral();
  s.Knee = 50;
  s.Slope = 0;
  c.BuildTables(ColourSettingsOf(s, false), false);
  EXPECT_EQ(*std::max_element(c.BlueTable(), c.BlueTable() + 256), 128);  // rnd(127.5), halves to even
  EXPECT_EQ(c.BlueTable()[127], 127);

  s = Neutral();
  s.Vmin = 200;
  s.Vmax = 100;  // empty range: every level 0, written as Vmin
  s.Gain = 800;
  c.BuildTables(ColourSettingsOf(s, false), false);
  EXPECT_EQ(*std::max_element(c.RedTable(), c.RedTable() + 256), 0);
  EXPECT_EQ(OutputLevelsOf(ColourSettingsOf(s, false)).range, 0);
  EXPECT_EQ(OutputLevelsOf(ColourSettingsOf(s, false)).vmin, 200);
}

TEST(ColourTables, GammaIsLimitedAndMeetsBlackAndWhite) {
  ColourConverter c;
  TSpecs s = Neutral();
  for (int bar : {100, -100}) {
    // Bars at +100: exponents 10^-2 and 10^-1.5, both limited to 0.1;
    // at -100: 100 and 10^1.5, both limited to 10.
    s.Gamma = s.RGamma = static_cast<int16_t>(-bar);
    s.GGamma = static_cast<int16_t>(-bar / 2);
    c.BuildTables(ColourSettingsOf(s, false), false);
    EXPECT_TRUE(SameTable(c.RedTable(), c.GreenTable())) << bar;
    EXPECT_EQ(c.RedTable()[128], bar > 0 ? 238 : 0);  // 32768^0.1 * 65280^0.9 / 256 = 238.02; 0.26
  }
  s = Neutral();
  s.Vblack = 16;
  s.Vwhite = 235;
  for (int gamma = -100; gamma <= 100; gamma += 10) {
    s.BGamma = static_cast<int16_t>(gamma);
    c.BuildTables(ColourSettingsOf(s, false), false);
    EXPECT_EQ(c.BlueTable()[235], 235) << gamma;
    EXPECT_EQ(c.BlueTable()[16], 16) << gamma;
  }
}

TEST(ColourTables, WhiteAtOrBelowBlackBuildsEveryGammaAsOne) {
  std::mt19937 rng(test::TestSeed());
  SCOPED_TRACE("seed " + std::to_string(test::TestSeed()));
  ColourConverter c, linear;
  for (int n = 0; n < 200; ++n) {
    TSpecs s = RandomSpecs(rng);
    s.Vblack = static_cast<int16_t>(std::uniform_int_distribution<int>(0, 255)(rng));
    s.Vwhite = static_cast<int16_t>(n % 2 ? s.Vblack : std::uniform_int_distribution<int>(0, s.Vblack)(rng));
    TSpecs flat = s;
    flat.Gamma = flat.RGamma = flat.GGamma = flat.BGamma = 0;
    c.BuildTables(ColourSettingsOf(s, false), false);
    linear.BuildTables(ColourSettingsOf(flat, false), false);
    ASSERT_TRUE(SameTable(c.RedTable(), linear.RedTable()) && SameTable(c.GreenTable(), linear.GreenTable()) &&
                SameTable(c.BlueTable(), linear.BlueTable()));
  }
  TSpecs s = Neutral();
  s.Vblack = s.Vwhite = 20;
  s.Gamma = 60;
  c.BuildTables(ColourSettingsOf(s, false), false);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(c.RedTable()[i], i);  // unity gain, no lift: the identity
}

// ---------------------------------------------------------------------------

TEST(ColourInput, PlanesMatchReferenceOnRandomFramesAndTheDestinationIsNotWritten) {
  const uint32_t seed = test::TestSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  ColourConverter c;
  Planes p;
  for (int n = 0; n < 200; ++n) {
    const int w = std::uniform_int_distribution<int>(1, 41)(rng), h = std::uniform_int_distribution<int>(1, 13)(rng);
    const int pad = 4 * std::uniform_int_distribution<int>(0, 3)(rng);
    TestFrame src(w, h, pad), dst(w, h, pad);
    src.FillRandom(rng);
    dst.FillRandom(rng);
    std::vector<uint8_t> want(dst.pixel(0, 0), dst.pixel(0, h));
    const TSpecs s = RandomSpecs(rng);
    const bool inSetup = n % 3 == 0;
    bool changed = true;
    SCOPED_TRACE("frame " + std::to_string(n) + ": " + std::to_string(w) + " x " + std::to_string(h));
    ASSERT_TRUE(c.Input(src.desc(), dst.desc(), ColourSettingsOf(s, inSetup), changed, p.y, p.u, p.v));
    EXPECT_FALSE(changed);

    const int mode = RefMode(s.ProcMode, w, h);
    const RefPlanes ref = RefInput(src, RefBuild(s, RefNeutral(s, inSetup)), mode);
    const int cw = RefChromaWidth(mode, w), ch = RefChromaHeight(mode, h);
    ASSERT_TRUE(p.y.Width() == w && p.y.Height() == h && p.y.Depth() == 1);
    ASSERT_TRUE(p.u.Width() == cw && p.u.Height() == ch && p.u.Depth() == 2);
    ASSERT_TRUE(p.v.Width() == cw && p.v.Height() == ch && p.v.Depth() == 2);
    for (int i = 0; i < w * h; ++i) ASSERT_EQ(p.y.Data()[i], ref.y[i]) << "Y at " << i;
    for (int i = 0; i < cw * ch; ++i)
      ASSERT_EQ(p.u.Data16()[i] * 100000 + p.v.Data16()[i], ref.u[i] * 100000 + ref.v[i]);
    // The destination only gives the size; the fourth bytes are the output
    // conversion's to copy.
    ASSERT_TRUE(std::equal(want.begin(), want.end(), dst.pixel(0, 0)));
    ASSERT_TRUE(dst.GuardsIntact() && src.GuardsIntact());
  }
}

TEST(ColourInput, WorkedPixelsAndChromaPairs) {
  ColourConverter c;
  Planes p;
  TSpecs s = Neutral();
  TestFrame src(4, 1), dst(4, 1);
  const int pixels[2][4][3] = {{{77, 77, 77}, {255, 255, 255}, {0, 0, 0}, {200, 200, 200}},
                               {{99, 100, 100}, {100, 100, 100}, {99, 100, 100}, {98, 100, 100}}};
  for (int mode : {0, 1}) {
    for (int x = 0; x < 4; ++x)
      for (int k = 0; k < 3; ++k) src.pixel(x, 0)[k] = static_cast<uint8_t>(pixels[mode][x][k]);
    s.ProcMode = static_cast<int16_t>(mode);
    bool changed = true;
    ASSERT_TRUE(c.Input(src.desc(), dst.desc(), ColourSettingsOf(s, false), changed, p.y, p.u, p.v));
    if (mode == 0) {  // greys and white: Y = the code value, no colour
      for (int x = 0; x < 4; ++x) EXPECT_EQ(test::Sample(p.y, x, 0), pixels[0][x][0]);
      for (int x = 0; x < 4; ++x) EXPECT_EQ(test::Sample(p.u, x, 0) | test::Sample(p.v, x, 0), 0);
    } else {  // u of the pairs: (-1, 0) stores 0, (-1, -2) stores -1
      EXPECT_EQ(test::Sample(p.u, 0, 0), 0);
      EXPECT_EQ(test::Sample(p.u, 1, 0), -1);
    }
  }
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
}

TEST(ColourInput, ChangedFlagControlsRebuildAndNeutralAlwaysRebuilds) {
  TestFrame src(4, 2), dst(4, 2);
  ColourConverter c;
  Planes p;
  TSpecs s = Neutral();
  bool changed = false;
  auto redZeroAfter = [&](int lift, bool inSetup) {
    s.Lift = static_cast<int16_t>(lift);
    EXPECT_TRUE(c.Input(src.desc(), dst.desc(), ColourSettingsOf(s, inSetup), changed, p.y, p.u, p.v));
    EXPECT_FALSE(changed);
    return c.RedTable()[0];
  };
  EXPECT_EQ(redZeroAfter(20, false), 20);  // the first call always builds
  EXPECT_EQ(redZeroAfter(40, false), 20);  // flag clear: the tables stay
  changed = true;
  EXPECT_EQ(redZeroAfter(40, false), 40);
  s.Bypass = 1;
  EXPECT_EQ(redZeroAfter(40, true), 0);    // bypass in the dialog: neutral
  EXPECT_EQ(redZeroAfter(40, false), 40);  // outside it not; neutral tables are not kept
  s.TestSignal = 1;
  EXPECT_EQ(redZeroAfter(40, false), 0);  // monitor-only mode with bypass
  s.Bypass = 0;
  s.TestSignal = 4;
  EXPECT_EQ(redZeroAfter(40, false), 0);  // a generated test signal
}

TEST(ColourConversion, RefusesFramesAndPlanesItCannotUse) {
  ColourConverter c;
  Planes p;
  TSpecs s = Neutral();
  bool changed = true;
  TestFrame small(4, 2), big(5, 2), wideStride(4, 2, 8);
  EXPECT_FALSE(c.Input(small.desc(), big.desc(), ColourSettingsOf(s, false), changed, p.y, p.u, p.v));
  EXPECT_FALSE(c.Input(small.desc(), wideStride.desc(), ColourSettingsOf(s, false), changed, p.y, p.u, p.v));
  TPixBuffer none = small.desc();
  none.Pixels = nullptr;
  EXPECT_FALSE(c.Input(none, small.desc(), ColourSettingsOf(s, false), changed, p.y, p.u, p.v));
  EXPECT_FALSE(p.y.HasBuffer());

  s.ProcMode = 1;
  p.y.SetSize(4, 2, 1);
  p.u.SetSize(4, 2, 2);  // 4:4:4 planes for a 4:2:2 record
  p.v.SetSize(4, 2, 2);
  EXPECT_FALSE(c.Output(p.y, p.u, p.v, small.desc(), ColourSettingsOf(s, false), nullptr));
  EXPECT_FALSE(c.Output(p.y, p.u, p.v, big.desc(), ColourSettingsOf(s, false), nullptr));
  s.ProcMode = 0;
  EXPECT_TRUE(c.Output(p.y, p.u, p.v, small.desc(), ColourSettingsOf(s, false), nullptr));
  // A frame to take the fourth bytes from must pass the input's checks.
  const std::vector<uint8_t> before(small.pixel(0, 0), small.pixel(0, 2));
  TestFrame narrow(3, 2), narrowStride(4, 2);
  EXPECT_FALSE(c.Output(p.y, p.u, p.v, wideStride.desc(), ColourSettingsOf(s, false), nullptr, &narrowStride.desc()));
  EXPECT_FALSE(c.Output(p.y, p.u, p.v, small.desc(), ColourSettingsOf(s, false), nullptr, &narrow.desc()));
  EXPECT_FALSE(c.Output(p.y, p.u, p.v, small.desc(), ColourSettingsOf(s, false), nullptr, &none));
  EXPECT_TRUE(std::equal(before.begin(), before.end(), small.pixel(0, 0)));
  EXPECT_TRUE(small.GuardsIntact() && big.GuardsIntact() && wideStride.GuardsIntact());
}

// ---------------------------------------------------------------------------

TEST(ColourOutput, DivideBy150IsExactOverTheWholeNumeratorRange) {
  for (int32_t n = 0; n <= 65535; ++n) ASSERT_EQ(DivideBy150(n), n / 150) << n;
}

TEST(ColourOutput, MatchesReferenceOnRandomPlanesWithSinkOrder) {
  const uint32_t seed = test::TestSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  ColourConverter c;
  for (int n = 0; n < 200; ++n) {
    const int w = std::uniform_int_distribution<int>(1, 37)(rng), h = std::uniform_int_distribution<int>(1, 11)(rng);
    const int pad = 4 * std::uniform_int_distribution<int>(0, 2)(rng);
    const TSpecs s = RandomSpecs(rng);
    const int mode = RefMode(s.ProcMode, w, h);
    Planes p;
    p.y.SetSize(w, h, 1);
    p.u.SetSize(RefChromaWidth(mode, w), RefChromaHeight(mode, h), 2);
    p.v.SizeLike(p.u);
    test::FillRandom(p.y, rng);
    const int spread = n % 2 ? 600 : 32768;  // typical differences, then the whole 16-bit range
    test::FillRandom(p.u, rng, -spread, spread - 1, n % 2 == 0);
    test::FillRandom(p.v, rng, -spread, spread - 1, n % 2 == 0);
    TestFrame got(w, h, pad), want(w, h, pad);
    got.FillRandom(rng);
    std::memcpy(want.pixel(0, 0), got.pixel(0, 0), static_cast<size_t>(got.desc().RowBytes) * h);
    SCOPED_TRACE("frame " + std::to_string(n) + ": " + std::to_string(w) + " x " + std::to_string(h));
    const std::vector<Visit> wantVisits = RefOutput(p.y, p.u, p.v, want, s, mode);
    // Fourth bytes left alone, taken from a source frame, or taken from the
    // destination itself (an in-place render: they stay).
    TestFrame from(w, h, pad);
    from.FillRandom(rng);
    const int fourth = n % 4;
    if (fourth == 1)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) want.pixel(x, y)[3] = from.pixel(x, y)[3];
    const TPixBuffer* fourthFrom = fourth == 1 ? &from.desc() : fourth == 2 ? &got.desc() : nullptr;
    RecordingSink sink;
    ASSERT_TRUE(c.Output(p.y, p.u, p.v, got.desc(), ColourSettingsOf(s, false), n % 3 ? nullptr : &sink,
                         fourthFrom));
    // Fourth bytes and row padding included.
    ASSERT_EQ(std::memcmp(got.pixel(0, 0), want.pixel(0, 0), static_cast<size_t>(got.desc().RowBytes) * h), 0);
    ASSERT_TRUE(n % 3 != 0 || sink.visits == wantVisits);
    ASSERT_TRUE(got.GuardsIntact());
  }
}

TEST(ColourRoundTrip, SaturationZeroGivesGreyAndNeutralGreysAreClipped) {
  std::mt19937 rng(test::TestSeed());
  SCOPED_TRACE("seed " + std::to_string(test::TestSeed()));
  ColourConverter c;
  Planes p;
  TestFrame src(16, 16, 4), dst(16, 16, 4);
  src.FillRandom(rng);
  TSpecs s = Neutral();
  s.Sat = 0;
  for (int mode = 0; mode < 4; ++mode) {
    s.ProcMode = static_cast<int16_t>(mode);
    bool changed = true;
    ASSERT_TRUE(c.Input(src.desc(), dst.desc(), ColourSettingsOf(s, false), changed, p.y, p.u, p.v));
    ASSERT_TRUE(c.Output(p.y, p.u, p.v, dst.desc(), ColourSettingsOf(s, false), nullptr, &src.desc()));
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        const uint8_t* d = dst.pixel(x, y);
        const int lum = test::Sample(p.y, x, y);
        ASSERT_TRUE(d[0] == lum && d[1] == lum && d[2] == lum && d[3] == src.pixel(x, y)[3]) << mode;
      }
  }
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) std::memset(src.pixel(x, y), x * 16 + y, 3);
  s = Neutral();
  for (auto [vmin, vmax] : {std::pair{0, 255}, std::pair{16, 235}}) {
    s.Vmin = static_cast<int16_t>(vmin);
    s.Vmax = static_cast<int16_t>(vmax);
    bool changed = true;
    ASSERT_TRUE(c.Input(src.desc(), dst.desc(), ColourSettingsOf(s, false), changed, p.y, p.u, p.v));
    ASSERT_TRUE(c.Output(p.y, p.u, p.v, dst.desc(), ColourSettingsOf(s, false), nullptr));
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x)
        for (int k = 0; k < 3; ++k) ASSERT_EQ(dst.pixel(x, y)[k], std::clamp(x * 16 + y, vmin, vmax));
  }
}

}  // namespace
}  // namespace tarvo
