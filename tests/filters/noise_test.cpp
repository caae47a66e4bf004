#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "filters/despeckle.h"
#include "filters/median.h"
#include "support/kernel_level.h"
#include "support/test_support.h"
#include "util/cpu_features.h"

namespace tarvo {
namespace {

using test::FillRandom;
using test::FirstDifference;
using test::PlanesEqual;
using test::Sample;
using test::SetSample;

// The forms that take the kernels of the active level, as plain pointers.
constexpr void (*kDespeckle)(const TChannel&, TChannel&, int) = Despeckle;
constexpr void (*kPlainMedian)(const TChannel&, TChannel&, int, int) = PlainMedian;
constexpr void (*kWeightedMedian)(const TChannel&, TChannel&, int, int) = WeightedMedian;

// Runs fn once for every kernel level this processor offers.
template <typename Fn>
void ForEachKernelLevel(Fn fn) {
  test::KernelLevelGuard guard;
  for (KernelLevel level : {KernelLevel::Scalar, KernelLevel::Sse2, KernelLevel::Avx2}) {
    if (!guard.Cap(level)) continue;
    SCOPED_TRACE("kernel level " + std::to_string(static_cast<int>(level)));
    fn();
  }
}

void FillValue(TChannel& p, int v) {
  for (int y = 0; y < p.Height(); ++y)
    for (int x = 0; x < p.Width(); ++x) SetSample(p, x, y, v);
}

// A plane of one value with a different value at (cx, cy).
void MakeSpeck(TChannel& p, int w, int h, int depth, int background, int cx, int cy, int speck) {
  p.SetSize(w, h, depth);
  FillValue(p, background);
  SetSample(p, cx, cy, speck);
}

// Fills a plane with samples from [lo, hi] (also for Depth 1), so that nearly
// equal neighbours and values next to the limits are common.
void FillRange(TChannel& p, std::mt19937& rng, int lo, int hi) {
  std::uniform_int_distribution<int> d(lo, hi);
  for (int y = 0; y < p.Height(); ++y)
    for (int x = 0; x < p.Width(); ++x) SetSample(p, x, y, d(rng));
}

// ---------------------------------------------------------------- despeckle

TEST(Despeckle, SingleSpeckShrinksByTheGivenAmounts) {
  struct Case {
    int strength, centre, neighbour;
  };
  for (const Case c : {Case{1, 152, 101}, Case{2, 144, 102}, Case{3, 120, 103}}) {
    SCOPED_TRACE("strength " + std::to_string(c.strength));
    ForEachKernelLevel([&] {
      for (bool reference : {false, true}) {
        TChannel src, dst;
        MakeSpeck(src, 7, 7, 1, 100, 3, 3, 160);
        dst.SizeLike(src);
        (reference ? DespeckleReference : kDespeckle)(src, dst, c.strength);
        EXPECT_EQ(Sample(dst, 3, 3), c.centre);
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx)
            if (dx || dy) {
              EXPECT_EQ(Sample(dst, 3 + dx, 3 + dy), c.neighbour) << dx << "," << dy;
            }
        EXPECT_EQ(Sample(dst, 0, 0), 100);
        EXPECT_EQ(Sample(src, 3, 3), 160);  // the source is untouched
      }
    });
  }
}

TEST(Despeckle, StrengthClampAndPlainCopy) {
  std::mt19937 rng(test::TestSeed());
  SCOPED_TRACE("seed " + std::to_string(test::TestSeed()));
  ForEachKernelLevel([&] {
    for (int depth : {1, 2}) {
      TChannel src, a, b;
      src.SetSize(29, 11, depth);
      FillRandom(src, rng);
      a.SizeLike(src);
      b.SizeLike(src);
      Despeckle(src, a, 4);
      Despeckle(src, b, 5);
      EXPECT_TRUE(PlanesEqual(a, b)) << FirstDifference(a, b);
      Despeckle(src, b, 99);
      EXPECT_TRUE(PlanesEqual(a, b)) << FirstDifference(a, b);
      for (int s : {0, -3}) {
        b.Fill(0x5A);
        Despeckle(src, b, s);
        EXPECT_TRUE(PlanesEqual(src, b)) << FirstDifference(src, b);
      }
      a.CopyFrom(src);
      Despeckle(a, a, 0);
      EXPECT_TRUE(PlanesEqual(src, a));
      // Strength 1 is one cycle of step 1, strength 2 one cycle of step 2.
      DespeckleReference(src, a, 1);
      DespeckleReference(src, b, 2);
      EXPECT_FALSE(PlanesEqual(a, b));
    }
  });
}

TEST(Despeckle, FlatFieldIsNeverChanged) {
  ForEachKernelLevel([&] {
    for (int depth : {1, 2})
      for (int v : {0, 77, 255, -32768, 32767}) {
        if (depth == 1 && v < 0) continue;
        TChannel p, ref;
        p.SetSize(40, 9, depth);
        FillValue(p, v);
        ref.SizeLike(p);
        ref.CopyFrom(p);
        Despeckle(p, p, 4);
        EXPECT_TRUE(PlanesEqual(p, ref)) << FirstDifference(p, ref);
      }
  });
}

// Doubling every sample and moving it by a constant doubles the steps on
// Depth 2 and changes nothing else, so the result is the Depth 1 result mapped
// the same way.
TEST(Despeckle, Depth2DoublesTheSteps) {
  std::mt19937 rng(test::TestSeed());
  SCOPED_TRACE("seed " + std::to_string(test::TestSeed()));
  ForEachKernelLevel([&] {
    for (int strength = 1; strength <= 4; ++strength) {
      TChannel s1, d1, s2, d2;
      s1.SetSize(37, 13, 1);
      FillRange(s1, rng, 90, 130);
      d1.SizeLike(s1);
      s2.SetSize(37, 13, 2);
      for (int y = 0; y < 13; ++y)
        for (int x = 0; x < 37; ++x) SetSample(s2, x, y, 2 * Sample(s1, x, y) - 300);
      d2.SizeLike(s2);
      Despeckle(s1, d1, strength);
      Despeckle(s2, d2, strength);
      for (int y = 0; y < 13; ++y)
        for (int x = 0; x < 37; ++x) ASSERT_EQ(Sample(d2, x, y), 2 * Sample(d1, x, y) - 300) << x << "," << y;
    }
  });
}

// ------------------------------------------------------------------- median

TEST(Median, LineAcrossBackground) {
  ForEachKernelLevel([&] {
    for (int depth : {1, 2}) {
      TChannel src, plain, weighted;
      src.SetSize(9, 7, depth);
      FillValue(src, 200 * depth);
      for (int x = 0; x < 9; ++x) SetSample(src, x, 3, 100 * depth);
      plain.SizeLike(src);
      weighted.SizeLike(src);
      PlainMedian(src, plain, 255, 0);
      WeightedMedian(src, weighted, 255, 0);
      for (int x = 1; x < 8; ++x) {
        EXPECT_EQ(Sample(plain, x, 3), 200 * depth);
        EXPECT_EQ(Sample(weighted, x, 3), 150 * depth);
        EXPECT_EQ(Sample(plain, x, 2), 200 * depth);  // background stays
        EXPECT_EQ(Sample(weighted, x, 4), 200 * depth);
      }
    }
  });
}

TEST(Median, ThresholdAndMaxStep) {
  struct Case {
    int speck, maxStep, threshold, expect;
  };
  // Background 100: the reference value of the speck is 100 for both variants.
  const Case cases[] = {
      {140, 10, 0, 130},   // a difference of 40 moves by the max step
      {104, 10, 2, 100},   // a difference of 4 moves onto the reference
      {104, 10, 4, 104},   // a difference equal to the threshold stays
      {104, 10, 3, 100},   // one above the threshold moves
      {101, 10, 0, 101 - 1},
      {60, 10, 0, 70},
      {140, 0, 0, 140},    // max step 0 never changes a sample
      {140, -5, 0, 140},   // nor does a negative one
      {140, 255, -7, 100}, // a negative threshold acts as 0
  };
  ForEachKernelLevel([&] {
    for (int depth : {1, 2})
      for (const Case& c : cases)
        for (bool weighted : {false, true}) {
          SCOPED_TRACE("speck " + std::to_string(c.speck) + " step " + std::to_string(c.maxStep) + " threshold " +
                       std::to_string(c.threshold) + " depth " + std::to_string(depth));
          TChannel src, dst;
          // Depth 2 doubles samples, threshold and step alike.
          MakeSpeck(src, 40, 5, depth, 100 * depth, 20, 2, c.speck * depth);
          dst.SizeLike(src);
          (weighted ? kWeightedMedian : kPlainMedian)(src, dst, c.maxStep, c.threshold);
          EXPECT_EQ(Sample(dst, 20, 2), c.expect * depth);
        }
  });
}

TEST(Median, SamplesOutsideTheRangeAreCopied) {
  std::mt19937 rng(test::TestSeed());
  SCOPED_TRACE("seed " + std::to_string(test::TestSeed()));
  ForEachKernelLevel([&] {
    for (int depth : {1, 2})
      for (bool weighted : {false, true}) {
        TChannel src, keep, dst;
        src.SetSize(50, 6, depth);
        FillRandom(src, rng);
        keep.SizeLike(src);
        keep.CopyFrom(src);
        dst.SizeLike(src);
        dst.Fill(0x3C);
        (weighted ? kWeightedMedian : kPlainMedian)(src, dst, 255, 0);
        EXPECT_TRUE(PlanesEqual(src, keep));
        const size_t edge = 51 * depth;
        EXPECT_EQ(0, std::memcmp(dst.Data(), src.Data(), edge));
        EXPECT_EQ(0, std::memcmp(dst.Data() + dst.ByteSize() - edge, src.Data() + src.ByteSize() - edge, edge));
      }
  });
}

// The reference agrees with a plain sort of the neighbourhood.
TEST(Median, ReferenceMatchesSortedNeighbourhood) {
  std::mt19937 rng(test::TestSeed());
  SCOPED_TRACE("seed " + std::to_string(test::TestSeed()));
  for (int depth : {1, 2})
    for (bool weighted : {false, true}) {
      TChannel src, dst;
      src.SetSize(23, 9, depth);
      FillRandom(src, rng);
      dst.SizeLike(src);
      (weighted ? WeightedMedianReference : PlainMedianReference)(src, dst, 1000000, 0);
      const int w = 23;
      for (int i = w + 1; i < w * 8 - 1; ++i) {
        auto at = [&](int j) { return depth == 1 ? src.Data()[j] : src.Data16()[j]; };
        std::vector<int> v = {at(i - w - 1), at(i - w), at(i - w + 1), at(i - 1), at(i),
                              at(i + 1),     at(i + w - 1), at(i + w), at(i + w + 1)};
        if (weighted) v.insert(v.end(), {at(i - 1), at(i), at(i + 1)});
        std::sort(v.begin(), v.end());
        const int m = weighted ? (v[5] + v[6]) >> 1 : v[4];
        ASSERT_EQ(depth == 1 ? dst.Data()[i] : dst.Data16()[i], m) << "index " << i;
      }
    }
}

// ------------------------------------------------------------ both filters

TEST(NoiseFilters, PlanesBelowThreeByThreeAreCopied) {
  std::mt19937 rng(test::TestSeed());
  SCOPED_TRACE("seed " + std::to_string(test::TestSeed()));
  const int sizes[][2] = {{1, 1}, {2, 2}, {2, 9}, {9, 2}, {1, 40}, {40, 1}};
  ForEachKernelLevel([&] {
    for (int depth : {1, 2})
      for (const auto& sz : sizes) {
        TChannel src, dst;
        src.SetSize(sz[0], sz[1], depth);
        FillRandom(src, rng);
        dst.SizeLike(src);
        for (int op = 0; op < 6; ++op) {
          dst.Fill(0x11);
          switch (op) {
            case 0: Despeckle(src, dst, 4); break;
            case 1: DespeckleReference(src, dst, 2); break;
            case 2: PlainMedian(src, dst, 255, 0); break;
            case 3: WeightedMedian(src, dst, 255, 0); break;
            case 4: PlainMedianReference(src, dst, 255, 0); break;
            case 5: WeightedMedianReference(src, dst, 255, 0); break;
          }
          EXPECT_TRUE(PlanesEqual(src, dst)) << sz[0] << "x" << sz[1] << " op " << op;
        }
        Despeckle(src, src, 4);  // in place: nothing to do, nothing touched
      }
  });
}

TEST(NoiseFilters, MismatchedPlanesAreRejected) {
  TChannel a, b, empty1, empty2;
  a.SetSize(10, 10, 1);
  a.Fill(9);
  b.SetSize(10, 11, 1);
  b.Fill(7);
  EXPECT_THROW(Despeckle(a, b, 2), std::invalid_argument);
  EXPECT_THROW(PlainMedian(a, b, 10, 0), std::invalid_argument);
  EXPECT_THROW(WeightedMedianReference(a, b, 10, 0), std::invalid_argument);
  EXPECT_EQ(b.Data()[0], 7);  // nothing written
  b.SetSize(10, 10, 2);
  EXPECT_THROW(DespeckleReference(a, b, 2), std::invalid_argument);
  EXPECT_NO_THROW(Despeckle(empty1, empty2, 3));
  EXPECT_NO_THROW(PlainMedian(empty1, empty2, 3, 0));
}

}  // namespace
}  // namespace tarvo
