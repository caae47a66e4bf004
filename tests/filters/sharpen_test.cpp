#include "filters/sharpen.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <vector>

#include "filters/mask.h"
#include "filters/masksharp_test_util.h"
#include "types/specs.h"
#include "support/test_support.h"
#include "util/cpu_features.h"

namespace tarvo {
namespace {

using masksharp_test::Copy;
using masksharp_test::FillValue;
using masksharp_test::kLevels;
using masksharp_test::Make;
using masksharp_test::RandomSizes;
using masksharp_test::RestoreLevel;
using test::FillRandom;
using test::FirstDifference;
using test::PlanesEqual;
using test::Sample;
using test::SetSample;
using test::TestSeed;

TEST(SharpBlur, KernelsOnAnImpulse) {
  // A single 160 on 0: the kernel weights times 160, shifted.
  TChannel src, blur;
  Make(src, 9, 9, 1);
  SetSample(src, 4, 4, 160);
  Blur(src, blur, 1);
  EXPECT_EQ(Sample(blur, 4, 4), 40);  // 4 * 160 >> 4
  EXPECT_EQ(Sample(blur, 3, 4), 30);
  EXPECT_EQ(Sample(blur, 3, 3), 0);
  Blur(src, blur, 2);
  EXPECT_EQ(Sample(blur, 4, 5), 20);
  EXPECT_EQ(Sample(blur, 5, 5), 10);
  Blur(src, blur, 3);
  EXPECT_EQ(Sample(blur, 4, 4), 40);  // 8 * 160 >> 5
  EXPECT_EQ(Sample(blur, 4, 3), 10);
  EXPECT_EQ(Sample(blur, 4, 2), 5);
  EXPECT_EQ(Sample(blur, 2, 2), 0);  // corner of the 5x5 block
  // Depth 2 shifts are arithmetic.
  Make(src, 9, 9, 2);
  SetSample(src, 4, 4, -17);
  Blur(src, blur, 1);
  EXPECT_EQ(Sample(blur, 4, 4), -5);  // -68 >> 4
  EXPECT_EQ(Sample(blur, 4, 3), -4);  // -51 >> 4
}

// YSharpness -100: gain -256, k0 = 256, every sample becomes its blur.
TEST(SharpPlain, FullSofteningGivesTheBlur) {
  std::mt19937 rng(TestSeed());
  SCOPED_TRACE(TestSeed());
  for (int depth : {1, 2}) {
    for (int radius : {1, 2, 3}) {
      TChannel plane, blur, expect, scratch;
      Make(plane, 37, 15, depth);
      FillRandom(plane, rng, -32767, 32767, false);
      Blur(plane, expect, radius);
      Sharpen(plane, nullptr, radius, 0, 0, 0, SharpGainOf(-100), scratch);
      EXPECT_TRUE(PlanesEqual(plane, expect)) << FirstDifference(plane, expect);
    }
  }
}

TEST(SharpPlain, FlatPlanesStayFlat) {
  TChannel mask;
  Make(mask, 20, 9, 1);
  for (int i = 0; i < mask.Samples(); ++i) mask.Data()[i] = static_cast<uint8_t>(i * 37);
  for (int depth : {1, 2}) {
    for (int value : depth == 1 ? std::vector<int>{0, 1, 128, 255} : std::vector<int>{-32767, -5, 0, 32767}) {
      for (int gain : {-256, -69, 8, 1792, 5000}) {
        for (int radius : {1, 2, 3}) {
          for (int amount : {0, 1, 4}) {
            TChannel plane, blur;
            Make(plane, 20, 9, depth);
            FillValue(plane, value);
            Sharpen(plane, &mask, radius, 30, amount, 128, gain, blur);
            for (int i = 0; i < plane.Samples(); ++i)
              ASSERT_EQ(depth == 1 ? plane.Data()[i] : plane.Data16()[i], value)
                  << "gain " << gain << " radius " << radius << " amount " << amount;
          }
        }
      }
    }
  }
}

TEST(SharpPlain, BrightSampleClipsAndDarkOvershootClips) {
  TChannel plane, blur;
  Make(plane, 9, 9, 1);
  FillValue(plane, 50);
  SetSample(plane, 4, 4, 250);
  Sharpen(plane, nullptr, 1, 0, 0, 0, SharpGainOf(100), blur);  // 1792
  EXPECT_EQ(Sample(plane, 4, 4), 255);                          // f = 100 * -1792 + 250 * 2048
  EXPECT_EQ(Sample(plane, 4, 3), 0);                            // f = 87 * -1792 + 50 * 2048 < 0
  EXPECT_EQ(Sample(plane, 1, 1), 50);
}

TEST(SharpPlain, LevelDependenceFollowsTheBlurredLevel) {
  // A faint 3 on black blurs to 0: with Lv 255 (g = 1) the gain is
  // (-1792 * 1) >> 8 = -7, so the sample stays 3; without level dependence it
  // becomes 3 * 2048 >> 8 = 24.
  for (auto [lv, expect] : {std::pair{255, 3}, {0, 24}, {-4, 24}, {999, 3}}) {
    TChannel plane, blur;
    Make(plane, 7, 7, 1);
    SetSample(plane, 3, 3, 3);
    Sharpen(plane, nullptr, 1, 0, 0, lv, 1792, blur);
    EXPECT_EQ(Sample(plane, 3, 3), expect) << "level " << lv;
  }
  // Where b + g >= 256 the level dependence changes nothing.
  std::mt19937 rng(TestSeed());
  SCOPED_TRACE(TestSeed());
  TChannel a, b, blur;
  Make(a, 33, 10, 1);
  std::uniform_int_distribution<int> bright(200, 255);
  for (int i = 0; i < a.Samples(); ++i) a.Data()[i] = static_cast<uint8_t>(bright(rng));
  Copy(b, a);
  Sharpen(a, nullptr, 2, 0, 0, 50, 608, blur);
  Sharpen(b, nullptr, 2, 0, 0, 0, 608, blur);
  EXPECT_TRUE(PlanesEqual(a, b));
  // Depth 2 uses the magnitude: -20 and +20 get the same reduced gain.
  TChannel c;
  Make(c, 7, 7, 2);
  FillValue(c, -20);
  SetSample(c, 3, 3, -40);
  Sharpen(c, nullptr, 1, 0, 0, 200, 1792, blur);
  // b = (-160 - 240) >> 4 = -25, s = 25 + 56 = 81, k = (-1792 * 81) >> 8 = -567,
  // f = -25 * -567 + -40 * 823 = -18745, >> 8 = -74.
  EXPECT_EQ(Sample(c, 3, 3), -74);
}

TEST(SharpPlain, BordersAreNeverChanged) {
  std::mt19937 rng(TestSeed());
  SCOPED_TRACE(TestSeed());
  auto at = [](const TChannel& c, int i) { return c.Depth() == 1 ? c.Data()[i] : c.Data16()[i]; };
  for (int depth : {1, 2}) {
    for (int radius : {1, 2, 3}) {
      for (int amount : {0, 2}) {
        TChannel plane, before, mask, blur;
        Make(plane, 29, 11, depth);
        FillRandom(plane, rng, -32767, 32767, false);
        Copy(before, plane);
        Make(mask, 29, 11, 1);
        FillRandom(mask, rng);
        Sharpen(plane, &mask, radius, 0, amount, 0, 1792, blur);
        const int band = radius == 3 ? 2 * 29 + 2 : 29 + 1, n = plane.Samples();
        for (int i = 0; i < band; ++i) {
          EXPECT_EQ(at(plane, i), at(before, i));
          EXPECT_EQ(at(plane, n - 1 - i), at(before, n - 1 - i));
        }
      }
    }
  }
}

// Depth 2 results are limited to -32767..32767, the border included (its
// blur equals the sample, so f >> 8 is the sample itself before the limit).
TEST(SharpPlain, Depth2LimitsTheLowestSampleEvenOnTheBorder) {
  TChannel plane, blur;
  Make(plane, 6, 6, 2);
  FillValue(plane, -32768);
  Sharpen(plane, nullptr, 1, 0, 0, 0, 244, blur);
  EXPECT_EQ(Sample(plane, 0, 0), -32767);
  EXPECT_EQ(Sample(plane, 3, 3), -32767);
}

TEST(SharpControl, GainZeroAmountAndMaskRules) {
  std::mt19937 rng(TestSeed());
  SCOPED_TRACE(TestSeed());
  TChannel plane, before, mask, blur, expect, eblur;
  Make(plane, 40, 12, 1);
  FillRandom(plane, rng);
  Copy(before, plane);
  Make(mask, 40, 12, 1);
  FillRandom(mask, rng);
  // Gain 0: nothing happens, not even the blur.
  Sharpen(plane, &mask, 2, 0, 3, 0, 0, blur);
  EXPECT_TRUE(PlanesEqual(plane, before));
  EXPECT_FALSE(blur.HasBuffer());
  // No mask plane: plain sharpening whatever the amount.
  Sharpen(plane, nullptr, 2, 0, 3, 100, 608, blur);
  Copy(expect, before);
  BlurReference(expect, eblur, 2);
  PlainSharpenReference(expect, eblur, 608, 100);
  EXPECT_TRUE(PlanesEqual(plane, expect));
  // Negative amount: plain; amount above 4: 4.
  Copy(plane, before);
  Sharpen(plane, &mask, 2, 0, -1, 100, 608, blur);
  EXPECT_TRUE(PlanesEqual(plane, expect));
  Copy(plane, before);
  Sharpen(plane, &mask, 2, 10, 9, 100, 608, blur);
  Copy(expect, before);
  MaskSharpenReference(expect, eblur, mask, 10, 4, 608);
  EXPECT_TRUE(PlanesEqual(plane, expect));
  // The edge view ignores the gain, also when it is 0.
  Copy(plane, before);
  SharpenShowEdges(plane, nullptr, 2, 0, 0, 100, 0, blur);
  Copy(expect, before);
  PlainShowEdgesReference(expect, eblur, 100);
  EXPECT_TRUE(PlanesEqual(plane, expect));
  Copy(plane, before);
  SharpenShowEdges(plane, &mask, 2, -20, 3, 100, 0, blur);
  Copy(expect, before);
  MaskShowEdgesReference(expect, eblur, mask, -20, 3);
  EXPECT_TRUE(PlanesEqual(plane, expect));
}

TEST(SharpEdges, FlatPlaneShowsNoDetail) {
  TChannel mask;
  Make(mask, 18, 7, 1, 200);
  for (int depth : {1, 2}) {
    for (int amount : {0, 2}) {
      TChannel plane, blur;
      Make(plane, 18, 7, depth);
      FillValue(plane, depth == 1 ? 90 : -900);
      SharpenShowEdges(plane, &mask, 3, 0, amount, 40, 608, blur);
      for (int i = 0; i < plane.Samples(); ++i)
        ASSERT_EQ(depth == 1 ? plane.Data()[i] : plane.Data16()[i], depth == 1 ? 128 : 0);
    }
  }
}

TEST(SharpEdges, DetailIsScaledAroundMidGrey) {
  TChannel plane, blur;
  Make(plane, 7, 7, 1);
  FillValue(plane, 100);
  SetSample(plane, 3, 3, 120);  // blur 105: e = 15 * 4 = 60
  SharpenShowEdges(plane, nullptr, 1, 0, 0, 0, 0, blur);
  EXPECT_EQ(Sample(plane, 3, 3), 188);
  EXPECT_EQ(Sample(plane, 3, 2), 128 + (100 - 103) * 4);
}

TEST(SharpSmallPlanes, TooSmallForTheKernelMeansNoChange) {
  std::mt19937 rng(TestSeed());
  SCOPED_TRACE(TestSeed());
  RestoreLevel restore;
  for (KernelLevel level : kLevels) {
    restore.Cap(level);
    for (int w = 1; w <= 6; ++w)
      for (int h = 1; h <= 6; ++h)
        for (int depth : {1, 2})
          for (int radius : {1, 2, 3}) {
            const int need = radius == 3 ? 5 : 3;
            TChannel plane, before, blur, mask;
            Make(plane, w, h, depth);
            FillRandom(plane, rng, -32767, 32767, false);
            Copy(before, plane);
            Make(mask, w, h, 1, 140);
            Blur(plane, blur, radius);
            if (w < need || h < need) {
              EXPECT_TRUE(PlanesEqual(blur, plane));
            }
            TChannel ref;
            BlurReference(plane, ref, radius);
            EXPECT_TRUE(PlanesEqual(blur, ref)) << w << "x" << h;
            Sharpen(plane, &mask, radius, 0, 1, 0, 1792, blur);
            if (w < need || h < need) {
              EXPECT_TRUE(PlanesEqual(plane, before)) << w << "x" << h;
            }
          }
  }
}

TEST(SharpErrors, MismatchedPlanesAreRejectedWithoutChange) {
  TChannel plane, blur, mask;
  Make(plane, 10, 8, 1, 5);
  Make(blur, 10, 8, 2, 5);
  EXPECT_THROW(PlainSharpen(plane, blur, 100, 0), std::invalid_argument);
  Make(blur, 10, 8, 1, 5);
  Make(mask, 10, 7, 1, 5);
  EXPECT_THROW(MaskSharpen(plane, blur, mask, 0, 1, 100), std::invalid_argument);
  EXPECT_THROW(Sharpen(plane, &mask, 1, 0, 1, 0, 100, plane), std::invalid_argument);
  EXPECT_THROW(Blur(plane, plane, 1), std::invalid_argument);
  EXPECT_EQ(plane.Data()[11], 5);
}

// Every kernel level against the plain references on random planes.
TEST(SharpKernels, MatchReferenceOnRandomPlanes) {
  const uint32_t seed = TestSeed();
  SCOPED_TRACE(seed);
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> radiusD(0, 4), offsetD(-150, 150), amountD(-1, 6), levelD(-20, 280),
      gainD(-400, 2300), pick(0, 5);
  const int gains[] = {-256, 1792, 2049, -257, 1, -1};
  RestoreLevel restore;
  const auto sizes = RandomSizes(rng);
  TChannel kept;  // the caller's blur plane, reused whatever it held before
  for (auto [w, h] : sizes) {
    for (int depth : {1, 2}) {
      TChannel src, mask;
      Make(src, w, h, depth);
      FillRandom(src, rng);
      Make(mask, w, h, 1);
      FillRandom(mask, rng);
      const int radius = radiusD(rng), offset = offsetD(rng), amount = amountD(rng), lv = levelD(rng);
      const int gain = pick(rng) == 0 ? gains[pick(rng)] : gainD(rng);
      TChannel refBlur, refPlain, refMask, refPlainEdges, refMaskEdges;
      BlurReference(src, refBlur, radius);
      Copy(refPlain, src);
      PlainSharpenReference(refPlain, refBlur, gain, lv);
      Copy(refMask, src);
      MaskSharpenReference(refMask, refBlur, mask, offset, amount, gain);
      Copy(refPlainEdges, src);
      PlainShowEdgesReference(refPlainEdges, refBlur, lv);
      Copy(refMaskEdges, src);
      MaskShowEdgesReference(refMaskEdges, refBlur, mask, offset, amount);
      for (KernelLevel level : kLevels) {
        restore.Cap(level);
        SCOPED_TRACE(::testing::Message() << w << "x" << h << " depth " << depth << " radius " << radius << " gain "
                                          << gain << " level value " << lv << " offset " << offset << " amount "
                                          << amount << " kernels " << static_cast<int>(level));
        TChannel& blur = kept;
        TChannel p;
        Blur(src, blur, radius);
        ASSERT_TRUE(PlanesEqual(refBlur, blur)) << FirstDifference(refBlur, blur);
        Copy(p, src);
        PlainSharpen(p, blur, gain, lv);
        ASSERT_TRUE(PlanesEqual(refPlain, p)) << "plain " << FirstDifference(refPlain, p);
        Copy(p, src);
        MaskSharpen(p, blur, mask, offset, amount, gain);
        ASSERT_TRUE(PlanesEqual(refMask, p)) << "mask " << FirstDifference(refMask, p);
        Copy(p, src);
        PlainShowEdges(p, blur, lv);
        ASSERT_TRUE(PlanesEqual(refPlainEdges, p)) << "plain edges " << FirstDifference(refPlainEdges, p);
        Copy(p, src);
        MaskShowEdges(p, blur, mask, offset, amount);
        ASSERT_TRUE(PlanesEqual(refMaskEdges, p)) << "mask edges " << FirstDifference(refMaskEdges, p);
        // The whole operation with a kept blur plane holding stale samples.
        kept.Fill(0x6B);
        Copy(p, src);
        Sharpen(p, &mask, radius, offset, amount, lv, gain, kept);
        TChannel q, fresh;
        Copy(q, src);
        Sharpen(q, &mask, radius, offset, amount, lv, gain, fresh);
        ASSERT_TRUE(PlanesEqual(q, p)) << "sharpen " << FirstDifference(q, p);
      }
    }
  }
}

}  // namespace
}  // namespace tarvo
