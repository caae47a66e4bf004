// Every kernel table entry at every level against the plain entry.
// TARVO_TEST_SEED replays a run; TARVO_CHECKASM_BENCH=1 also prints the time of
// one call of the main entries per level.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "support/kernel_check.h"
#include "support/test_support.h"

namespace tarvo {
namespace {

TEST(KernelTables, EveryEntryMatchesThePlainOneOnEdgeSizes) {
  const uint32_t seed = test::TestSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  // Tiny planes, odd widths, widths one either side of the vector widths, and
  // rows long enough for the multi-group paths; tall narrow planes and wide
  // short ones for the banded entries; wide planes of a few dozen rows for the
  // despeckle strips.
  const int sizes[][2] = {{1, 1},   {2, 5},   {3, 3},   {4, 3},   {3, 7},   {5, 5},    {15, 4},   {16, 3},
                          {17, 5},  {31, 6},  {32, 3},  {33, 7},  {34, 4},  {63, 5},   {64, 3},   {65, 9},
                          {95, 31}, {257, 6}, {601, 5}, {640, 4}, {643, 7}, {1300, 6}, {3100, 4}, {17, 123},
                          {3, 41},  {1920, 7}, {4096, 6}, {4095, 3}, {37, 101},
                          // Tall enough for the despeckle strips' steady rows,
                          // one strip and several, edges that fall anywhere.
                          {256, 40}, {300, 41}, {705, 38}, {1475, 36}, {1921, 39}};
  for (const auto& sz : sizes)
    for (int fill = 0; fill < 4; ++fill) {
      const std::string failure = test::CheckKernels({sz[0], sz[1], fill}, rng);
      ASSERT_TRUE(failure.empty()) << failure;
    }
}

TEST(KernelTables, EveryEntryMatchesThePlainOneOnRandomSizes) {
  const uint32_t seed = test::TestSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  for (int n = 0; n < 60; ++n) {
    const int w = std::uniform_int_distribution<int>(1, n % 4 == 0 ? 700 : 80)(rng);
    const int h = std::uniform_int_distribution<int>(1, 24)(rng);
    const std::string failure = test::CheckKernels({w, h, n % 4}, rng);
    ASSERT_TRUE(failure.empty()) << failure;
  }
}

TEST(KernelTables, BenchmarkModeOnRequest) {
  const char* bench = std::getenv("TARVO_CHECKASM_BENCH");
  if (bench == nullptr || std::string(bench) != "1") GTEST_SKIP() << "set TARVO_CHECKASM_BENCH=1 for the timings";
  std::mt19937 rng(test::TestSeed());
  test::BenchKernels(rng);
}

}  // namespace
}  // namespace tarvo
