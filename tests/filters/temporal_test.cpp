#include "filters/temporal.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "filters/temporal_tables.h"
#include "support/kernel_level.h"
#include "support/test_support.h"
#include "util/cpu_features.h"
#include "types/rounding.h"

namespace tarvo {
namespace {

using test::Sample;
using test::SetSample;

using SmoothFn = void (*)(TChannel&, TChannel&, const TemporalSettings&, bool);
struct Impl {
  const char* name;
  SmoothFn fn;
};
const Impl kImpls[] = {{"reference", TemporalSmoothReference}, {"optimised", TemporalSmooth}};

TemporalSettings Settings(int threshold, int recursion, int onset, int limit, int response, int flags) {
  TemporalSettings s;
  s.threshold = threshold;
  s.recursion = recursion;
  s.onset = onset;
  s.limit = limit;
  s.response = response;
  s.flags = flags;
  return s;
}

// Uniform history `hist` and current `hist + diff` in every sample.
void MakePlanes(TChannel& work, TChannel& history, int w, int h, int depth, int hist, int diff) {
  work.SetSize(w, h, depth);
  history.SetSize(w, h, depth);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      SetSample(history, x, y, hist);
      SetSample(work, x, y, hist + diff);
    }
}

// The difference stored in the history plane, signed on both depths.
int StoredDiff(const TChannel& p, int x, int y) {
  const int v = Sample(p, x, y);
  return p.Depth() == 1 ? static_cast<int8_t>(v) : v;
}

// ---------------------------------------------------------------- levels

TEST(TemporalLevels, WorkedCurveAtRecursionZero) {
  const TemporalLevels lv = BuildTemporalLevels(Settings(10, 0, 0, 50, 0, 0));
  ASSERT_EQ(lv.T, 12);
  const int expected[13] = {0, 0, 1, 2, 2, 3, 4, 6, 7, 8, 10, 11, 12};
  for (int j = 0; j <= 12; ++j) EXPECT_EQ(lv.curve[0][j], expected[j]) << "j " << j;
}

TEST(TemporalLevels, CurvesRoundHalvesToEvenAndEndOnTheIdentity) {
  // Recursion 100: A = 8, level 0 keeps 1/8 below a third of T = 123.
  const TemporalLevels lv = BuildTemporalLevels(Settings(100, 100, 0, 50, 0, 0));
  ASSERT_EQ(lv.T, 123);
  EXPECT_EQ(lv.curve[0][4], 0);   // 0.5
  EXPECT_EQ(lv.curve[0][12], 2);  // 1.5
  EXPECT_EQ(lv.curve[0][20], 2);  // 2.5
  EXPECT_EQ(lv.curve[0][41], 5);  // 5.125
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(lv.curve[i][123], 123) << "level " << i;
    for (int j = 1; j <= 123; ++j) EXPECT_LE(lv.curve[i][j - 1], lv.curve[i][j]) << "level " << i << " j " << j;
    if (i > 0) {
      EXPECT_GE(lv.curve[i][60], lv.curve[i - 1][60]) << "weaker smoothing at higher levels";
    }
  }
  // Level 15 keeps A^(-1/16) = 2^(-3/16) of a small difference: 41 * 0.878... = 36.0
  EXPECT_EQ(lv.curve[15][41], 36);
}

TEST(TemporalLevels, TableRoundingAgreesWithRnd) {
  // Halves, quarters and thirds, and the neighbours one unit in the last
  // place either side of every half.
  for (int i = -4000; i <= 4000; ++i) {
    for (long double z : {i * 0.5L, i * 0.25L, i / 3.0L, i * 1.0009765625L}) {
      for (long double v : {z, std::nextafterl(z, -1e9L), std::nextafterl(z, 1e9L)}) {
        ASSERT_EQ(temporal_detail::FastRnd(v), Rnd(v)) << static_cast<double>(v);
      }
    }
  }
}

TEST(TemporalLevels, WorkedMotionThresholds) {
  const TemporalLevels lv = BuildTemporalLevels(Settings(10, 0, 0, 50, 0, 0));
  const int expected[16] = {0, 3, 7, 10, 14, 18, 21, 25, 28, 32, 36, 39, 43, 46, 50, 54};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(lv.motion[i], expected[i]) << "level " << i;
}

