// The records the speed figures are quoted for: light, typical (the
// settings of bench/typical-record.txt) and heavy. Shared by the benchmarks,
// the file driver and the tests that render these records.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tarvo_typical_record.h"
#include "types/specs.h"
#include "types/specs_fields.h"

namespace tarvo::bench {

// Gamma 0.9 and saturation 120 %, as a typical grade.
inline void Grade(TSpecs& s) {
  s.Gamma = -5;  // stored negated: exponent 10^(-0.05), about 0.89
  s.Sat = 120;
}

// Levels and 4:2:0 only.
inline TSpecs LightRecord() {
  TSpecs s = BuiltInDefaultSpecs();
  Grade(s);
  s.ProcMode = 2;
  return s;
}

// The typical record of bench/typical-record.txt: a grade, 4:4:4, despeckle 2
// with a noise mask, temporal smoothing of Y and C with motion detection,
// sharpening 30 with a mask.
inline TSpecs TypicalRecord() {
  TSpecs s = BuiltInDefaultSpecs();
  for (std::string_view setting : kTypicalRecordSettings) {
    std::string error;
    if (!ApplyFieldAssignment(s, setting, &error)) {
      std::fprintf(stderr, "typical record: %s\n", error.c_str());
      std::abort();
    }
  }
  return s;
}

// Every stage on: despeckle 4 with the mask on both chains, weighted medians
// before and after, temporal smoothing with motion detection and smoothing,
// masked sharpening of luminance and colour.
inline TSpecs HeavyRecord() {
  TSpecs s = TypicalRecord();
  s.YDespeckle = 4;
  s.CDespeckle = 4;
  s.NoiseMaskYOnly = 0;
  s.MedianLimit = 50;
  s.MedianThreshold = 5;
  s.MedianWhen = 3;
  s.MedianWeighted = 1;
  s.TempFlags = 3;
  s.YSharpness = 40;
  s.CSharpness = 20;
  return s;
}

inline bool RecordByName(const std::string& name, TSpecs& out) {
  if (name == "light") out = LightRecord();
  else if (name == "typical") out = TypicalRecord();
  else if (name == "heavy") out = HeavyRecord();
  else return false;
  return true;
}

}  // namespace tarvo::bench
