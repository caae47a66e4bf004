#include "ui/logic/balance.h"

#include <algorithm>
#include <cmath>

#include "types/rounding.h"

namespace tarvo::ui {

namespace {

constexpr int32_t kLiftMin = -100, kLiftMax = 100;
constexpr int32_t kGammaMin = -100, kGammaMax = 100;
constexpr int32_t kChannelGainMax = 200;
constexpr int32_t kOverallGainMax = 800;

constexpr long double kNinth = 1.0L / 9.0L;
constexpr long double kThird = 1.0L / 3.0L;

// Byte indices of the channels in a pixel, in the order red, green, blue.
constexpr int32_t kRed = 2, kGreen = 1, kBlue = 0;
constexpr int32_t kChannelBytes[3] = {kRed, kGreen, kBlue};

const BalanceModeInfo kModes[] = {
    {87, {}, "", "", {}},
    {88,
     {"WBButton0", "WBButton1", "WBButton2"},
     "Now click on the part of the picture you want to make white",
     "Point-&-click white balance - sets gains",
     {"GainBar", "RGainBar", "GGainBar", "BGainBar"}},
    {89,
     {"BBButton0", "BBButton1", "BBButton2"},
     "Now click on the part of the picture you want to make black",
     "Point-&-click black balance - sets lifts",
     {"LiftBar", "RLiftBar", "GLiftBar", "BLiftBar"}},
    {90,
     {"CBButton0", "CBButton1", "CBButton2"},
     "Now click on the part of the picture you want to make neutral",
     "Point-&-click colour balance - sets gains",
     {"GainBar", "RGainBar", "GGainBar", "BGainBar"}},
    {91,
     {"GBButton0", "GBButton1", "GBButton2"},
     "Now click on the part of the picture you want to make neutral",
     "Point-&-click gamma balance - sets gammas",
     {"GammaBar", "RGammaBar", "GGammaBar", "BGammaBar"}},
};

bool UsableBlockFrame(const TPixBuffer* f) {
  return f && FrameIsUsable(*f) && FrameWidth(*f) >= 3 && FrameHeight(*f) >= 3;
}

// Limits `v` to lo..hi; sets `failure` when it had to.
int32_t ClampFailing(int64_t v, int32_t lo, int32_t hi, bool& failure) {
  if (v < lo) {
    failure = true;
    return lo;
  }
  if (v > hi) {
    failure = true;
    return hi;
  }
  return static_cast<int32_t>(v);
}

struct Spot {
  int32_t mean[3] = {};   // source picture, red, green, blue
  int32_t min[3] = {};
  long double yout = 0;   // luminance of the same block in the processed picture
};

// The clip's level of a channel after its lifts, relative to black.
long double LevelOf(const TSpecs& s, const Spot& spot, int ch, int32_t vblack) {
  const int32_t lifts[3] = {s.RLift, s.GLift, s.BLift};
  return static_cast<long double>(int64_t{s.Lift} + spot.mean[ch] + lifts[ch] - vblack);
}

void BlackBalance(const BalanceInput& in, const Spot& spot, BalanceResult& r) {
  const long double vblack = in.vblack;
  int64_t l0 = -Rnd((static_cast<long double>(spot.mean[0]) + spot.mean[1] + spot.mean[2]) * kThird - vblack);
  l0 = std::clamp<int64_t>(l0, kLiftMin, kLiftMax);
  for (int ch = 0; ch < 3; ++ch) {
    const int64_t v = Rnd(vblack - spot.mean[ch] - static_cast<long double>(l0));
    r.positions[1 + ch] = ClampFailing(v, kLiftMin, kLiftMax, r.failure);
  }
  // The darkest pixels of the block must stay above the output floor: when
  // they lie further below the block's mean than black lies above Vmin, the
  // overall lift rises by the difference.
  int32_t spread = 0;
  for (int ch = 0; ch < 3; ++ch) spread = std::max(spread, spot.mean[ch] - spot.min[ch]);
  const int64_t headroom = int64_t{in.vblack} - in.specs->Vmin;
  const int64_t lift = spread > headroom ? l0 + spread - headroom : l0;
  r.positions[0] = ClampFailing(lift, kLiftMin, kLiftMax, r.failure);
}

// Sets the overall gain (multiplier and GainBar) and the channel gains from
// the channel factors k and the overall gain in percent.
void ApplyGains(const long double k[3], int64_t overall, BalanceResult& r) {
  // An overall gain past the slider's top is held there, and the balance
  // counts as failed.
  if (overall > kOverallGainMax) {
    overall = kOverallGainMax;
    r.failure = true;
  }
  if (overall <= 200) {
    r.gainMultiplier = 1;
    r.positions[0] = static_cast<int32_t>(overall);
  } else if (overall <= 400) {
    r.gainMultiplier = 2;
    r.positions[0] = static_cast<int32_t>(Rnd(static_cast<long double>(overall) * 0.5L));
  } else {
    r.gainMultiplier = 4;
    r.positions[0] = static_cast<int32_t>(Rnd(static_cast<long double>(overall) * 0.25L));
  }
  for (int ch = 0; ch < 3; ++ch) {
    const long double g = k[ch] * 10000.0L / static_cast<long double>(overall);
    int32_t position;
    if (g > kChannelGainMax) {
      position = kChannelGainMax;
      r.failure = true;
    } else {
      // A negative factor (a spot below black) ends at the slider's floor.
      position = static_cast<int32_t>(std::max<int64_t>(Rnd(g), 0));
    }
    r.positions[1 + ch] = position;
  }
}

// 100 x the geometric mean of the three factors, rounded.
int64_t OverallPercent(const long double k[3]) {
  return Rnd(100.0L * std::pow(k[0] * k[1] * k[2], kThird));
}

void WhiteBalance(const BalanceInput& in, const Spot& spot, BalanceResult& r) {
  const long double span = static_cast<long double>(in.vwhite) - in.vblack;
  long double k[3];
  bool positive = true;
  for (int ch = 0; ch < 3; ++ch) {
    const long double level = LevelOf(*in.specs, spot, ch, in.vblack);
    k[ch] = level == 0 ? 0.0L : span / level;
    if (!(k[ch] > 0)) positive = false;
  }
  int64_t overall = 100;
  if (!positive) {
    r.failure = true;
  } else {
    overall = OverallPercent(k);
    // Only a tiny Span gets here: there is no gain to divide the channel
    // factors by, so nothing is set.
    if (overall == 0) {
      r.failure = true;
      return;
    }
  }
  ApplyGains(k, overall, r);
}

void ColourBalance(const BalanceInput& in, const Spot& spot, BalanceResult& r) {
  const TSpecs& s = *in.specs;
  const long double span = static_cast<long double>(in.vwhite) - in.vblack;
  const int32_t gammas[3] = {s.RGamma, s.GGamma, s.BGamma};
  long double k[3];
  bool fault = false;
  for (int ch = 0; ch < 3; ++ch) {
    const long double gamma = std::pow(10.0L, (static_cast<long double>(s.Gamma) + gammas[ch]) * 0.01L);
    // The level after lift and gain that this channel's gamma curve maps
    // onto the displayed luminance.
    const long double target = std::pow((spot.yout - in.vblack) / std::pow(span, 1.0L - gamma), 1.0L / gamma);
    const long double level = LevelOf(s, spot, ch, in.vblack);
    k[ch] = level == 0 ? 0.0L : target / level;
    if (level == 0 || !std::isfinite(gamma) || !std::isfinite(target) || !std::isfinite(k[ch])) fault = true;
  }
  if (fault) k[0] = k[1] = k[2] = 0;
  if (!(k[0] > 0 && k[1] > 0 && k[2] > 0)) {
    r.failure = true;
    return;
  }
  int64_t overall = OverallPercent(k);
  if (overall == 0) {
    r.failure = true;
    return;
  }
  ApplyGains(k, overall, r);
}

void GammaBalance(const BalanceInput& in, const Spot& spot, BalanceResult& r) {
  const TSpecs& s = *in.specs;
  const long double span = static_cast<long double>(in.vwhite) - in.vblack;
  const int32_t gains[3] = {s.RGain, s.GGain, s.BGain};
  bool failure = false;

  const long double above = spot.yout - in.vblack;
  long double t = 0;
  if (above > 0) {
    t = std::log10(above / span);
    if (!std::isfinite(t)) failure = true;
  } else {
    failure = true;
  }
  long double gamma[3] = {1, 1, 1};
  for (int ch = 0; ch < 3; ++ch) {
    const long double k = static_cast<long double>(int64_t{s.Gain} * gains[ch]) * 0.0001L;
    const long double x = LevelOf(s, spot, ch, in.vblack) * k / span;
    if (!(x > 0.001L)) {
      failure = true;
      continue;
    }
    const long double lx = std::log10(x);
    if (lx != 0) {
      gamma[ch] = t / lx;
    } else {
      gamma[ch] = 1;
      failure = true;
    }
    if (!std::isfinite(gamma[ch]) || !(gamma[ch] > 0)) failure = true;
  }
  if (failure) {
    r.failure = true;
    return;
  }
  const int64_t d = std::clamp<int64_t>(
      Rnd(100.0L * std::log10(std::pow(gamma[0] * gamma[1] * gamma[2], kThird))), kGammaMin, kGammaMax);
  // The gamma sliders show the negated record values: the record then holds
  // Gamma + channel gamma = 100 log10(gamma of the channel), within limits.
  r.positions[0] = static_cast<int32_t>(-d);
  for (int ch = 0; ch < 3; ++ch) {
    const long double f = static_cast<long double>(d) - 100.0L * std::log10(gamma[ch]);
    if (f < kGammaMin) {
      r.positions[1 + ch] = kGammaMin;
      r.failure = true;
    } else if (f > kGammaMax) {
      r.positions[1 + ch] = kGammaMax;
      r.failure = true;
    } else {
      r.positions[1 + ch] = static_cast<int32_t>(Rnd(f));
    }
  }
}

}  // namespace

const BalanceModeInfo& InfoOf(BalanceMode mode) { return kModes[static_cast<int>(mode)]; }

std::string_view GainMultiplierRadio(int32_t multiplier) {
  switch (multiplier) {
    case 2: return "GainX2";
    case 4: return "GainX4";
    default: return "GainX1";
  }
}

BlockSample SampleBlock(const TPixBuffer& frame, int32_t x, int32_t y, int32_t byteIndex) {
  const int32_t w = FrameWidth(frame), h = FrameHeight(frame);
  if (x <= 0) x = 1;
  else if (x >= w - 1) x = w - 2;
  if (y <= 0) y = 1;
  else if (y >= h - 1) y = h - 2;
  if (byteIndex < 0) byteIndex = 1;
  else if (byteIndex > 3) byteIndex = 3;
  const int64_t stride = FrameStride(frame);
  const uint8_t* centre = frame.Pixels + stride * y + int64_t{4} * x + byteIndex;
  int32_t sum = 0, least = 255;
  for (int dy = -1; dy <= 1; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) {
      const int32_t v = centre[stride * dy + 4 * dx];
      sum += v;
      least = std::min(least, v);
    }
  }
  return BlockSample{static_cast<int32_t>(Rnd(static_cast<long double>(sum) * kNinth)), least};
}