TEST(TemporalLevels, MotionValueSelectsTheSmallestLevelAboveIt) {
  const TemporalLevels lv = BuildTemporalLevels(Settings(10, 0, 0, 50, 0, 1));
  using temporal_detail::MotionLevel;
  EXPECT_EQ(MotionLevel(lv, 0), 0);
  EXPECT_EQ(MotionLevel(lv, 20), 6);
  EXPECT_EQ(MotionLevel(lv, -20), 6);
  EXPECT_EQ(MotionLevel(lv, 21), 7);
  EXPECT_EQ(MotionLevel(lv, 1), 1);  // M_0 = 0 is never above |m|
  EXPECT_EQ(MotionLevel(lv, 53), 15);
  EXPECT_EQ(MotionLevel(lv, 54), temporal_detail::kFullMotion);
  EXPECT_EQ(MotionLevel(lv, -300000), temporal_detail::kFullMotion);
}

TEST(TemporalLevels, ThresholdsRiseAlongTheResponseCurveAndSitAtOnsetWhenLimitEqualsOnset) {
  // Response 100: M_i = v_i^2 / (L - O) + O; T 12, onset 50: O 18, L 63.
  const TemporalLevels curved = BuildTemporalLevels(Settings(10, 0, 50, 50, 100, 0));
  EXPECT_EQ(curved.motion[0], 18);
  EXPECT_EQ(curved.motion[15], 63);
  EXPECT_EQ(curved.motion[5], 23);  // v 15: 225 / 45 = 5
  // Limit 0 makes L = O; with a response above 0 the normaliser has no finite
  // value and every threshold is the onset.
  for (int response : {0, 1, 50, 100}) {
    const TemporalLevels flat = BuildTemporalLevels(Settings(10, 0, 100, 0, response, 0));
    for (int i = 0; i < 16; ++i) EXPECT_EQ(flat.motion[i], 36) << "response " << response << " level " << i;
  }
}

TEST(TemporalLevels, OutOfRangeSettingsStayInsideTheTables) {
  const TemporalLevels lv = BuildTemporalLevels(Settings(5000, -7, 900, 900, 900, 0));
  EXPECT_EQ(lv.T, 123);
  EXPECT_LE(lv.motion[15], 9 * 123);
  EXPECT_EQ(BuildTemporalLevels(Settings(-10, 0, 0, 0, 0, 0)).T, 0);
}

// ------------------------------------------------------ worked transfers

TEST(TemporalSmooth, WorkedTransfersWithBothFlagsClear) {
  struct Case {
    int diff, expected;
  };
  const Case cases[] = {{6, 104}, {-6, 96}, {1, 100}, {11, 111}, {12, 112}, {40, 140}, {0, 100}};
  for (const Impl& impl : kImpls)
    for (int depth : {1, 2})
      for (const Case& c : cases) {
        TChannel work, history;
        MakePlanes(work, history, 5, 3, depth, 100, c.diff);
        impl.fn(work, history, Settings(10, 0, 0, 50, 0, 0), true);
        EXPECT_EQ(Sample(work, 1, 1), c.expected) << impl.name << " depth " << depth << " diff " << c.diff;
        EXPECT_EQ(Sample(work, 0, 1), 100 + c.diff) << "first sample of row 1 is outside the range";
        EXPECT_EQ(Sample(work, 4, 1), 100 + c.diff) << "last sample of row 1 is outside the range";
        EXPECT_EQ(StoredDiff(history, 2, 1), c.diff) << "history holds the difference";
        EXPECT_EQ(Sample(history, 0, 1), 100) << "history outside the range keeps its sample";
      }
}

TEST(TemporalSmooth, MotionSelectsTheLevelAndFullMotionLeavesTheSample) {
  // T 12, onset 0, limit 50, response 0: M = 0, 3, 7, 10, 14, 18, 21, 25, 28, ...
  // A uniform difference d gives med = d and |m| = 9d.
  const TemporalSettings s = Settings(10, 0, 0, 50, 0, 1);
  const TemporalLevels lv = BuildTemporalLevels(s);
  struct Case {
    int diff, level;  // level -1: full motion
  };
  const Case cases[] = {{2, 6}, {3, 8}, {-3, 8}, {5, 14}, {6, -1}, {-11, -1}};
  for (const Impl& impl : kImpls)
    for (const Case& c : cases) {
      TChannel work, history;
      MakePlanes(work, history, 5, 5, 1, 100, c.diff);
      impl.fn(work, history, s, true);
      const int f = c.level < 0 ? std::abs(c.diff) : lv.curve[c.level][std::abs(c.diff)];
      EXPECT_EQ(Sample(work, 2, 2), 100 + (c.diff < 0 ? -f : f)) << impl.name << " diff " << c.diff;
    }
  // A lone difference has median 0: level 0 even with motion detection on.
  for (const Impl& impl : kImpls) {
    TChannel work, history;
    MakePlanes(work, history, 5, 5, 1, 100, 0);
    SetSample(work, 2, 2, 106);
    impl.fn(work, history, s, true);
    EXPECT_EQ(Sample(work, 2, 2), 104) << impl.name;
  }
}

