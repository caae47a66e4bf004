// Test signals drawn in place of the source picture.
#pragma once

#include <cstdint>

#include "host/specs.h"
#include "planes/pix_buffer.h"

namespace tarvo {

// Draws the pattern chosen by specs.TestSignal (2..7) into every pixel of the
// frame (fourth byte 255); 0 and 1 leave it alone. bandLimit is true when
// rendering for the host and false in the setup dialog.
void DrawTestSignal(TPixBuffer& frame, const TSpecs& specs, bool bandLimit);

// The quarter-half-quarter line filter on n pixels (4 bytes each); the first
// and last pixel and every fourth byte stay unchanged.
void BandLimitLine(uint8_t* line, int32_t n);

}  // namespace tarvo
