#include "filters/mask.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <stdexcept>
#include <vector>

#include "filters/masksharp_test_util.h"
#include "support/test_support.h"
#include "util/cpu_features.h"

namespace tarvo {
namespace {

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

// A vertical step from 0 to 100 between columns 4 and 5.
TEST(MaskCreate, VerticalStepGivesFullEdgesOnBothColumns) {
  TChannel src, mask, edge;
  Make(src, 12, 6, 1);
  for (int y = 0; y < 6; ++y)
    for (int x = 5; x < 12; ++x) SetSample(src, x, y, 100);
  Make(mask, 12, 6, 1);
  CreateMask(src, mask, 1, edge);
  for (int y = 1; y < 5; ++y) {
    EXPECT_EQ(Sample(mask, 4, y), 255) << "row " << y;
    EXPECT_EQ(Sample(mask, 5, y), 255) << "row " << y;
    for (int x = 1; x < 11; ++x) {
      if (x != 4 && x != 5) {
        EXPECT_EQ(Sample(mask, x, y), 0) << "x " << x << " y " << y;
      }
    }
  }
  for (int x = 0; x < 12; ++x) {
    EXPECT_EQ(Sample(mask, x, 0), 0);
    EXPECT_EQ(Sample(mask, x, 5), 0);
  }
}

TEST(MaskCreate, Depth2EdgesUseRawSampleValues) {
  TChannel src, mask, edge;
  Make(src, 8, 5, 2);
  FillValue(src, -40);
  SetSample(src, 3, 2, -10);  // a bump of 30: |Gx| = |Gy| = 0 at the centre, 60 beside it
  Make(mask, 8, 5, 1);
  CreateMask(src, mask, 1, edge);
  EXPECT_EQ(Sample(mask, 3, 2), 0);
  EXPECT_EQ(Sample(mask, 2, 2), 60);
  EXPECT_EQ(Sample(mask, 4, 2), 60);
  EXPECT_EQ(Sample(mask, 3, 1), 60);
  EXPECT_EQ(Sample(mask, 2, 1), 60);  // |Gx| 30 + |Gy| 30
  // A huge step saturates at 255 with no wrap-around.
  SetSample(src, 3, 2, 32767);
  SetSample(src, 4, 2, -32768);
  CreateMask(src, mask, 1, edge);
  EXPECT_EQ(Sample(mask, 3, 2), 255);
  EXPECT_EQ(Sample(mask, 4, 2), 255);
}

TEST(MaskCreate, FlatSourceGivesZeroMaskAndFilteredSamples) {
  for (int depth : {1, 2}) {
    for (int radius : {1, 2, 3}) {
      TChannel src, mask, edge, target, filtered;
      Make(src, 17, 11, depth);
      FillValue(src, depth == 1 ? 77 : -1234);
      Make(mask, 17, 11, 1, 99);
      CreateMask(src, mask, radius, edge);
      for (int i = 0; i < mask.Samples(); ++i) ASSERT_EQ(mask.Data()[i], 0) << "radius " << radius;
      // Weight 0: (t + 255 f + 128) >> 8, which is f when t == f.
      Make(target, 17, 11, depth);
      Make(filtered, 17, 11, depth);
      FillValue(target, depth == 1 ? 40 : -40);
      FillValue(filtered, depth == 1 ? 200 : 300);
      ApplyMask(filtered, target, mask, 0, 1);
      const int expect = depth == 1 ? (40 + 255 * 200 + 128) >> 8 : (-40 + 255 * 300 + 128) >> 8;
      EXPECT_EQ(Sample(target, 5, 5), expect);
      ApplyMask(filtered, filtered, mask, 0, 1);
      EXPECT_EQ(Sample(filtered, 5, 5), depth == 1 ? 200 : 300);
    }
  }
}

TEST(MaskCreate, RadiusThreeKeepsRawEdgesInTheOuterBand) {
  std::mt19937 rng(TestSeed());
  SCOPED_TRACE(TestSeed());
  const int w = 13, h = 9;
  TChannel src, raw, smooth, edge;
  Make(src, w, h, 1);
  FillRandom(src, rng);
  Make(raw, w, h, 1);
  Make(smooth, w, h, 1);
  CreateMask(src, raw, 1, edge);
  CreateMask(src, smooth, 3, edge);
  for (int i = 0; i <= w; ++i) EXPECT_EQ(smooth.Data()[i], 0);
  for (int i = w * (h - 1) - 1; i < w * h; ++i) EXPECT_EQ(smooth.Data()[i], 0);
  for (int i = w + 1; i <= 2 * w + 1; ++i) EXPECT_EQ(smooth.Data()[i], raw.Data()[i]) << i;
  for (int i = w * (h - 2) - 2; i <= w * (h - 1) - 2; ++i) EXPECT_EQ(smooth.Data()[i], raw.Data()[i]) << i;
  // Inside: the 5x5 mean of the raw edges.
  const int i = 4 * w + 6;
  int sum = 0;
  for (int dy = -2; dy <= 2; ++dy)
    for (int dx = -2; dx <= 2; ++dx) sum += raw.Data()[i + dy * w + dx];
  EXPECT_EQ(smooth.Data()[i], sum / 25);
}

TEST(MaskCreate, RadiusIsClampedAndSourceMayBeTheMask) {
  std::mt19937 rng(TestSeed());
  SCOPED_TRACE(TestSeed());
  TChannel src, a, b, edge;
  Make(src, 23, 14, 1);
  FillRandom(src, rng);
  Make(a, 23, 14, 1);
  Make(b, 23, 14, 1);
  for (auto [given, same] : {std::pair{0, 1}, {-5, 1}, {4, 3}, {99, 3}}) {
    CreateMask(src, a, given, edge);
    CreateMask(src, b, same, edge);
    EXPECT_TRUE(PlanesEqual(a, b)) << "radius " << given;
  }
  for (int radius : {1, 2, 3}) {
    TChannel inPlace;
    Make(inPlace, 23, 14, 1);
    inPlace.CopyFrom(src);
    CreateMask(src, a, radius, edge);
    CreateMask(inPlace, inPlace, radius, edge);
    EXPECT_TRUE(PlanesEqual(a, inPlace)) << FirstDifference(a, inPlace);
  }
}

// Planes too small for the operators: under 3x3 the mask is all zero; radius
// 3 under 5x5 smooths like radius 2.
TEST(MaskCreate, SmallPlanesAreSafeAndDefined) {
  std::mt19937 rng(TestSeed());
  SCOPED_TRACE(TestSeed());
  RestoreLevel restore;
  for (KernelLevel level : kLevels) {
    restore.Cap(level);
    for (int w = 1; w <= 6; ++w)
      for (int h = 1; h <= 6; ++h)
        for (int depth : {1, 2}) {
          TChannel src, m1, m2, m3, edge;
          Make(src, w, h, depth);
          FillRandom(src, rng);
          Make(m2, w, h, 1);
          Make(m3, w, h, 1);
          CreateMask(src, m2, 2, edge);
          CreateMask(src, m3, 3, edge);
          if (w < 3 || h < 3) {
            for (int i = 0; i < w * h; ++i) ASSERT_EQ(m3.Data()[i], 0);
          }
          if (w < 5 || h < 5) {
            EXPECT_TRUE(PlanesEqual(m2, m3)) << w << "x" << h;
          }
          Make(m1, w, h, 1);
          CreateMaskReference(src, m1, 3, edge);
          EXPECT_TRUE(PlanesEqual(m1, m3)) << w << "x" << h << ": " << FirstDifference(m1, m3);
        }
  }
}

TEST(MaskWeightTest, WorkedValues) {
  for (int amount = 1; amount <= 4; ++amount) EXPECT_EQ(MaskWeight(128, amount, 0), 128);
  EXPECT_EQ(MaskWeight(0, 1, 0), 0);
  EXPECT_EQ(MaskWeight(255, 1, 0), 255);
  EXPECT_EQ(MaskWeight(228, 1, 100), 128);
  EXPECT_EQ(MaskWeight(229, 1, 100), 129);
  EXPECT_EQ(MaskWeight(229, 2, 100), 130);
  EXPECT_EQ(MaskWeight(229, 4, 100), 136);
  EXPECT_EQ(MaskWeight(200, 1, 100), 100);
  EXPECT_EQ(MaskWeight(200, 3, 100), 16);
  EXPECT_EQ(MaskWeight(200, 4, 100), 0);  // larger amounts saturate faster
  EXPECT_EQ(MaskWeight(100, 2, -100), 255);
  EXPECT_EQ(MaskWeight(10, 1, -100), 110);
  // Out-of-range arguments stay defined.
  EXPECT_EQ(MaskWeight(129, 40, 0), 255);
  EXPECT_EQ(MaskWeight(127, 40, 0), 0);
  EXPECT_EQ(MaskWeight(128, 40, 0), 128);
  EXPECT_EQ(MaskWeight(0, 0, 0), MaskWeight(0, 1, 0));
  EXPECT_EQ(MaskWeight(255, 3, INT_MAX), 0);
  EXPECT_EQ(MaskWeight(0, 3, INT_MIN), 255);
}

TEST(MaskApply, WeightedBlendWorkedValues) {
  TChannel target, filtered, mask;
  for (int amount = 1; amount <= 4; ++amount) {
    Make(mask, 3, 2, 1, 128);
    Make(target, 3, 2, 1);
    Make(filtered, 3, 2, 1);
    FillValue(target, 100);
    FillValue(filtered, 200);
    ApplyMask(filtered, target, mask, 0, amount);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(target.Data()[i], 150);  // (100*129 + 200*127 + 128) >> 8
  }
  // Depth 2 shifts round toward minus infinity.
  Make(target, 3, 2, 2);
  Make(filtered, 3, 2, 2);
  FillValue(target, -200);
  FillValue(filtered, -100);
  ApplyMask(filtered, target, mask, 0, 1);
  EXPECT_EQ(Sample(target, 1, 1), -150);  // -38372 >> 8
  // Weight 255 keeps the unfiltered sample, also at the extremes.
  Make(mask, 3, 2, 1, 255);
  FillValue(target, -32768);
  FillValue(filtered, 32767);
  ApplyMask(filtered, target, mask, 0, 1);
  EXPECT_EQ(Sample(target, 2, 0), -32768);
}

TEST(MaskApply, AmountBelowOneCopiesTheFilteredPlane) {
  std::mt19937 rng(TestSeed());
  SCOPED_TRACE(TestSeed());
  for (int depth : {1, 2}) {
    for (int amount : {0, -3}) {
      TChannel target, filtered, unusedMask;
      Make(target, 21, 5, depth);
      Make(filtered, 21, 5, depth);
      FillRandom(target, rng);
      FillRandom(filtered, rng);
      ApplyMask(filtered, target, unusedMask, 50, amount);
      EXPECT_TRUE(PlanesEqual(target, filtered));
    }
  }
}

TEST(MaskShow, WeightsAsBytesOrSamples) {
  TChannel mask, out;
  Make(mask, 4, 3, 1, 228);
  mask.Data()[0] = 0;
  Make(out, 4, 3, 2);
  ShowMask(mask, out, 1, 100);
  EXPECT_EQ(out.Data16()[1], 128);
  EXPECT_EQ(out.Data16()[0], 0);
  ShowMask(mask, mask, 2, 100);  // in place
  EXPECT_EQ(mask.Data()[1], 128);
  EXPECT_EQ(mask.Data()[0], 0);
}

TEST(MaskErrors, MismatchedPlanesAreRejectedWithoutChange) {
  TChannel src, mask, edge, target, filtered, out;
  Make(src, 10, 8, 1, 5);
  Make(mask, 9, 8, 1, 3);
  EXPECT_THROW(CreateMask(src, mask, 1, edge), std::invalid_argument);
  EXPECT_EQ(mask.Data()[0], 3);
  EXPECT_THROW(CreateMask(src, src, 1, src), std::invalid_argument);
  Make(target, 10, 8, 1, 1);
  Make(filtered, 10, 8, 2, 2);
  EXPECT_THROW(ApplyMask(filtered, target, mask, 0, 1), std::invalid_argument);
  Make(filtered, 10, 8, 1, 2);
  EXPECT_THROW(ApplyMask(filtered, target, mask, 0, 1), std::invalid_argument);  // mask 9 wide
  EXPECT_EQ(target.Data()[0], 1);
  Make(out, 10, 8, 1);
  EXPECT_THROW(ShowMask(mask, out, 1, 0), std::invalid_argument);
  // Empty planes are left alone.
  TChannel none, none2, none3;
  EXPECT_NO_THROW(CreateMask(none, none2, 2, none3));
  EXPECT_NO_THROW(ApplyMask(none, none2, none3, 0, 1));
}

// Every kernel level against the plain reference on random planes.
TEST(MaskKernels, MatchReferenceOnRandomPlanes) {
  const uint32_t seed = TestSeed();
  SCOPED_TRACE(seed);
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> radiusD(0, 4), offsetD(-150, 150), amountD(-1, 6);
  RestoreLevel restore;
  const auto sizes = RandomSizes(rng);
  TChannel edge;  // the caller's edge plane, kept across sizes
  for (auto [w, h] : sizes) {
    for (int depth : {1, 2}) {
      TChannel src, refMask, refEdge, target0, filtered;
      Make(src, w, h, depth);
      FillRandom(src, rng);
      const int radius = radiusD(rng), offset = offsetD(rng), amount = amountD(rng);
      Make(refMask, w, h, 1);
      CreateMaskReference(src, refMask, radius, refEdge);
      Make(target0, w, h, depth);
      Make(filtered, w, h, depth);
      FillRandom(target0, rng);
      FillRandom(filtered, rng);
      // Random edges are mostly 0 or 255; a random mask covers every weight.
      TChannel anyMask, refTarget, refShow;
      Make(anyMask, w, h, 1);
      FillRandom(anyMask, rng);
      Make(refTarget, w, h, depth);
      refTarget.CopyFrom(target0);
      ApplyMaskReference(filtered, refTarget, anyMask, offset, amount);
      Make(refShow, w, h, depth);
      ShowMaskReference(anyMask, refShow, amount, offset);
      for (KernelLevel level : kLevels) {
        restore.Cap(level);
        SCOPED_TRACE(::testing::Message() << w << "x" << h << " depth " << depth << " radius " << radius << " offset "
                                          << offset << " amount " << amount << " level " << static_cast<int>(level));
        TChannel m, t, s;
        Make(m, w, h, 1, 0x5A);
        edge.Fill(0xEE);  // stale from the last use
        CreateMask(src, m, radius, edge);
        ASSERT_TRUE(PlanesEqual(refMask, m)) << FirstDifference(refMask, m);
        Make(t, w, h, depth);
        t.CopyFrom(target0);
        ApplyMask(filtered, t, anyMask, offset, amount);
        ASSERT_TRUE(PlanesEqual(refTarget, t)) << FirstDifference(refTarget, t);
        Make(s, w, h, depth);
        ShowMask(anyMask, s, amount, offset);
        ASSERT_TRUE(PlanesEqual(refShow, s)) << FirstDifference(refShow, s);
      }
    }
  }
}

}  // namespace
}  // namespace tarvo

