// Float-to-integer rounding used wherever the filter turns a real value into a
// table entry or a derived setting.
#pragma once

#include <cfenv>
#include <cmath>
#include <cstdint>

namespace tarvo {

// Nearest integer, halves to the even neighbour, on an x87 extended-precision
// value. Tables and derived values are defined on extended intermediates, so
// callers must build their expressions in long double (constants with the L
// suffix) before rounding; a double intermediate can move a value across a half.
inline int64_t Rnd(long double z) {
  // llrintl honours the current rounding mode; the process default is
  // round-to-nearest-even and nothing in this library changes it. (It is much
  // cheaper than nearbyintl, which saves and restores the inexact flag.)
  return static_cast<int64_t>(std::llrintl(z));
}

}  // namespace tarvo