TEST(TemporalSmooth, SmoothedDifferenceBeyondThresholdTransfersAsIdentity) {
  // Motion detection off, smoothing on: centre difference 5 among neighbours
  // of difference D gives s = (35 + 9 D) >> 4, which exceeds T = 12.
  for (const Impl& impl : kImpls)
    for (int depth : {1, 2}) {
      const int big = depth == 1 ? 100 : 1000;
      TChannel work, history;
      MakePlanes(work, history, 5, 5, depth, 100, big);
      SetSample(work, 2, 2, 105);
      impl.fn(work, history, Settings(10, 0, 0, 50, 0, 2), true);
      const int s = (35 + 9 * big) >> 4;
      EXPECT_EQ(Sample(work, 2, 2), std::min(depth == 1 ? 255 : 1 << 20, 100 + s)) << impl.name << " " << depth;
    }
}

TEST(TemporalSmooth, InvalidHistoryTinyPlanesAndMismatchedPlanesAreLeftAlone) {
  for (const Impl& impl : kImpls) {
    TChannel work, history;
    MakePlanes(work, history, 6, 6, 1, 100, 4);
    impl.fn(work, history, Settings(10, 0, 0, 50, 0, 3), false);
    EXPECT_EQ(Sample(work, 2, 2), 104) << impl.name;
    EXPECT_EQ(Sample(history, 2, 2), 100) << impl.name;

    // Planes below 3 x 3 have exact-size buffers; any stray access shows
    // under the address sanitizer.
    for (auto [w, h] : {std::pair{2, 5}, {5, 2}, {1, 1}, {2, 2}, {0, 0}}) {
      for (int depth : {1, 2}) {
        TChannel tw, th;
        MakePlanes(tw, th, w, h, depth, 100, 4);
        impl.fn(tw, th, Settings(10, 0, 0, 50, 0, 3), true);
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) {
            EXPECT_EQ(Sample(tw, x, y), 104);
            EXPECT_EQ(Sample(th, x, y), 100);
          }
      }
    }
    TChannel other;
    other.SetSize(6, 5, 1);
    other.Fill(100);
    impl.fn(work, other, Settings(10, 0, 0, 50, 0, 0), true);
    EXPECT_EQ(Sample(work, 2, 2), 104) << impl.name;
  }
}

TEST(TemporalSmooth, StoredDifferencesClampOnDepth1AndWrapOnDepth2) {
  for (const Impl& impl : kImpls) {
    TChannel work, history;
    MakePlanes(work, history, 4, 3, 1, 0, 255);
    SetSample(work, 2, 1, 0);
    SetSample(history, 2, 1, 255);
    impl.fn(work, history, Settings(100, 0, 0, 50, 0, 0), true);
    EXPECT_EQ(history.Data()[5], 0x7F) << impl.name << ": 255 clamps to 127";
    EXPECT_EQ(history.Data()[6], 0x80) << impl.name << ": -255 clamps to -128";
    EXPECT_EQ(Sample(work, 1, 1), 255) << "clamped differences are beyond any threshold";
    EXPECT_EQ(Sample(work, 2, 1), 0);

    // Depth 2: 32767 - (-32768) is stored modulo 2^16 as -1, a noise
    // difference, and the output wraps the same way back to the history.
    TChannel w2, h2;
    MakePlanes(w2, h2, 4, 3, 2, -32768, 0);
    SetSample(w2, 1, 1, 32767);
    SetSample(w2, 2, 1, -32768);
    SetSample(h2, 2, 1, 32767);
    impl.fn(w2, h2, Settings(10, 0, 0, 50, 0, 0), true);
    EXPECT_EQ(Sample(h2, 1, 1), -1) << impl.name;
    EXPECT_EQ(Sample(h2, 2, 1), 1) << impl.name;
    EXPECT_EQ(Sample(w2, 1, 1), -32768) << impl.name;
    EXPECT_EQ(Sample(w2, 2, 1), 32767) << impl.name;
  }
}

