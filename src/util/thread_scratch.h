// Working memory that kernels borrow per thread (ring rows, a drawing line).
//
// Inside the filter's own work the memory belongs to a ScratchArena that the
// code driving the work installed on its thread: the pipeline's for the
// thread that calls it, each pool worker's own for that worker. A thread then
// keeps nothing of the library once the work is done, which matters for a
// plug-in library: a thread_local object with a destructor pins the library
// in memory for as long as its thread lives, and the pool's threads live until
// the library is unloaded. Outside such work (a test or a benchmark calling a
// kernel directly) a buffer kept per thread serves instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarvo {

// Independent users of scratch memory; one buffer each, so a user never
// receives memory another one is still using on the same thread.
enum class ScratchUse : int { kNoise = 0, kSignal = 1, kCount = 2 };

class ScratchArena {
 public:
  // `bytes` of memory for `use`, valid until the next request for the same
  // use on the same arena; grows and never shrinks, so steady-state requests
  // allocate nothing.
  uint8_t* Get(ScratchUse use, size_t bytes);

 private:
  std::vector<uint8_t> buffers_[static_cast<int>(ScratchUse::kCount)];
};

// Installs `arena` as the calling thread's scratch for the scope's lifetime;
// the arena installed before comes back at the end.
class ScopedScratch {
 public:
  explicit ScopedScratch(ScratchArena& arena);
  ~ScopedScratch();
  ScopedScratch(const ScopedScratch&) = delete;
  ScopedScratch& operator=(const ScopedScratch&) = delete;

 private:
  ScratchArena* previous_;
};

// The calling thread's scratch for `use`: from the installed arena, else from
// a buffer kept per thread.
uint8_t* ThreadScratch(ScratchUse use, size_t bytes);

}  // namespace tarvo
