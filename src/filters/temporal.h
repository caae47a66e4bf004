// Recursive temporal smoothing with motion detection.
#pragma once

#include <cstdint>

#include "planes/channel.h"

namespace tarvo {
namespace temporal_detail {
struct Kernels;
}
class BandRunner;

struct TemporalSettings {
  int32_t threshold = 0;  // TempYThreshold or TempCThreshold, 0..100
  int32_t recursion = 0;  // TempRecursion
  int32_t onset = 0;      // TempOnset
  int32_t limit = 0;      // TempLimit
  int32_t response = 0;   // TempResponse
  int32_t flags = 0;      // TempFlags: bit 0 motion detection, bit 1 smoothing
};

// The sixteen recursion levels of one call.
struct TemporalLevels {
  int32_t T = 0;                  // largest noise difference is T - 1
  int32_t motion[16] = {};        // motion thresholds M_i
  uint8_t curve[16][124] = {};    // transfer curves f_i(j), j = 0..T
};
TemporalLevels BuildTemporalLevels(const TemporalSettings& settings);

// Smooths `work` against `history` (same size and Depth). Does nothing when
// historyValid is false. On return the history's processed range holds the
// differences current - history (the pipeline replaces the history next):
// Depth 1 limited to -128..127 as signed bytes, Depth 2 modulo 2^16 as signed
// 16-bit values. Planes smaller than 3 x 3, of different sizes or Depths, or
// sharing one buffer are left unchanged. Settings outside their ranges are
// limited to them (threshold and the others 0..100, flags 0..3).
//
// TemporalSmoothReference is the plain per-sample form; TemporalSmooth gives
// the same bits with the given kernel table, or without one with the kernels
// of ActiveKernelLevel(), chosen on every call.
void TemporalSmooth(TChannel& work, TChannel& history, const TemporalSettings& settings, bool historyValid,
                    const temporal_detail::Kernels& kernels);
// The same in row bands on `runner` (same bits for any runner).
void TemporalSmooth(TChannel& work, TChannel& history, const TemporalSettings& settings, bool historyValid,
                    const temporal_detail::Kernels& kernels, const BandRunner& runner);
void TemporalSmooth(TChannel& work, TChannel& history, const TemporalSettings& settings, bool historyValid);
void TemporalSmoothReference(TChannel& work, TChannel& history, const TemporalSettings& settings,
                             bool historyValid);

}  // namespace tarvo
