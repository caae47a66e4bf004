// Point-and-click balance: the sampled block, the four computations with
// their worked numbers, the failure cases and the clicks that change nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "types/specs.h"
#include "ui/logic/balance.h"

namespace tarvo::ui {
namespace {

using Action = BalanceResult::Action;

// A frame of 4-byte pixels (blue, green, red, fourth) filled with one colour.
struct Frame {
  int32_t w, h, stride;
  std::vector<uint8_t> bytes;
  TPixBuffer buf{};

  Frame(int32_t width = 240, int32_t height = 180, int32_t extraRowBytes = 0)
      : w(width), h(height), stride(width * 4 + extraRowBytes), bytes(static_cast<size_t>(stride) * height, 0) {
    buf.Bounds = {0, 0, w, h};
    buf.RowBytes = stride;
    buf.Pixels = bytes.data();
  }
  uint8_t* At(int32_t x, int32_t y) { return bytes.data() + static_cast<size_t>(y) * stride + 4 * x; }
  void Set(int32_t x, int32_t y, int r, int g, int b) {
    uint8_t* p = At(x, y);
    p[0] = static_cast<uint8_t>(b);
    p[1] = static_cast<uint8_t>(g);
    p[2] = static_cast<uint8_t>(r);
    p[3] = 0x5A;
  }
  void Fill(int r, int g, int b) {
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) Set(x, y, r, g, b);
  }
};

TSpecs Neutral() {
  TSpecs s = BuiltInDefaultSpecs();
  s.Lift = s.RLift = s.GLift = s.BLift = 0;
  s.Gain = 100;
  s.RGain = s.GGain = s.BGain = 100;
  s.Gamma = s.RGamma = s.GGamma = s.BGamma = 0;
  s.Vmin = 0;
  s.TestSignal = 0;
  return s;
}

BalanceResult Click(BalanceMode mode, const Frame& src, const Frame* mon, const TSpecs& s, int32_t vblack,
                  int32_t vwhite, int32_t x = 120, int32_t y = 90) {
  BalanceInput in;
  in.mode = mode;
  in.source = &src.buf;
  in.monitor = mon ? &mon->buf : nullptr;
  in.x = x;
  in.y = y;
  in.specs = &s;
  in.vblack = vblack;
  in.vwhite = vwhite;
  return ComputeBalance(in);
}

using Positions = std::array<std::optional<int32_t>, 4>;
Positions P(int32_t a, int32_t b, int32_t c, int32_t d) { return {a, b, c, d}; }

// ---- Sampling ----

TEST(BalanceSampling, MeanRoundsHalvesToEvenNeverAndMinIsTheSmallest) {
  Frame f;
  f.Fill(0, 0, 0);
  // Red around (50, 60): 21 once, then 27 x 5 and 26 x 3 (sum 234, mean 26).
  const int reds[9] = {21, 27, 27, 27, 27, 27, 26, 26, 26};
  int i = 0;
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) f.Set(50 + dx, 60 + dy, reds[i++], 0, 200);
  const BlockSample red = SampleBlock(f.buf, 50, 60, 2);
  EXPECT_EQ(red.mean, 26);
  EXPECT_EQ(red.min, 21);
  const BlockSample blue = SampleBlock(f.buf, 50, 60, 0);
  EXPECT_EQ(blue.mean, 200);
  EXPECT_EQ(blue.min, 200);
  // 5 x 10 + 4 x 11 = 94: 10.44 rounds down; 4 x 10 + 5 x 11 = 95: 10.56 rounds up.
  i = 0;
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) f.Set(100 + dx, 100 + dy, 0, i++ < 5 ? 10 : 11, 0);
  EXPECT_EQ(SampleBlock(f.buf, 100, 100, 1).mean, 10);
  i = 0;
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) f.Set(100 + dx, 100 + dy, 0, i++ < 4 ? 10 : 11, 0);
  EXPECT_EQ(SampleBlock(f.buf, 100, 100, 1).mean, 11);
}