TEST(TemporalSmooth, ZeroThresholdOnlyStoresDifferences) {
  for (const Impl& impl : kImpls) {
    TChannel work, history;
    MakePlanes(work, history, 5, 4, 2, -7, 1);
    impl.fn(work, history, Settings(0, 0, 0, 50, 0, 3), true);
    EXPECT_EQ(Sample(work, 2, 2), -6) << impl.name;
    EXPECT_EQ(Sample(history, 2, 2), 1) << impl.name;
  }
}

// -------------------------------------------- optimised against reference

// Current samples random; history mostly near the current sample so that
// most samples are noise, with extreme and unrelated values mixed in.
void FillPair(TChannel& work, TChannel& history, std::mt19937& rng, int depth, int lo, int hi) {
  test::FillRandom(work, rng, lo, hi, true);
  std::uniform_int_distribution<int> pick(0, 9), noise(-20, 20), full(lo, hi);
  for (int i = 0; i < work.Samples(); ++i) {
    const int c = depth == 1 ? work.Data()[i] : work.Data16()[i];
    const int r = pick(rng);
    int v = r < 7 ? c + noise(rng) : r == 7 ? full(rng) : r == 8 ? (depth == 1 ? 255 : 32767) : (depth == 1 ? 0 : -32768);
    if (depth == 1)
      history.Data()[i] = static_cast<uint8_t>(std::clamp(v, 0, 255));
    else
      history.Data16()[i] = static_cast<int16_t>(std::clamp(v, -32768, 32767));
  }
}

TEST(TemporalSmooth, OptimisedMatchesReferenceBitForBit) {
  const uint32_t seed = test::TestSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> pct(0, 100), flags(0, 3), dim(3, 90);
  // Tiny, odd and vector-edge sizes, and rows longer than the kernels' chunks.
  const std::pair<int, int> fixed[] = {{3, 3},  {4, 3}, {3, 7},  {33, 3},   {34, 4},
                                       {65, 5}, {97, 6}, {1, 9}, {17, 2}, {2113, 4}};
  test::KernelLevelGuard guard;
  for (KernelLevel level : {KernelLevel::Scalar, KernelLevel::Sse2, KernelLevel::Avx2}) {
    guard.Cap(level);
    for (int round = 0; round < 60; ++round) {
      const int depth = 1 + round % 2;
      int w, h;
      if (round < 2 * static_cast<int>(std::size(fixed))) {
        std::tie(w, h) = fixed[round / 2];
      } else {
        w = dim(rng);
        h = dim(rng) / 3 + 3;
      }
      TemporalSettings s = Settings(pct(rng), pct(rng), pct(rng), pct(rng), pct(rng), flags(rng));
      if (round % 7 == 0) s.limit = 0;           // limit equal to onset
      if (round % 3 == 1) s.threshold = 1 + round % 12;  // small T: the joint lookup tables
      const int range = depth == 2 && round % 3 == 0 ? 400 : 32768;
      TChannel w1, h1, w2, h2;
      w1.SetSize(w, h, depth);
      h1.SetSize(w, h, depth);
      FillPair(w1, h1, rng, depth, -range, range - 1);
      w2.SetSize(w, h, depth);
      h2.SetSize(w, h, depth);
      w2.CopyFrom(w1);
      h2.CopyFrom(h1);
      TemporalSmoothReference(w1, h1, s, true);
      TemporalSmooth(w2, h2, s, true);
      const std::string what = "kernel " + std::to_string(static_cast<int>(level)) + " round " +
                               std::to_string(round) + " " + std::to_string(w) + "x" + std::to_string(h) +
                               " depth " + std::to_string(depth) + " flags " + std::to_string(s.flags);
      ASSERT_TRUE(test::PlanesEqual(w1, w2)) << what << " work " << test::FirstDifference(w1, w2);
      ASSERT_TRUE(test::PlanesEqual(h1, h2)) << what << " history " << test::FirstDifference(h1, h2);
    }
  }
}

}  // namespace
}  // namespace tarvo