BalanceResult ComputeBalance(const BalanceInput& in) {
  BalanceResult r;
  if (in.vwhite == in.vblack || !in.specs || !UsableBlockFrame(in.source)) return r;  // Ignore
  if (in.mode == BalanceMode::None) {
    r.action = BalanceResult::Action::NoMode;
    return r;
  }
  if (in.specs->TestSignal >= 2) {
    r.action = BalanceResult::Action::Skipped;
    return r;
  }
  const bool needsMonitor = in.mode == BalanceMode::Colour || in.mode == BalanceMode::Gamma;
  if (needsMonitor && (!UsableBlockFrame(in.monitor) || FrameWidth(*in.monitor) != FrameWidth(*in.source) ||
                       FrameHeight(*in.monitor) != FrameHeight(*in.source)))
    return r;  // Ignore: no processed picture to read the displayed level from

  Spot spot;
  for (int ch = 0; ch < 3; ++ch) {
    const BlockSample b = SampleBlock(*in.source, in.x, in.y, kChannelBytes[ch]);
    spot.mean[ch] = b.mean;
    spot.min[ch] = b.min;
  }
  if (needsMonitor) {
    const int32_t red = SampleBlock(*in.monitor, in.x, in.y, kRed).mean;
    const int32_t green = SampleBlock(*in.monitor, in.x, in.y, kGreen).mean;
    const int32_t blue = SampleBlock(*in.monitor, in.x, in.y, kBlue).mean;
    spot.yout = (77.0L * red + 150.0L * green + 29.0L * blue) / 256.0L;
  }

  r.action = BalanceResult::Action::Computed;
  switch (in.mode) {
    case BalanceMode::Black: BlackBalance(in, spot, r); break;
    case BalanceMode::White: WhiteBalance(in, spot, r); break;
    case BalanceMode::Colour: ColourBalance(in, spot, r); break;
    case BalanceMode::Gamma: GammaBalance(in, spot, r); break;
    case BalanceMode::None: break;
  }
  return r;
}

}  // namespace tarvo::ui