TEST(BalanceSampling, ClicksOnTheEdgesSampleTheBlockOnePixelInside) {
  // Every pixel distinct, with a row stride longer than the row.
  Frame f(240, 180, 64);
  for (int32_t y = 0; y < f.h; ++y)
    for (int32_t x = 0; x < f.w; ++x) f.Set(x, y, (x * 7 + y * 13) & 255, (x * 3 + y) & 255, (x + y * 5) & 255);
  auto same = [&](int32_t x, int32_t y, int32_t ix, int32_t iy) {
    for (int b = 0; b < 3; ++b) {
      const BlockSample got = SampleBlock(f.buf, x, y, b);
      const BlockSample want = SampleBlock(f.buf, ix, iy, b);
      EXPECT_EQ(got.mean, want.mean) << x << "," << y << " byte " << b;
      EXPECT_EQ(got.min, want.min) << x << "," << y << " byte " << b;
    }
  };
  same(0, 0, 1, 1);
  same(239, 179, 238, 178);
  same(0, 90, 1, 90);
  same(239, 90, 238, 90);
  same(120, 0, 120, 1);
  same(120, 179, 120, 178);
  same(-40, 5000, 1, 178);
  // The inner block at (1, 1) is the top-left 3 x 3 of the frame.
  int sum = 0, least = 255;
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) {
      sum += f.At(x, y)[2];
      least = std::min<int>(least, f.At(x, y)[2]);
    }
  EXPECT_EQ(SampleBlock(f.buf, 0, 0, 2).mean, static_cast<int>(std::lround(sum / 9.0)));
  EXPECT_EQ(SampleBlock(f.buf, 0, 0, 2).min, least);
}

// ---- Black balance ----

// A block whose three channels have mean `mean` and, in red, the minimum
// mean - spread (spread 5 or 20).
void BlackSpot(Frame& f, int mean, int spread) {
  f.Fill(mean, mean, mean);
  // Nine reds summing to 9 x mean with one at mean - spread.
  std::vector<int> reds = {mean - spread};
  int rest = 9 * mean - (mean - spread);
  for (int k = 8; k > 0; --k) {
    const int v = rest / k;
    reds.push_back(v);
    rest -= v;
  }
  int i = 0;
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) f.Set(120 + dx, 90 + dy, reds[static_cast<size_t>(i++)], mean, mean);
}

TEST(BlackBalance, SpotTenAboveBlackWithSmallAndLargeSpread) {
  Frame f;
  TSpecs s = Neutral();
  // The current lifts play no part.
  s.Lift = 30;
  s.RLift = -20;
  s.GLift = 7;
  s.BLift = 55;
  s.Vmin = 0;  // headroom Vblack - Vmin = 16
  BlackSpot(f, 26, 5);
  BalanceResult r = Click(BalanceMode::Black, f, nullptr, s, 16, 235);
  EXPECT_EQ(r.action, Action::Computed);
  EXPECT_FALSE(r.failure);
  EXPECT_EQ(r.positions, P(-10, 0, 0, 0));
  EXPECT_FALSE(r.gainMultiplier);

  BlackSpot(f, 26, 20);
  r = Click(BalanceMode::Black, f, nullptr, s, 16, 235);
  EXPECT_FALSE(r.failure);
  EXPECT_EQ(r.positions, P(-6, 0, 0, 0));
}

TEST(BlackBalance, ChannelLiftsBeyondTheirRangeAreLimitedWithFailure) {
  Frame f;
  f.Fill(200, 0, 0);
  const TSpecs s = Neutral();
  const BalanceResult r = Click(BalanceMode::Black, f, nullptr, s, 0, 255);
  // L0 = -rnd(66.67) = -67; red 0 - 200 + 67 = -133 -> -100; green and blue 67.
  EXPECT_TRUE(r.failure);
  EXPECT_EQ(r.positions, P(-67, -100, 67, 67));
}

TEST(BlackBalance, OverallLiftBeyondRangeIsLimitedWithFailure) {
  Frame f;
  f.Fill(250, 250, 250);
  const TSpecs s = Neutral();
  const BalanceResult r = Click(BalanceMode::Black, f, nullptr, s, 0, 255);
  // L0 = -250 is limited to -100 without failure; the channels then need
  // -150 each, limited with failure.
  EXPECT_TRUE(r.failure);
  EXPECT_EQ(r.positions, P(-100, -100, -100, -100));
}

// ---- White balance ----

TEST(WhiteBalance, GreySpotAt170) {
  Frame f;
  f.Fill(170, 170, 170);
  const BalanceResult r = Click(BalanceMode::White, f, nullptr, Neutral(), 0, 255);
  EXPECT_EQ(r.action, Action::Computed);
  EXPECT_FALSE(r.failure);
  EXPECT_EQ(r.gainMultiplier, 1);
  EXPECT_EQ(r.positions, P(150, 100, 100, 100));
}

TEST(WhiteBalance, SpotBrighterThanWhiteGivesGainBelow100) {
  Frame f;
  f.Fill(250, 250, 250);
  const BalanceResult r = Click(BalanceMode::White, f, nullptr, Neutral(), 0, 200);
  EXPECT_FALSE(r.failure);
  EXPECT_EQ(r.gainMultiplier, 1);
  EXPECT_EQ(r.positions, P(80, 100, 100, 100));
}

