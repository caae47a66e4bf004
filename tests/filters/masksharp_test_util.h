// Helpers shared by the mask and sharpening tests.
#pragma once

#include <random>
#include <utility>
#include <vector>

#include "planes/channel.h"
#include "support/kernel_level.h"
#include "support/test_support.h"
#include "util/cpu_features.h"

namespace tarvo::masksharp_test {

inline constexpr KernelLevel kLevels[] = {KernelLevel::Scalar, KernelLevel::Sse2, KernelLevel::Avx2};

// Lifts the kernel cap again when a test that lowered it ends.
using RestoreLevel = test::KernelLevelGuard;

inline void Make(TChannel& c, int w, int h, int depth, int fill = 0) {
  c.SetSize(w, h, depth);
  c.Fill(static_cast<uint8_t>(fill));
}

inline void FillValue(TChannel& c, int v) {
  for (int y = 0; y < c.Height(); ++y)
    for (int x = 0; x < c.Width(); ++x) test::SetSample(c, x, y, v);
}

inline void Copy(TChannel& dst, const TChannel& src) {
  dst.SizeLike(src);
  dst.CopyFrom(src);
}

// Tiny, odd and vector-tail sizes, then random ones.
inline std::vector<std::pair<int, int>> RandomSizes(std::mt19937& rng) {
  std::vector<std::pair<int, int>> sizes = {{1, 1}, {3, 3}, {5, 5}, {4, 9}, {64, 3}, {65, 5}, {333, 7}, {1920, 6}};
  std::uniform_int_distribution<int> dimW(1, 90), dimH(1, 24);
  for (int k = 0; k < 40; ++k) sizes.push_back({dimW(rng), dimH(rng)});
  return sizes;
}

}  // namespace tarvo::masksharp_test
