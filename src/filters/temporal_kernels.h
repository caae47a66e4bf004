// Internal to the temporal filter: the per-call lookup tables and the kernel
// table of the optimised path, one per instruction set. Declarations only:
// the units built for wider instruction sets include this header, so it must
// not hold code that could be shared between them. Every kernel gives the
// same bits as the plain TemporalSmoothReference.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvo::temporal_detail {

// Level code of a sample in full motion (out = history + s).
constexpr int kFullMotion = 16;
// |med| at or above this index shares one level entry (always full motion,
// since the motion thresholds never exceed 9 x 123 < 9 x kMedianClamp).
constexpr int kMedianClamp = 127;
// Columns of the transfer table: |s| 0..255; larger |s| transfers as identity.
constexpr int kTransferColumns = 256;

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
  // The same for the 512-bit kernels when K * jointRow <= 512 (any K):
  // wideJoint[a * jointRow + j].
  bool hasWideJoint = false;
  alignas(64) uint8_t wideJoint[512] = {};
  // False only if the motion thresholds fall outside the range the
  // level-by-median table covers; the caller then takes the plain path.
  bool usable = false;
};

// Difference pass over linear indices a..b inclusive: hist[i] = current - hist.
// Main pass over a..b: reads the stored differences of the 3x3 blocks (rows at
// offset +-w must already hold them) and rewrites cur.
struct Kernels {
  void (*diff8)(const uint8_t* cur, uint8_t* hist, ptrdiff_t a, ptrdiff_t b);
  void (*diff16)(const int16_t* cur, int16_t* hist, ptrdiff_t a, ptrdiff_t b);
  void (*main8)(uint8_t* cur, const uint8_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b, const TemporalTables& t);
  void (*main16)(int16_t* cur, const int16_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b, const TemporalTables& t);
};

const Kernels& ScalarKernels();
const Kernels& Sse2Kernels();
const Kernels& Avx2Kernels();
// 512-bit kernels: only where the processor has AVX-512 F, BW, VL and VBMI.
const Kernels& Avx512Kernels();

// The plain entries, which the vector ones use for row tails.
void Diff8Scalar(const uint8_t* cur, uint8_t* hist, ptrdiff_t a, ptrdiff_t b);
void Diff16Scalar(const int16_t* cur, int16_t* hist, ptrdiff_t a, ptrdiff_t b);
void Main8Scalar(uint8_t* cur, const uint8_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b, const TemporalTables& t);
void Main16Scalar(int16_t* cur, const int16_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b, const TemporalTables& t);

}  // namespace tarvo::temporal_detail
