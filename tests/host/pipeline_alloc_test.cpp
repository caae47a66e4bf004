// Counts heap allocations while a clip of constant size is rendered: once the
// planes have their sizes, a frame must not allocate.
#include <atomic>
#include <cstdlib>
#include <new>

#include <gtest/gtest.h>

#include "host/pipeline.h"
#include "support/test_support.h"

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
}  // namespace

// The replacements pair malloc with free; the compiler cannot see that the
// operator new above is the one in use and warns about a mismatch.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t n) {
  if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return ::operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace tarvo {
namespace {

TEST(PipelineAllocation, SteadyFramesOfOneSizeAllocateNothing) {
  for (int procMode : {0, 2}) {
    for (uint16_t fieldWord : {0x0000, 0x0100}) {
      SCOPED_TRACE("ProcMode " + std::to_string(procMode) + " field word " + std::to_string(fieldWord));
      Notifier notifier;
      Pipeline pipe(notifier);
      OwnedHandle specs(InProcessHost().NewHandle(kSpecsSize));
      TSpecs& s = *reinterpret_cast<TSpecs*>(*specs.get());
      s = BuiltInDefaultSpecs();
      s.ProcMode = static_cast<int16_t>(procMode);
      s.YDespeckle = 2;
      s.CDespeckle = 2;
      s.NoiseMask = 2;
      s.NoiseMaskYOnly = 0;
      s.MedianLimit = 40;
      s.MedianWhen = 3;
      s.TempYThreshold = 20;
      s.TempCThreshold = 20;
      s.TempFlags = 3;
      s.YSharpness = 30;
      s.CSharpness = 20;
      s.SharpMask = 2;
      CallState call;
      call.total = 50;
      call.changed = true;
      call.fieldWord = fieldWord;
      test::TestFrame src(64, 48), dst(64, 48);
      std::mt19937 rng(test::TestSeed());
      src.FillRandom(rng);
      for (int32_t part = 0; part < 6; ++part) {
        call.part = part;
        if (part >= 3) g_counting = true;
        pipe.Render(src.handle(), dst.handle(), specs.get(), false, call);
        g_counting = false;
      }
      EXPECT_EQ(g_allocations.exchange(0), 0);
      EXPECT_TRUE(pipe.LastHistoryValid());
    }
  }
}

}  // namespace
}  // namespace tarvo