TEST(WhiteBalance, SpotAtBlackFailsWithGain100AndChannelGainsZero) {
  Frame f;
  f.Fill(16, 16, 16);
  const BalanceResult r = Click(BalanceMode::White, f, nullptr, Neutral(), 16, 235);
  EXPECT_TRUE(r.failure);
  EXPECT_EQ(r.gainMultiplier, 1);
  EXPECT_EQ(r.positions, P(100, 0, 0, 0));
}

TEST(WhiteBalance, OverallGainsAbove200And400UseTheMultipliers) {
  Frame f;
  // 255 / 127 x 100 = 200.79 -> 201: x2 and 100.5 -> 100.
  f.Fill(127, 127, 127);
  BalanceResult r = Click(BalanceMode::White, f, nullptr, Neutral(), 0, 255);
  EXPECT_FALSE(r.failure);
  EXPECT_EQ(r.gainMultiplier, 2);
  EXPECT_EQ(r.positions, P(100, 100, 100, 100));
  // Levels 49, 69, 76: geometric mean 401.10 -> 401: x4 and 100.25 -> 100.
  f.Fill(49, 69, 76);
  r = Click(BalanceMode::White, f, nullptr, Neutral(), 0, 255);
  EXPECT_FALSE(r.failure);
  EXPECT_EQ(r.gainMultiplier, 4);
  EXPECT_EQ(r.positions, P(100, 130, 92, 84));
}

TEST(WhiteBalance, MultiplierChangesAbove200AndAbove400) {
  Frame f;
  f.Fill(100, 100, 100);
  BalanceResult r = Click(BalanceMode::White, f, nullptr, Neutral(), 0, 200);
  EXPECT_EQ(r.gainMultiplier, 1);
  EXPECT_EQ(r.positions, P(200, 100, 100, 100));
  f.Fill(50, 50, 50);
  r = Click(BalanceMode::White, f, nullptr, Neutral(), 0, 200);
  EXPECT_FALSE(r.failure);
  EXPECT_EQ(r.gainMultiplier, 2);
  EXPECT_EQ(r.positions, P(200, 100, 100, 100));
}

TEST(WhiteBalance, GainsAboveTheirLimitsFail) {
  Frame f;
  // 255 / 20: 1275 -> 800 (x4, 200) with failure; channels 12.75 x 10000 / 800 = 159.
  f.Fill(20, 20, 20);
  BalanceResult r = Click(BalanceMode::White, f, nullptr, Neutral(), 0, 255);
  EXPECT_TRUE(r.failure);
  EXPECT_EQ(r.gainMultiplier, 4);
  EXPECT_EQ(r.positions, P(200, 159, 159, 159));
  // A very red spot: blue needs more than 200 % of the overall gain.
  f.Fill(250, 120, 40);
  r = Click(BalanceMode::White, f, nullptr, Neutral(), 0, 255);
  EXPECT_TRUE(r.failure);
  ASSERT_TRUE(r.positions[3]);
  EXPECT_EQ(*r.positions[3], 200);
}

TEST(WhiteBalance, OverallGainRoundingToZeroChangesNoSlider) {
  Frame f;
  f.Fill(255, 255, 255);
  // Span 1: k = 1/255, 100 x k = 0.39 -> 0.
  const BalanceResult r = Click(BalanceMode::White, f, nullptr, Neutral(), 0, 1);
  EXPECT_EQ(r.action, Action::Computed);
  EXPECT_TRUE(r.failure);
  EXPECT_EQ(r.positions, Positions{});
  EXPECT_FALSE(r.gainMultiplier);
}

TEST(WhiteBalance, NewGainsBringTheSpotToWhite) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> level(60, 240);
  for (int n = 0; n < 200; ++n) {
    Frame f(8, 8);
    const int rgb[3] = {level(rng), level(rng), level(rng)};
    f.Fill(rgb[0], rgb[1], rgb[2]);
    TSpecs s = Neutral();
    s.Lift = static_cast<int16_t>(level(rng) % 21 - 10);
    const BalanceResult r = Click(BalanceMode::White, f, nullptr, s, 16, 235, 4, 4);
    if (r.failure) continue;
    const int32_t overall = *r.positions[0] * *r.gainMultiplier;
    for (int ch = 0; ch < 3; ++ch) {
      const int32_t g = *r.positions[1 + ch];
      const double x = (rgb[ch] + s.Lift - 16) * overall * g / 10000.0;
      // Within what rounding the two sliders can lose.
      const double tolerance = 219.0 * (0.5 / g + 0.5 * *r.gainMultiplier / overall) * 1.05;
      EXPECT_NEAR(x, 219.0, tolerance) << rgb[0] << "," << rgb[1] << "," << rgb[2];
    }
  }
}