namespace tarvo {
namespace {

// Radius 2 and 3 on Depth 1 planes take a one-sweep path (with its own row
// handling at the top, bottom and tail columns, and its scratch rows in the
// edge plane when that is large enough, else on the stack for narrow planes;
// wide and low planes keep the two-sweep path). Gentle slopes with noise give
// edge values across 0..255, so every box sum and the clamp at 255 are hit.
TEST(MaskKernels, OneSweepRadiiMatchReferenceOnEveryShape) {
  const uint32_t seed = TestSeed();
  SCOPED_TRACE(seed);
  std::mt19937 rng(seed);
  masksharp_test::RestoreLevel restore;
  const std::pair<int, int> sizes[] = {{3, 3},   {5, 5},   {4, 7},    {7, 4},    {17, 9},  {18, 9},
                                       {19, 30}, {64, 64}, {513, 7},  {600, 5},  {700, 40}, {1920, 28},
                                       {33, 200}, {4099, 12}};
  for (auto [w, h] : sizes) {
    for (int pattern = 0; pattern < 2; ++pattern) {
      TChannel src;
      masksharp_test::Make(src, w, h, 1);
      if (pattern == 0) {
        std::uniform_int_distribution<int> noise(-12, 12);
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) test::SetSample(src, x, y, std::clamp((x * 5 + y * 3) % 256 + noise(rng), 0, 255));
      } else {
        test::FillRandom(src, rng, 0, 255);
      }
      for (int radius : {2, 3}) {
        TChannel ref, refEdge;
        masksharp_test::Make(ref, w, h, 1);
        CreateMaskReference(src, ref, radius, refEdge);
        for (KernelLevel level : masksharp_test::kLevels) {
          restore.Cap(level);
          SCOPED_TRACE(::testing::Message() << w << "x" << h << " pattern " << pattern << " radius " << radius
                                            << " level " << static_cast<int>(level));
          TChannel m, edge;
          masksharp_test::Make(m, w, h, 1, 0x5A);
          masksharp_test::Make(edge, w, h, 1, 0xEE);  // stale scratch
          CreateMask(src, m, radius, edge);
          ASSERT_TRUE(test::PlanesEqual(ref, m)) << test::FirstDifference(ref, m);
        }
      }
    }
  }
}

}  // namespace
}  // namespace tarvo
