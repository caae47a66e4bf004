// Internal to the temporal filter: building the per-call tables and the
// per-sample helpers of the plain code.
#pragma once

#include <cmath>
#include <cstdint>

#include "filters/temporal.h"
#include "filters/temporal_kernels.h"

namespace tarvo::temporal_detail {

// Recursion level of a sample with motion value m (9 x the block median) when
// motion detection is on: 0 for m = 0, kFullMotion from M_15 up, otherwise the
// smallest i with |m| < M_i.
int MotionLevel(const TemporalLevels& levels, int32_t m);

void BuildTemporalTables(const TemporalLevels& levels, int32_t flags, TemporalTables& out);

// Rnd at a fraction of its cost: Rnd's nearbyintl saves and restores the
// floating-point environment (about 100 ns a call), which made building the
// sixteen curves of up to 124 entries cost more than smoothing a whole plane.
// llrintl rounds the same way in the same rounding mode; it may additionally
// set the inexact flag, which nothing here reads.
inline int64_t FastRnd(long double z) { return std::llrintl(z); }

// Settings limited to their ranges (0..100, flags 0..3).
TemporalSettings ClampSettings(const TemporalSettings& s);

// Signed 16-bit value of an integer, modulo 2^16 (the stored form of a Depth 2
// difference and of a Depth 2 output sample).
inline int16_t Wrap16(int32_t v) {
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(v) & 0xFFFFu));
}

inline int32_t Abs32(int32_t v) { return v < 0 ? -v : v; }

// Signed change relative to the history sample (current - d) of one active
// sample with stored difference d and median difference med.
inline int32_t TransferDelta(int32_t d, int32_t med, const TemporalTables& t) {
  const int32_t m = 9 * med;
  const int32_t s = (t.flags & 2) ? (7 * d + m) >> 4 : d;
  const int32_t am = Abs32(med);
  const int32_t level = t.levelByMedian[am < kMedianClamp ? am : kMedianClamp];
  const int32_t j = Abs32(s);
  const int32_t f = j < kTransferColumns ? t.transfer[level * kTransferColumns + j] : j;
  return s < 0 ? -f : f;
}

}  // namespace tarvo::temporal_detail