// ---- Colour balance ----

TEST(ColourBalance, KeepsTheDisplayedLuminance) {
  Frame f;
  f.Fill(150, 120, 100);
  // Y = (77 x 150 + 150 x 120 + 29 x 100) / 256 = 126.76: k = Y / level;
  // overall rnd(104.20) = 104; channels 81, 102, 122.
  const BalanceResult r = Click(BalanceMode::Colour, f, &f, Neutral(), 0, 255);
  EXPECT_FALSE(r.failure);
  EXPECT_EQ(r.gainMultiplier, 1);
  EXPECT_EQ(r.positions, P(104, 81, 102, 122));
}

TEST(ColourBalance, ReadsTheLuminanceFromTheProcessedPicture) {
  Frame src, mon;
  src.Fill(100, 100, 100);
  mon.Fill(150, 150, 150);
  const BalanceResult r = Click(BalanceMode::Colour, src, &mon, Neutral(), 0, 255);
  EXPECT_FALSE(r.failure);
  EXPECT_EQ(r.positions, P(150, 100, 100, 100));
}

TEST(ColourBalance, NewGainsPutEachChannelOnTheDisplayedLevelThroughItsGamma) {
  Frame src, mon;
  src.Fill(150, 120, 100);
  mon.Fill(130, 130, 130);
  TSpecs s = Neutral();
  s.Gamma = 30;
  s.RGamma = -10;
  s.BGamma = 10;
  s.GLift = 5;
  const BalanceResult r = Click(BalanceMode::Colour, src, &mon, s, 16, 235);
  ASSERT_FALSE(r.failure);
  const int32_t overall = *r.positions[0] * *r.gainMultiplier;
  const int levels[3] = {150 - 16, 120 + 5 - 16, 100 - 16};
  const int gammas[3] = {s.RGamma, s.GGamma, s.BGamma};
  for (int ch = 0; ch < 3; ++ch) {
    const int32_t g = *r.positions[1 + ch];
    const double gamma = std::pow(10.0, (s.Gamma + gammas[ch]) / 100.0);
    const double x = levels[ch] * overall * g / 10000.0;
    const double out = 16 + 219 * std::pow(x / 219, gamma);
    const double tolerance = gamma * (130 - 16) * (0.5 / g + 0.5 * *r.gainMultiplier / overall) * 1.05;
    EXPECT_NEAR(out, 130.0, tolerance) << "channel " << ch;
  }
}

TEST(ColourBalance, ChannelGainOverItsLimitFailsAfterSettingTheSliders) {
  Frame f;
  f.Fill(200, 100, 50);
  const BalanceResult r = Click(BalanceMode::Colour, f, &f, Neutral(), 0, 255);
  // Y = 124.41; overall 124; blue needs 200.67.
  EXPECT_TRUE(r.failure);
  EXPECT_EQ(r.positions, P(124, 50, 100, 200));
}

TEST(ColourBalance, FailuresBeforeTheGainsChangeNothing) {
  Frame src, mon;
  src.Fill(100, 100, 100);
  mon.Fill(0, 0, 0);  // displayed at black: no gain can keep it
  BalanceResult r = Click(BalanceMode::Colour, src, &mon, Neutral(), 0, 255);
  EXPECT_TRUE(r.failure);
  EXPECT_EQ(r.positions, Positions{});
  EXPECT_FALSE(r.gainMultiplier);
  // A channel at exactly black: division fault.
  src.Fill(100, 0, 100);
  mon.Fill(100, 100, 100);
  r = Click(BalanceMode::Colour, src, &mon, Neutral(), 0, 255);
  EXPECT_TRUE(r.failure);
  EXPECT_EQ(r.positions, Positions{});
  // Displayed below black with a gamma: a power of a negative number.
  src.Fill(100, 100, 100);
  mon.Fill(5, 5, 5);
  TSpecs s = Neutral();
  s.Gamma = 20;
  r = Click(BalanceMode::Colour, src, &mon, s, 16, 235);
  EXPECT_TRUE(r.failure);
  EXPECT_EQ(r.positions, Positions{});
}

// ---- Gamma balance ----

