#include "util/thread_scratch.h"

namespace tarvo {

namespace {

// A plain pointer: no destructor, so it does not tie the thread to the library.
thread_local ScratchArena* installed = nullptr;

}  // namespace

uint8_t* ScratchArena::Get(ScratchUse use, size_t bytes) {
  std::vector<uint8_t>& b = buffers_[static_cast<int>(use)];
  if (b.size() < bytes) b.resize(bytes);
  return b.data();
}

ScopedScratch::ScopedScratch(ScratchArena& arena) : previous_(installed) { installed = &arena; }

ScopedScratch::~ScopedScratch() { installed = previous_; }

uint8_t* ThreadScratch(ScratchUse use, size_t bytes) {
  if (installed != nullptr) return installed->Get(use, bytes);
  thread_local ScratchArena own;
  return own.Get(use, bytes);
}

}  // namespace tarvo
