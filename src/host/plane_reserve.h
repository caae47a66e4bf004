// Plane sizing for the pipeline: every plane a frame needs gets its buffer
// before the destination is touched, so that running out of memory can leave
// the destination as it was.
#pragma once

#include <atomic>
#include <cstdint>

#include "planes/channel.h"

namespace tarvo {

class PlaneReserver {
 public:
  // Gives a plane the size (one allocation at most) and makes sure it holds a
  // buffer; does nothing when it already has both. Throws std::bad_alloc when
  // memory runs out. Safe to call from both chains at once on their own
  // planes.
  void Reserve(TChannel& plane, int32_t width, int32_t height, int32_t depth);

  // Test seam: the n-th allocation from now on (n >= 1) throws
  // std::bad_alloc, as if memory had run out; 0 switches the seam off. Counts
  // only allocations, not re-uses of a buffer of the right size.
  void FailAllocationAt(int n) { failAt_.store(n); }

 private:
  std::atomic<int> failAt_{0};
};

// The pipeline's planes apart from the history.
struct WorkPlanes {
  TChannel y, u, v;
  // The mask and scratch roles at luminance size.
  TChannel mask, scratch;
  // The same roles at chroma size. In the subsampled modes the luminance and
  // colour chains need them at two sizes in every frame; two planes keep both
  // buffers instead of re-allocating twice a frame.
  TChannel chromaMask, chromaScratch;
  // Caller-kept scratch of CreateMask (edges) and Sharpen (blur), per size.
  TChannel lumaEdge, chromaEdge, lumaBlur, chromaBlur;
  // Working rows of the medians' bands (one slice per band).
  TChannel medianRows;
  // The second plane the banded despeckle alternates with, per size.
  TChannel lumaSpare, chromaSpare;
};

}  // namespace tarvo
