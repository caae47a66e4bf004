// Builds the colour conversion's settings from a clip's record.
#pragma once

#include "types/specs.h"
#include "planes/inout.h"

namespace tarvo {

// The record's levels and corrections; neutral in the neutral case: bypass in
// the dialog or in monitor-only test mode, and every generated test signal.
ColourSettings ColourSettingsOf(const TSpecs& specs, bool inSetup);

}  // namespace tarvo
