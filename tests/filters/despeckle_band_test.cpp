// Despeckle cut into row bands and run by a band runner: the same bytes as
// the whole-plane reference for every runner, band count, job order, kernel
// level, depth and strength, in place or not.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "filters/despeckle.h"
#include "filters/kernel_set.h"
#include "support/band_runners.h"
#include "support/kernel_level.h"
#include "support/test_support.h"
#include "util/band_runner.h"
#include "util/cpu_features.h"

namespace tarvo {
namespace {

using test::FillRandom;
using test::FirstDifference;
using test::OrderedRunner;
using test::PlanesEqual;
using test::ThreadRunner;

// A plane with grain around a ramp and many specks, so that every pass
// moves samples; values reach both ends of the range.
void FillSpeckled(TChannel& p, std::mt19937& rng) {
  FillRandom(p, rng, p.Depth() == 1 ? 0 : -32768, p.Depth() == 1 ? 255 : 32767);
  std::uniform_int_distribution<int> grain(-3, 3), speck(0, 15);
  for (int y = 0; y < p.Height(); ++y)
    for (int x = 0; x < p.Width(); ++x) {
      if (speck(rng) == 0) continue;  // keep the random value: a speck
      const int v = 60 + (x + 2 * y) % 120 + grain(rng);
      test::SetSample(p, x, y, p.Depth() == 1 ? v : (v - 128) * 256);
    }
}

TEST(DespeckleBands, MatchTheReferenceWithAnyRunnerLevelDepthAndStrength) {
  const uint32_t seed = test::TestSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  // Odd band counts and job orders catch band-edge faults; the sizes give
  // groups of 2, 4 and 48 passes (wide, full-HD and narrow rows).
  std::vector<std::unique_ptr<BandRunner>> runners;
  runners.push_back(std::make_unique<ThreadRunner>(2));
  runners.push_back(std::make_unique<ThreadRunner>(3));
  runners.push_back(std::make_unique<OrderedRunner>(7, OrderedRunner::Order::kReverse));
  runners.push_back(std::make_unique<OrderedRunner>(16, OrderedRunner::Order::kShuffled, seed));
  const int sizes[][2] = {{1920, 240}, {641, 333}, {50, 1000}, {4096, 40}};
  test::KernelLevelGuard guard;
  for (const auto& size : sizes)
    for (int depth : {1, 2})
      for (int strength : {1, 2, 4}) {
        TChannel src, want;
        src.SetSize(size[0], size[1], depth);
        FillSpeckled(src, rng);
        want.SizeLike(src);
        DespeckleReference(src, want, strength);
        for (KernelLevel level : {KernelLevel::Scalar, KernelLevel::Sse2, KernelLevel::Avx2}) {
          if (!guard.Cap(level)) continue;
          const noise::Kernels& kernels = *ActiveKernelSet().noise;
          for (size_t r = 0; r < runners.size(); ++r) {
            const bool inPlace = (r + strength) % 2 == 0;
            SCOPED_TRACE(std::to_string(size[0]) + "x" + std::to_string(size[1]) + " depth " +
                         std::to_string(depth) + " strength " + std::to_string(strength) + " level " +
                         std::to_string(static_cast<int>(level)) + " runner " + std::to_string(r) +
                         (inPlace ? " in place" : ""));
            ASSERT_GT(PlanDespeckle(size[0], size[1], depth, strength, runners[r]->Parallelism(), inPlace).groups, 0)
                << "the banded path does not run";
            TChannel got, spare;
            got.SizeLike(src);
            if (inPlace) {
              got.CopyFrom(src);
              Despeckle(got, got, strength, kernels, *runners[r], spare);
            } else {
              std::memset(got.Data(), 0x3C, got.ByteSize());
              Despeckle(src, got, strength, kernels, *runners[r], spare);
            }
            ASSERT_TRUE(PlanesEqual(want, got)) << FirstDifference(want, got);
          }
        }
      }
}

// Large planes are swept a few times, not once for every two passes: the
// whole-plane kernel on one thread runs sixteen passes per sweep in column
// strips, and the banded one takes groups as large as its halo rule allows
// (strips again on rows this wide): 48 passes in three groups, in place too.
TEST(DespeckleBands, LargePlanesWithLargerGroupsMatchTheReference) {
  std::mt19937 rng(23);
  const SerialRunner serial;
  const ThreadRunner two(2);
  const noise::Kernels& kernels = *ActiveKernelSet().noise;
  TChannel src, want, got, spare;
  src.SetSize(2048, 1600, 2);
  FillSpeckled(src, rng);
  want.SizeLike(src);
  got.SizeLike(src);
  for (int strength : {2, 4}) {
    SCOPED_TRACE("strength " + std::to_string(strength));
    DespeckleReference(src, want, strength);
    Despeckle(src, got, strength, kernels, serial, spare);
    EXPECT_TRUE(PlanesEqual(want, got)) << FirstDifference(want, got);
    for (bool inPlace : {false, true}) {
      const DespecklePlan plan = PlanDespeckle(src.Width(), src.Height(), 2, strength, 2, inPlace);
      // Two-pass groups would sweep the plane 16 or 24 times.
      EXPECT_LE(plan.groups, 3);
      std::memset(got.Data(), 0x3C, got.ByteSize());
      if (inPlace) {
        got.CopyFrom(src);
        Despeckle(got, got, strength, kernels, two, spare);
      } else {
        Despeckle(src, got, strength, kernels, two, spare);
      }
      EXPECT_TRUE(PlanesEqual(want, got)) << FirstDifference(want, got) << (inPlace ? " in place" : "");
    }
  }
}

TEST(DespeckleBands, OneThreadAndSmallPlanesTakeTheWholePlanePath) {
  std::mt19937 rng(7);
  const SerialRunner serial;
  const ThreadRunner two(2);
  TChannel src, want, got, spare;
  for (const auto& size : {std::pair{1920, 1080}, std::pair{3, 3}, std::pair{200, 20}, std::pair{2, 50}}) {
    src.SetSize(size.first, size.second, 1);
    FillSpeckled(src, rng);
    want.SizeLike(src);
    got.SizeLike(src);
    DespeckleReference(src, want, 3);
    const bool banded = size.second == 1080;
    Despeckle(src, got, 3, *ActiveKernelSet().noise, banded ? static_cast<const BandRunner&>(serial) : two, spare);
    EXPECT_TRUE(PlanesEqual(want, got)) << FirstDifference(want, got);
    EXPECT_FALSE(spare.HasBuffer()) << "the spare plane was sized without need";
  }
  // Strength 0 copies, also with threads.
  src.SetSize(1920, 1080, 2);
  FillSpeckled(src, rng);
  got.SizeLike(src);
  Despeckle(src, got, 0, *ActiveKernelSet().noise, two, spare);
  EXPECT_TRUE(PlanesEqual(src, got));
  EXPECT_FALSE(spare.HasBuffer());
}

TEST(DespeckleBands, SparePlaneIsSizedAndMustBeSeparate) {
  std::mt19937 rng(11);
  const ThreadRunner two(2);
  const noise::Kernels& kernels = *ActiveKernelSet().noise;
  TChannel src, keep, want, got, spare;
  src.SetSize(720, 576, 2);
  FillSpeckled(src, rng);
  keep.SizeLike(src);
  keep.CopyFrom(src);
  want.SizeLike(src);
  DespeckleReference(src, want, 4);
  // A spare of another size (and depth) is resized; the source is only read.
  // Rows this wide run in place with copies of the band edges, which take a
  // small part of a plane.
  spare.SetSize(16, 16, 1);
  got.SizeLike(src);
  Despeckle(src, got, 4, kernels, two, spare);
  EXPECT_TRUE(PlanesEqual(want, got)) << FirstDifference(want, got);
  EXPECT_TRUE(PlanesEqual(keep, src));
  EXPECT_EQ(spare.Width(), 720);
  EXPECT_EQ(spare.Depth(), 2);
  EXPECT_GT(spare.Height(), 0);
  EXPECT_LT(spare.Height(), 576 / 4);
  // Narrow rows alternate with a whole spare plane.
  TChannel narrow, narrowWant, narrowGot;
  narrow.SetSize(200, 1200, 2);
  FillSpeckled(narrow, rng);
  narrowWant.SizeLike(narrow);
  narrowGot.SizeLike(narrow);
  DespeckleReference(narrow, narrowWant, 4);
  Despeckle(narrow, narrowGot, 4, kernels, two, spare);
  EXPECT_TRUE(PlanesEqual(narrowWant, narrowGot)) << FirstDifference(narrowWant, narrowGot);
  EXPECT_EQ(spare.Width(), 200);
  EXPECT_EQ(spare.Height(), 1200);
  // The destination or the source as the spare plane is refused before
  // anything is written.
  got.CopyFrom(src);
  EXPECT_THROW(Despeckle(src, got, 4, kernels, two, got), std::invalid_argument);
  EXPECT_THROW(Despeckle(got, got, 4, kernels, two, got), std::invalid_argument);
  EXPECT_THROW(Despeckle(src, got, 4, kernels, two, src), std::invalid_argument);
  EXPECT_TRUE(PlanesEqual(keep, got));
  EXPECT_TRUE(PlanesEqual(keep, src));
}

TEST(DespeckleBands, HalosCostLittleAtFullHd) {
  for (int depth : {1, 2})
    for (int strength = 1; strength <= 4; ++strength)
      for (int threads = 2; threads <= 16; ++threads) {
        SCOPED_TRACE("depth " + std::to_string(depth) + " strength " + std::to_string(strength) + " threads " +
                     std::to_string(threads));
        for (bool inPlace : {false, true}) {
          const DespecklePlan plan = PlanDespeckle(1920, 1080, depth, strength, threads, inPlace);
          EXPECT_EQ(plan.bands, threads);
          EXPECT_GT(plan.groups, 0);
          EXPECT_LT(plan.redundant, 0.10);
        }
      }
  EXPECT_EQ(PlanDespeckle(1920, 1080, 1, 4, 1, false).groups, 0);
}

}  // namespace
}  // namespace tarvo
