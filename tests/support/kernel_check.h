// A run of every kernel table entry at every instruction-set level against
// the plain entry: random and edge sizes, both depths, edge sample values,
// and guard bands around every plane that catch writes outside it. Used by
// the kernel tests and by the kernels fuzzer; depends on the processing core
// only.
#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace tarvo::test {

// One shape to check: plane size, sample fill (0 random over the full range,
// 1 only the extreme values, 2 crowded at the bottom, 3 crowded at the top)
// and the parameters the entries take, all drawn from rng.
struct KernelCase {
  int width = 3;
  int height = 3;
  int fill = 0;
};

// Checks every entry of every family at every level this CPU runs on planes
// of the case's size (both depths). Returns an empty string, or what failed:
// family, entry, level, size, depth and the first differing byte.
std::string CheckKernels(const KernelCase& c, std::mt19937& rng);

// Prints, for every entry and level, the time of one call on a full-HD plane.
void BenchKernels(std::mt19937& rng);

}  // namespace tarvo::test
