// Internal to the temporal filter: the per-call lookup tables and the row
// kernels of the optimised path. Every kernel gives the same bits as the plain
// TemporalSmoothReference.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "filters/temporal.h"

namespace tarvo::temporal_detail {

// Level code of a sample in full motion (out = history + s).
inline constexpr int kFullMotion = 16;
// |med| at or above this index shares one level entry (always full motion,
// since the motion thresholds never exceed 9 x 123 < 9 x kMedianClamp).
inline constexpr int kMedianClamp = 127;
// Columns of the transfer table: |s| 0..255; larger |s| transfers as identity.
inline constexpr int kTransferColumns = 256;

struct TemporalTables {
  int32_t T = 0;
  int32_t flags = 0;
  // Level (0..15) or kFullMotion for a median difference of magnitude
  // min(|med|, kMedianClamp); all zero when motion detection is off.
  alignas(32) uint8_t levelByMedian[128] = {};
  // Transfer magnitude f_level(|s|) for level rows 0..15, identity beyond T,
  // and row kFullMotion the identity. Indexed level * 256 + |s|.
  alignas(32) int32_t transfer[(kFullMotion + 1) * kTransferColumns] = {};
  // The same as bytes, for per-lane lookups.
  alignas(32) uint8_t transferBytes[(kFullMotion + 1) * kTransferColumns] = {};
  // Row 0 as bytes (|s| 0..127), for the kernels that look up without levels.
  alignas(32) uint8_t transfer0[128] = {};
  // With motion detection: the smallest median magnitude K from which every
  // larger one is full motion (1..kMedianClamp); kMedianClamp otherwise.
  int32_t fullFromMedian = kMedianClamp;
  // With motion detection, when it fits 128 entries: f for |med| = a < K and
  // every |s| = j a sample below full motion can have (j < jointRow), in one
  // table indexed jointStart[a] + j = a * jointRow + j. jointStart[K] is 0x80,
  // an index that reads nothing.
  bool smallJoint = false;
  int32_t jointRow = 0;
  int32_t jointSlices = 0;  // 16-entry slices the joint table spans
  alignas(16) uint8_t jointStart[16] = {};
  alignas(32) uint8_t joint[128] = {};
  // False only if the motion thresholds fall outside the range the
  // level-by-median table covers; the caller then takes the plain path.
  bool usable = false;
};

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
inline int16_t Wrap16(int32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(v) & 0xFFFFu)); }

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

// Difference pass over linear indices a..b inclusive: hist[i] = current - hist.
// Main pass over a..b: reads the stored differences of the 3x3 blocks (rows at
// offset +-w must already hold them) and rewrites cur.
using DiffFn8 = void (*)(const uint8_t* cur, uint8_t* hist, ptrdiff_t a, ptrdiff_t b);
using DiffFn16 = void (*)(const int16_t* cur, int16_t* hist, ptrdiff_t a, ptrdiff_t b);
using MainFn8 = void (*)(uint8_t* cur, const uint8_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b,
                         const TemporalTables& t);
using MainFn16 = void (*)(int16_t* cur, const int16_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b,
                          const TemporalTables& t);

void Diff8Scalar(const uint8_t* cur, uint8_t* hist, ptrdiff_t a, ptrdiff_t b);
void Diff16Scalar(const int16_t* cur, int16_t* hist, ptrdiff_t a, ptrdiff_t b);
void Main8Scalar(uint8_t* cur, const uint8_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b, const TemporalTables& t);
void Main16Scalar(int16_t* cur, const int16_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b, const TemporalTables& t);

void Diff8Sse2(const uint8_t* cur, uint8_t* hist, ptrdiff_t a, ptrdiff_t b);
void Diff16Sse2(const int16_t* cur, int16_t* hist, ptrdiff_t a, ptrdiff_t b);
void Main8Sse2(uint8_t* cur, const uint8_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b, const TemporalTables& t);
void Main16Sse2(int16_t* cur, const int16_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b, const TemporalTables& t);

void Diff8Avx2(const uint8_t* cur, uint8_t* hist, ptrdiff_t a, ptrdiff_t b);
void Diff16Avx2(const int16_t* cur, int16_t* hist, ptrdiff_t a, ptrdiff_t b);
void Main8Avx2(uint8_t* cur, const uint8_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b, const TemporalTables& t);
void Main16Avx2(int16_t* cur, const int16_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b, const TemporalTables& t);

}  // namespace tarvo::temporal_detail
