// Shared pieces of the despeckle and median filters: argument checks and
// limits.
#pragma once

#include "planes/channel.h"

namespace tarvo::noise {

// Throws std::invalid_argument when the planes cannot be filtered one into the
// other (different sizes, unknown depth, missing buffer). Returns false when
// there is nothing to do (an empty plane).
bool CheckPlanes(const char* what, const TChannel& source, const TChannel& destination);

// True when the plane is too small for the 3 x 3 neighbourhood.
inline bool TooSmall(const TChannel& c) { return c.Width() < 3 || c.Height() < 3; }

// Median limits brought into a safe range: a negative max step acts as 0 (no
// sample moves), a negative threshold as 0 (only a zero difference stays).
// Values beyond the sample range act the same as the largest useful value.
void NormaliseMedianLimits(int depth, int& maxStep, int& threshold);

}  // namespace tarvo::noise
