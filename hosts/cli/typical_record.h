// The clean-up settings the demo uses and the speed figures are quoted for:
// the typical record of bench/typical-record.txt, shared with the benchmarks
// and the speed scripts.
#pragma once

#include "tarvo_typical_record.h"

namespace tarvo::cli {

inline constexpr const auto& kTypicalCleanup = kTypicalRecordSettings;

}  // namespace tarvo::cli