TEST(GammaBalance, GreySpotGetsOneOverallGamma) {
  Frame src, mon;
  src.Fill(64, 64, 64);
  mon.Fill(128, 128, 128);
  // gamma = log10(128/255) / log10(64/255) = 0.4986; d = rnd(-30.23) = -30.
  const BalanceResult r = Click(BalanceMode::Gamma, src, &mon, Neutral(), 0, 255);
  EXPECT_FALSE(r.failure);
  EXPECT_EQ(r.positions, P(30, 0, 0, 0));
}

TEST(GammaBalance, ColouredSpotSplitsIntoOverallAndChannelGammas) {
  Frame src, mon;
  src.Fill(80, 64, 40);
  mon.Fill(128, 128, 128);
  const BalanceResult r = Click(BalanceMode::Gamma, src, &mon, Neutral(), 0, 255);
  EXPECT_FALSE(r.failure);
  EXPECT_EQ(r.positions, P(32, -9, -2, 11));
  // The record then holds Gamma + channel gamma = 100 log10(gamma).
  const double t = std::log10(128.0 / 255);
  const int src3[3] = {80, 64, 40};
  for (int ch = 0; ch < 3; ++ch) {
    const double gamma = t / std::log10(src3[ch] / 255.0);
    EXPECT_NEAR(-*r.positions[0] - *r.positions[1 + ch], 100 * std::log10(gamma), 0.5 + 1e-9);
  }
}

TEST(GammaBalance, SpotAtOrBelowBlackOrTooDarkChangesNothing) {
  Frame src, mon;
  src.Fill(64, 64, 64);
  mon.Fill(10, 10, 10);
  BalanceResult r = Click(BalanceMode::Gamma, src, &mon, Neutral(), 16, 235);
  EXPECT_TRUE(r.failure);
  EXPECT_EQ(r.positions, Positions{});
  // Level x gain / Span not above 0.001.
  src.Fill(16, 64, 64);
  mon.Fill(128, 128, 128);
  r = Click(BalanceMode::Gamma, src, &mon, Neutral(), 16, 235);
  EXPECT_TRUE(r.failure);
  EXPECT_EQ(r.positions, Positions{});
  // A channel already at white (log 0).
  src.Fill(255, 64, 64);
  r = Click(BalanceMode::Gamma, src, &mon, Neutral(), 0, 255);
  EXPECT_TRUE(r.failure);
  EXPECT_EQ(r.positions, Positions{});
}

// ---- Clicks that compute nothing ----

TEST(BalanceClick, TestSignalTwoOrMoreSkipsWithoutMessage) {
  Frame f;
  f.Fill(170, 170, 170);
  TSpecs s = Neutral();
  for (int16_t signal : {2, 5, 7}) {
    s.TestSignal = signal;
    for (BalanceMode m : {BalanceMode::White, BalanceMode::Black, BalanceMode::Colour, BalanceMode::Gamma}) {
      const BalanceResult r = Click(m, f, &f, s, 0, 255);
      EXPECT_EQ(r.action, Action::Skipped);
      EXPECT_FALSE(r.failure);
      EXPECT_EQ(r.positions, Positions{});
    }
  }
  s.TestSignal = 1;
  EXPECT_EQ(Click(BalanceMode::White, f, nullptr, s, 0, 255).action, Action::Computed);
}

TEST(BalanceClick, BlackEqualToWhiteIgnoresTheClickEntirely) {
  Frame f;
  f.Fill(170, 170, 170);
  for (BalanceMode m : {BalanceMode::None, BalanceMode::White, BalanceMode::Black, BalanceMode::Colour,
                        BalanceMode::Gamma}) {
    const BalanceResult r = Click(m, f, &f, Neutral(), 40, 40);
    EXPECT_EQ(r.action, Action::Ignore);
    EXPECT_FALSE(r.failure);
  }
  EXPECT_EQ(Click(BalanceMode::None, f, &f, Neutral(), 0, 255).action, Action::NoMode);
}

TEST(BalanceClick, MissingOrTinyPicturesChangeNothing) {
  Frame f;
  f.Fill(170, 170, 170);
  Frame tiny(2, 2);
  EXPECT_EQ(Click(BalanceMode::White, tiny, nullptr, Neutral(), 0, 255).action, Action::Ignore);
  EXPECT_EQ(Click(BalanceMode::Colour, f, nullptr, Neutral(), 0, 255).action, Action::Ignore);
  Frame other(120, 90);
  EXPECT_EQ(Click(BalanceMode::Gamma, f, &other, Neutral(), 0, 255).action, Action::Ignore);
}

}  // namespace
}  // namespace tarvo::ui
