// The despeckle cycle: its sixteen passes and the steps per strength, shared by
// the plain and the vector kernels. Internal linkage only (the header is
// included by units built for different instruction sets).
#pragma once

namespace tarvo::noise {
namespace {

// The sixteen despeckle passes of one cycle, in order: the neighbour compared
// with, as (dy, dx) with linear offset dy * Width + dx, and the kind of pass.
struct TPassDir {
  int dy;
  int dx;
  bool raise;
};
constexpr TPassDir kPasses[16] = {
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

}  // namespace
}  // namespace tarvo::noise
