// Undoing the one write the input conversion makes to the destination.
//
// The input conversion carries each pixel's fourth byte from the source into
// the destination before any stage has run. Should a stage then run out of
// memory, the destination must be left as it was, so those bytes are kept
// aside beforehand and written back. Keeping them costs a pass over the
// destination, so it is done only on frames that may still allocate: new plane
// sizes, or a kind of stage not run since the planes got their sizes. Steady
// frames skip it.
//
// Once the output conversion carries the fourth bytes itself, the destination
// is written only at the end and this class goes away with its two calls in
// the pipeline.
#pragma once

#include <cstdint>
#include <vector>

#include "types/pix_buffer.h"

namespace tarvo {

class FourthByteRollback {
 public:
  // Before the input conversion, once the planes have their sizes.
  // `stages` is the frame's StageBit set; `planesReallocated` tells that a
  // plane got a new buffer for this frame. Throws std::bad_alloc (before
  // anything is written) when the copy cannot be made.
  void Prepare(const TPixBuffer& destination, uint32_t stages, bool planesReallocated);
  // After a failure mid-frame: puts the kept bytes back, if this frame kept
  // them.
  void Undo(TPixBuffer& destination) const;
  // Forgets which stages have run, so that the next frame keeps its bytes
  // (for a new thread whose stage scratch starts empty).
  void ForgetStages() { stagesSeen_ = 0; }

 private:
  std::vector<uint8_t> bytes_;
  int32_t width_ = 0, height_ = 0;
  bool kept_ = false;
  // Kinds of stage run since the planes last got new buffers.
  uint32_t stagesSeen_ = 0;
};

}  // namespace tarvo
