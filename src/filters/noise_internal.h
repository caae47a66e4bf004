// Shared pieces of the despeckle and median filters: the pass table, argument
// checks and the entry points of the vectorised kernels.
#pragma once

#include <cstdint>

#include "planes/channel.h"

namespace tarvo::noise {

// The sixteen despeckle passes of one cycle, in order: the neighbour compared
// with, as (dy, dx) with linear offset dy * Width + dx, and the kind of pass.
struct TPassDir {
  int dy;
  int dx;
  bool raise;
};
inline constexpr TPassDir kPasses[16] = {
    {-1, 0, true},  {1, 0, true},  {-1, 0, false},  {1, 0, false},   // up, down
    {0, -1, true},  {0, 1, true},  {0, -1, false},  {0, 1, false},   // left, right
    {-1, -1, true}, {1, 1, true},  {-1, -1, false}, {1, 1, false},   // up-left, down-right
    {-1, 1, true},  {1, -1, true}, {-1, 1, false},  {1, -1, false},  // up-right, down-left
};

// Steps of the despeckle cycles for a clamped strength 1..4 (8-bit units);
// returns the number of cycles.
inline int DespeckleSteps(int strength, int steps[3]) {
  if (strength == 1) {
    steps[0] = 1;
    return 1;
  }
  int n = 0;
  for (int k = strength; k >= 2; --k) steps[n++] = k;
  return n;
}

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

// Vectorised kernels; each returns false when it does not handle the request
// (the caller then runs the reference). Planes are checked and at least 3 x 3.
bool DespeckleSse2(const TChannel& source, TChannel& destination, int strength);
bool DespeckleAvx2(const TChannel& source, TChannel& destination, int strength);
bool MedianSse2(bool weighted, const TChannel& source, TChannel& destination, int maxStep, int threshold);
bool MedianAvx2(bool weighted, const TChannel& source, TChannel& destination, int maxStep, int threshold);

// Reusable scratch memory of the calling thread; grows, never shrinks.
uint8_t* Scratch(size_t bytes);

}  // namespace tarvo::noise
